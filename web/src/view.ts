// The transport display: what a reading means to a person, and the DOM that
// shows it.

import type { BridgeState, DeliveryPath, PathStatus } from './bridge';
import { barsBeatsTicks, formatBarsBeatsTicks, TICKS_PER_BEAT } from './musicalTime';

/**
 * - live: readings are arriving and the host's transport is connected
 * - disconnected: readings arrive but the host has not reported a transport yet
 * - stale: there was a reading, but no path has delivered one lately
 * - waiting: the plug-in is there but nothing has arrived yet
 * - no-bridge: the page runs outside the plug-in (the development server)
 */
export type DisplayMode = 'live' | 'disconnected' | 'stale' | 'waiting' | 'no-bridge';

export interface TransportViewModel {
  mode: DisplayMode;
  banner: { title: string; detail: string } | null;
  playing: boolean;
  recording: boolean;
  playLabel: string;
  recordLabel: string;
  tempo: string;
  meter: string;
  position: string;
  bbt: string;
  bbtNote: string;
  diagnostics: string;
}

const DASH = '\u2014';
const BBT_NOTE = `assuming a constant tempo \u00b7 ${TICKS_PER_BEAT} ticks per beat`;

const PATH_LABELS: Record<DeliveryPath, string> = {
  event: 'event',
  assignment: 'assignment',
  nativeFunction: 'getTransport',
};

function modeOf(state: BridgeState): DisplayMode {
  const t = state.transport;
  if (t === null) return state.nativeBridge ? 'waiting' : 'no-bridge';
  if (!state.fresh) return 'stale';
  return t.connected ? 'live' : 'disconnected';
}

const BANNERS: Record<DisplayMode, TransportViewModel['banner']> = {
  live: null,
  disconnected: {
    title: 'No host transport yet',
    detail: 'The host has not reported its play head to Quillbeat. Start playback, or let the host run audio through the plug-in.',
  },
  stale: {
    title: 'Transport updates paused',
    detail: 'No reading has arrived for a moment; the values below are the last ones received.',
  },
  waiting: {
    title: 'Waiting for the plug-in',
    detail: 'No transport reading has arrived yet.',
  },
  'no-bridge': {
    title: 'No native bridge',
    detail: 'This page is running outside the plug-in (development server). Open it in the plug-in editor to see the host transport.',
  },
};

function formatRate(hz: number | null): string {
  return hz === null ? '' : `${hz.toFixed(1)}/s`;
}

function describePath(path: DeliveryPath, status: PathStatus, state: BridgeState): string {
  const label = PATH_LABELS[path];
  if (path === 'nativeFunction') {
    return `${label} ${state.nativeCall === 'unavailable' ? 'unavailable' : state.nativeCall}`;
  }
  if (!status.live) return `${label} idle`;
  return `${label} ${formatRate(status.rateHz) || 'live'}`;
}

function describeDiagnostics(state: BridgeState): string {
  const parts: string[] = [];
  if (!state.nativeBridge) parts.push('no native bridge');
  parts.push(describePath('event', state.paths.event, state));
  parts.push(describePath('assignment', state.paths.assignment, state));
  parts.push(describePath('nativeFunction', state.paths.nativeFunction, state));
  if (state.updateRateHz !== null) parts.push(`${state.updateRateHz.toFixed(1)} updates/s`);
  if (state.transport !== null) parts.push(`block ${state.transport.debugBlockCount}`);
  const rejected = state.paths.event.rejected + state.paths.assignment.rejected + state.paths.nativeFunction.rejected;
  if (rejected > 0) parts.push(`${rejected} malformed ignored`);
  return parts.join(' \u00b7 ');
}

