// The transport display: what a reading means to a person, and the DOM that
// shows it.

import {
  barGrid,
  barsBeatsTicks,
  barsBeatsTicksAt,
  formatBarBeat,
  formatBarsBeatsTicks,
  musicalPosition,
  TICKS_PER_BEAT,
  usableLoop,
  usableSignature,
  type BarsBeatsTicks,
  type BridgeState,
  type DeliveryPath,
  type MusicalPosition,
  type MusicalSource,
  type PathStatus,
  type Playhead,
  type PlayheadPrediction,
} from '@quillbeat/page-client';

/**
 * - live: readings are arriving and the host's transport is connected
 * - disconnected: readings arrive but the host has not reported a transport yet
 * - stale: there was a reading, but no path has delivered one lately
 * - waiting: the plug-in is there but nothing has arrived yet
 * - no-bridge: the page runs outside the plug-in (the development server)
 */
export type DisplayMode = 'live' | 'disconnected' | 'stale' | 'waiting' | 'no-bridge';

/** The fields that follow the play head, at reading rate or at frame rate. */
export interface PositionViewModel {
  position: string;
  bbt: string;
  bbtNote: string;
  /** Beats in the current bar, for the beat grid; null without a usable signature. */
  beatsPerBar: number | null;
  /** How far through the bar the play head is, 0 ..< 1; null when unknown. */
  barFraction: number | null;
}

export interface TransportViewModel extends PositionViewModel {
  mode: DisplayMode;
  banner: { title: string; detail: string } | null;
  playing: boolean;
  recording: boolean;
  playLabel: string;
  recordLabel: string;
  tempo: string;
  meter: string;
  /** "Loop 9.1 – 11.1", "Loop off", ... */
  loop: string;
  looping: boolean;
  diagnostics: string;
}

const DASH = '\u2014';
const TICKS_NOTE = `${TICKS_PER_BEAT} ticks per beat`;
const BBT_NOTE = `assuming a constant tempo \u00b7 ${TICKS_NOTE}`;
const NO_BBT_NOTE = 'needs a tempo and time signature from the host';

const SOURCE_NOTES: Record<MusicalSource, string> = {
  host: `from the host \u00b7 ${TICKS_NOTE}`,
  derived: `host position, bars counted from the time signature \u00b7 ${TICKS_NOTE}`,
  estimate: `estimate assuming a constant tempo \u00b7 ${TICKS_NOTE}`,
};

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
  // Plug-ins from before the extended reading do not offer getPlayhead: nothing to say then.
  if (state.playheadCall !== 'unavailable') parts.push(`getPlayhead ${state.playheadCall}`);
  if (state.updateRateHz !== null) parts.push(`${state.updateRateHz.toFixed(1)} updates/s`);
  if (state.transport !== null) parts.push(`block ${state.transport.debugBlockCount}`);
  const rejected =
    state.paths.event.rejected + state.paths.assignment.rejected + state.paths.nativeFunction.rejected + state.playheadRejected;
  if (rejected > 0) parts.push(`${rejected} malformed ignored`);
  return parts.join(' \u00b7 ');
}

/** "1:05.250", as the plug-in renders positions; "-0:01.500" before the start. */
export function formatSeconds(seconds: number): string {
  const ms = Math.round(Math.abs(seconds) * 1000);
  const minutes = Math.floor(ms / 60000);
  const rest = ms - minutes * 60000;
  const sign = seconds < 0 && ms > 0 ? '-' : '';
  return `${sign}${minutes}:${String(Math.floor(rest / 1000)).padStart(2, '0')}.${String(rest % 1000).padStart(3, '0')}`;
}

function barFraction(bbt: BarsBeatsTicks, beatsPerBar: number): number {
  return ((bbt.beat - 1) * TICKS_PER_BEAT + bbt.tick) / (beatsPerBar * TICKS_PER_BEAT);
}

/** The play head fields for a position of `reading` (the reading's own, or a predicted one). */
export function describePosition(
  reading: Playhead,
  positionSecs: number | null,
  musical: MusicalPosition | null,
): PositionViewModel {
  const signature = usableSignature(reading);
  const beatsPerBar = signature?.num ?? null;
  return {
    position: positionSecs === null ? DASH : formatSeconds(positionSecs),
    bbt: musical === null ? DASH : formatBarsBeatsTicks(musical),
    bbtNote: musical === null ? NO_BBT_NOTE : SOURCE_NOTES[musical.source],
    beatsPerBar,
    barFraction: musical === null || beatsPerBar === null ? null : barFraction(musical, beatsPerBar),
  };
}

export function describePrediction(reading: Playhead, prediction: PlayheadPrediction): PositionViewModel {
  return describePosition(reading, prediction.positionSecs, prediction.musical);
}

function formatLoopEdge(bbt: BarsBeatsTicks): string {
  return bbt.tick === 0 ? formatBarBeat(bbt) : formatBarsBeatsTicks(bbt);
}

/** The loop indicator: its range in bars and beats on the reading's bar grid. */
export function describeLoop(reading: Playhead | null): string {
  if (reading === null || reading.looping === null) return `Loop ${DASH}`;
  if (!reading.looping) return 'Loop off';
  const loop = usableLoop(reading);
  if (loop === null) return 'Loop on';
  const grid = barGrid(reading) ?? barGrid({ ...reading, ppqPosition: loop.start, ppqLastBarStart: null });
  if (grid === null) return 'Loop on';
  return `Loop ${formatLoopEdge(barsBeatsTicksAt(grid, loop.start))} \u2013 ${formatLoopEdge(barsBeatsTicksAt(grid, loop.end))}`;
}

const NO_POSITION: PositionViewModel = { position: DASH, bbt: DASH, bbtNote: BBT_NOTE, beatsPerBar: null, barFraction: null };

export function describeTransport(state: BridgeState): TransportViewModel {
  const mode = modeOf(state);
  const t = state.transport;
  const p = state.playhead !== null && state.playhead.connected ? state.playhead : null;
  const base = {
    mode,
    banner: BANNERS[mode],
    diagnostics: describeDiagnostics(state),
    loop: describeLoop(p),
    looping: p?.looping === true,
  };

  if (t === null || !t.connected) {
    return {
      ...base,
      ...NO_POSITION,
      playing: false,
      recording: false,
      playLabel: 'Stopped',
      recordLabel: 'Not recording',
      tempo: `${DASH} bpm`,
      meter: DASH,
    };
  }

  const common = {
    ...base,
    playing: t.playing,
    recording: t.recording,
    playLabel: t.playing ? 'Playing' : 'Stopped',
    recordLabel: t.recording ? 'Recording' : 'Not recording',
    tempo: t.bpm > 0 ? `${t.bpm.toFixed(1)} bpm` : `${DASH} bpm`,
    meter: `${t.timeSigNum}/${t.timeSigDen}`,
  };
  if (p !== null) return { ...common, ...describePosition(p, p.positionSecs, musicalPosition(p)) };

  // A plug-in without the extended reading: today's estimate from seconds.
  const bbt = barsBeatsTicks(t.positionSecs, t.bpm, t.timeSigNum, t.timeSigDen);
  const signature = usableSignature(t);
  return {
    ...common,
    position: t.positionFormatted,
    bbt: bbt === null ? DASH : formatBarsBeatsTicks(bbt),
    bbtNote: bbt === null ? NO_BBT_NOTE : BBT_NOTE,
    beatsPerBar: signature?.num ?? null,
    barFraction: bbt === null || signature === null ? null : barFraction(bbt, signature.num),
  };
}

const TEMPLATE = `
<header class="topbar">
  <span class="brand">Quillbeat</span>
  <span class="pills">
    <span class="pill play" id="play-state"><span class="icon" aria-hidden="true"></span><span class="text"></span></span>
    <span class="pill rec" id="record-state"><span class="icon" aria-hidden="true"></span><span class="text"></span></span>
    <span class="pill loop" id="loop-state"><span class="icon" aria-hidden="true"></span><span class="text"></span></span>
    <label class="pill switch" title="Move the play head smoothly between the host's readings">
      <input type="checkbox" id="smooth-switch" checked /><span>Smooth</span>
    </label>
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
    <div class="beat-grid" id="beat-grid" aria-hidden="true"><div class="beats"></div><div class="fill" id="playhead-fill"></div></div>
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
  /** Shows a bridge state; its position fields too, unless a moving play head is being shown. */
  update(state: BridgeState): void;
  /**
   * Shows a moving play head; until it is called with null, the position
   * fields follow only these calls. Without `withText` only the bar's
   * cursor moves and the digits stay as they are.
   */
  showPlayhead(position: PositionViewModel | null, withText?: boolean): void;
  /** The switch for the smooth play head. */
  smoothSwitch: HTMLInputElement;
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
  const beats = find('#beat-grid .beats');
  const fill = find('#playhead-fill');
  const smoothSwitch = find('#smooth-switch') as HTMLInputElement;
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
    loopText: find('#loop-state .text'),
    diagnostics: find('#diagnostics'),
  };

  let beatCells = -1;
  let fillShown: string | null = null;
  let moving = false;

  // Runs at frame rate while the play head moves: text only where it
  // changed, the bar's fill by a transform (no layout), the grid only when
  // the signature changes.
  function showPosition(m: PositionViewModel, withText = true): void {
    if (withText) {
      setText(fields.position, m.position);
      setText(fields.bbt, m.bbt);
      setText(fields.bbtNote, m.bbtNote);
    }
    const cells = m.beatsPerBar ?? 0;
    if (cells !== beatCells) {
      beatCells = cells;
      beats.replaceChildren(...Array.from({ length: cells }, () => document.createElement('span')));
    }
    const transform = m.barFraction === null ? null : `scaleX(${m.barFraction.toFixed(4)})`;
    if (transform !== fillShown) {
      fillShown = transform;
      fill.hidden = transform === null;
      if (transform !== null) fill.style.transform = transform;
    }
  }

  return {
    smoothSwitch,
    update(state) {
      const m = describeTransport(state);
      root.dataset.mode = m.mode;
      root.dataset.playing = String(m.playing);
      root.dataset.recording = String(m.recording);
      root.dataset.looping = String(m.looping);
      setText(fields.playText, m.playLabel);
      setText(fields.recordText, m.recordLabel);
      setText(fields.loopText, m.loop);
      banner.hidden = m.banner === null;
      setText(fields.bannerTitle, m.banner?.title ?? '');
      setText(fields.bannerDetail, m.banner?.detail ?? '');
      if (!moving) showPosition(m);
      setText(fields.tempo, m.tempo);
      setText(fields.meter, m.meter);
      setText(fields.diagnostics, m.diagnostics);
    },
    showPlayhead(position, withText = true) {
      moving = position !== null;
      if (position !== null) showPosition(position, withText);
    },
  };
}