export function describeTransport(state: BridgeState): TransportViewModel {
  const mode = modeOf(state);
  const t = state.transport;
  const base = {
    mode,
    banner: BANNERS[mode],
    diagnostics: describeDiagnostics(state),
    bbtNote: BBT_NOTE,
  };

  if (t === null || !t.connected) {
    return {
      ...base,
      playing: false,
      recording: false,
      playLabel: 'Stopped',
      recordLabel: 'Not recording',
      tempo: `${DASH} bpm`,
      meter: DASH,
      position: DASH,
      bbt: DASH,
    };
  }

  const bbt = barsBeatsTicks(t.positionSecs, t.bpm, t.timeSigNum, t.timeSigDen);
  return {
    ...base,
    playing: t.playing,
    recording: t.recording,
    playLabel: t.playing ? 'Playing' : 'Stopped',
    recordLabel: t.recording ? 'Recording' : 'Not recording',
    tempo: t.bpm > 0 ? `${t.bpm.toFixed(1)} bpm` : `${DASH} bpm`,
    meter: `${t.timeSigNum}/${t.timeSigDen}`,
    position: t.positionFormatted,
    bbt: bbt === null ? DASH : formatBarsBeatsTicks(bbt),
    bbtNote: bbt === null ? 'needs a tempo and time signature from the host' : BBT_NOTE,
  };
}

const TEMPLATE = `
<header class="topbar">
  <span class="brand">Quillbeat</span>
  <span class="pills">
    <span class="pill play" id="play-state"><span class="icon" aria-hidden="true"></span><span class="text"></span></span>
    <span class="pill rec" id="record-state"><span class="icon" aria-hidden="true"></span><span class="text"></span></span>
  </span>
</header>
<div class="banner" id="banner" role="status" hidden>
  <strong class="banner-title"></strong>
  <span class="banner-detail"></span>
</div>
<section class="readouts">
  <div class="readout primary">
    <div class="label">Position</div>
    <div class="value" id="position"></div>
    <div class="note">minutes : seconds . milliseconds</div>
  </div>
  <div class="readout primary">
    <div class="label">Bar &middot; beat &middot; tick</div>
    <div class="value" id="bbt"></div>
    <div class="note" id="bbt-note"></div>
  </div>
  <div class="readout">
    <div class="label">Tempo</div>
    <div class="value" id="tempo"></div>
  </div>
  <div class="readout">
    <div class="label">Time signature</div>
    <div class="value" id="meter"></div>
  </div>
</section>
<footer class="diagnostics" id="diagnostics"></footer>
`;

export interface TransportView {
  update(state: BridgeState): void;
}

/** Builds the display inside `root` and returns its updater. */
export function mountTransportView(root: HTMLElement): TransportView {
  root.classList.add('deck');
  root.innerHTML = TEMPLATE;

  const find = (selector: string): HTMLElement => {
    const el = root.querySelector<HTMLElement>(selector);
    if (el === null) throw new Error(`missing ${selector}`);
    return el;
  };
  const setText = (el: HTMLElement, text: string): void => {
    if (el.textContent !== text) el.textContent = text;
  };

  const banner = find('#banner');
  const fields = {
    playText: find('#play-state .text'),
    recordText: find('#record-state .text'),
    bannerTitle: find('#banner .banner-title'),
    bannerDetail: find('#banner .banner-detail'),
    position: find('#position'),
    bbt: find('#bbt'),
    bbtNote: find('#bbt-note'),
    tempo: find('#tempo'),
    meter: find('#meter'),
    diagnostics: find('#diagnostics'),
  };

  return {
    update(state) {
      const m = describeTransport(state);
      root.dataset.mode = m.mode;
      root.dataset.playing = String(m.playing);
      root.dataset.recording = String(m.recording);
      setText(fields.playText, m.playLabel);
      setText(fields.recordText, m.recordLabel);
      banner.hidden = m.banner === null;
      setText(fields.bannerTitle, m.banner?.title ?? '');
      setText(fields.bannerDetail, m.banner?.detail ?? '');
      setText(fields.position, m.position);
      setText(fields.bbt, m.bbt);
      setText(fields.bbtNote, m.bbtNote);
      setText(fields.tempo, m.tempo);
      setText(fields.meter, m.meter);
      setText(fields.diagnostics, m.diagnostics);
    },
  };
}
