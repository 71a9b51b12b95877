// The sound passing through the plug-in: level meters and a spectrum beside
// them, and a strip under the beat grid with the current bar's waveform. The
// page asks for analysis as it loads and draws on one requestAnimationFrame
// chain: one frame per analysis frame while they come, and after they stop
// (the host stopped processing, the view was hidden) every display frame
// while the meters and spectrum fall to rest, STREAM_QUIET_MS later. Then
// nothing is scheduled.

import {
  ANALYSIS_FLOOR_DB,
  createMeterBallistics,
  createSpectrumSmoother,
  type AnalysisClient,
  type AnalysisFrame,
  type AnalysisSettings,
  type MeterBallistics,
  type SpectrumSmoother,
  type TransportBridge,
} from '@quillbeat/page-client';
import { drawBarWaveform, drawMeters, drawSpectrum, type MeterShown } from './analysisDrawing';
import { createBarWaveform } from './barWaveform';

/** What our page asks for: every part, at 30 frames a second; few waveform slices, as the strip folds them into columns anyway. */
export const PAGE_ANALYSIS: AnalysisSettings = { levels: true, spectrum: true, waveform: true, framesPerSecond: 30, waveformSlices: 64 };

/** No frame for this long means the stream stopped: the meters fall to rest. About four frames at the slowest rate. */
export const STREAM_QUIET_MS = 250;
/** A clip lamp stays lit this long after the last clipped frame. */
export const CLIP_LAMP_MS = 2000;

const METER_HOLD_MS = 1500;
const METER_FALL_DB_PER_SECOND = 24;

export interface AnalysisDisplay {
  /** Canvas redraws so far, for tests. */
  draws(): number;
  /** Whether a frame is requested right now. */
  animating(): boolean;
  /** The line under the spectrum. */
  status(): string;
  dispose(): void;
}

export interface AnalysisDisplayOptions {
  client: AnalysisClient;
  bridge: TransportBridge;
  now?: () => number;
}

const TEMPLATE = `
<div class="meters" title="Peak (dim), RMS (solid) and the held peak per channel, 0 to -60 dBFS">
  <canvas id="meters-canvas"></canvas>
</div>
<div class="spectrum">
  <canvas id="spectrum-canvas"></canvas>
  <span class="note" id="analysis-status"></span>
</div>
`;

interface Surface {
  canvas: HTMLCanvasElement;
  ctx: CanvasRenderingContext2D | null;
  dirty: boolean;
}

function surface(canvas: HTMLCanvasElement): Surface {
  return { canvas, ctx: canvas.getContext('2d'), dirty: true };
}

/** Matches the canvas's pixels to its size on screen; true when they changed. */
function fit(s: Surface): boolean {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(s.canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(s.canvas.clientHeight * ratio));
  if (s.canvas.width === width && s.canvas.height === height) return false;
  s.canvas.width = width;
  s.canvas.height = height;
  return true;
}

function describeRate(hz: number): string {
  return `${(hz / 1000).toFixed(hz % 1000 === 0 ? 0 : 1)} kHz`;
}

/** Adds the meters and spectrum to `root` and the waveform strip under the beat grid, and asks the plug-in for analysis. */
export function mountAnalysisDisplay(root: HTMLElement, options: AnalysisDisplayOptions): AnalysisDisplay {
  const { client, bridge } = options;
  const now = options.now ?? (() => performance.now());

  const section = document.createElement('section');
  section.className = 'analysis';
  section.innerHTML = TEMPLATE;
  root.append(section);
  const strip = document.createElement('canvas');
  strip.id = 'waveform-canvas';
  strip.className = 'bar-waveform';
  strip.title = "This bar's sound";
  root.querySelector('#beat-grid')?.after(strip);

  const meters = surface(section.querySelector('#meters-canvas') as HTMLCanvasElement);
  const spectrum = surface(section.querySelector('#spectrum-canvas') as HTMLCanvasElement);
  const waveform = surface(strip);
  const surfaces = [meters, spectrum, waveform];
  const statusLine = section.querySelector('#analysis-status') as HTMLElement;

  const peakMeters: MeterBallistics[] = [];
  const rmsMeters: MeterBallistics[] = [];
  const clipUntil: number[] = [];
  const smoother: SpectrumSmoother = createSpectrumSmoother({ attackMs: 10, releaseMs: 300 });
  const bar = createBarWaveform();
  const floorRow: number[] = [];

  let latest: AnalysisFrame | null = null;
  let latestAt = Number.NEGATIVE_INFINITY;
  let fresh = false;
  let settling = false;
  let requested: number | null = null;
  let quietTimer: ReturnType<typeof setTimeout> | undefined;
  let draws = 0;
  let status = '';
  let disposed = false;

  function say(text: string): void {
    status = text;
    if (statusLine.textContent !== text) statusLine.textContent = text;
  }

  function schedule(): void {
    if (requested === null && !disposed) requested = requestAnimationFrame(draw);
  }

  function metersFor(channels: number): void {
    while (peakMeters.length < channels) {
      peakMeters.push(createMeterBallistics({ holdMs: METER_HOLD_MS, fallDbPerSecond: METER_FALL_DB_PER_SECOND }));
      rmsMeters.push(createMeterBallistics({ holdMs: 0, fallDbPerSecond: METER_FALL_DB_PER_SECOND }));
      clipUntil.push(Number.NEGATIVE_INFINITY);
    }
  }

  function draw(pageTimeMs: number): void {
    requested = null;
    const t = Math.max(pageTimeMs, now());
    const quiet = t - latestAt > STREAM_QUIET_MS;
    const frame = latest;
    let moving = false;

    for (const s of surfaces) if (fit(s)) s.dirty = true;

    if (frame !== null && (fresh || settling || meters.dirty || spectrum.dirty)) {
      const shown: MeterShown[] = [];
      const channels = frame.levels?.length ?? 0;
      for (let c = 0; c < channels; c++) {
        const levels = frame.levels?.[c];
        const peak = (peakMeters[c] as MeterBallistics).update(quiet || !levels ? ANALYSIS_FLOOR_DB : levels.peakDb, t);
        const rms = (rmsMeters[c] as MeterBallistics).update(quiet || !levels ? ANALYSIS_FLOOR_DB : levels.rmsDb, t);
        const clipLit = t < (clipUntil[c] as number);
        moving ||= peak.moving || rms.moving || clipLit;
        shown.push({ peakDb: peak.level, rmsDb: rms.level, peakHoldDb: peak.peakHold, clipLit });
      }
      if (meters.ctx !== null) drawMeters(meters.ctx, meters.canvas.width, meters.canvas.height, shown);
      meters.dirty = false;

      const row = frame.spectrum?.db[0];
      if (row !== undefined) {
        if (floorRow.length !== row.length) floorRow.splice(0, floorRow.length, ...row.map(() => ANALYSIS_FLOOR_DB));
        const smoothed = smoother.update(quiet ? floorRow : row, t);
        moving ||= smoothed.moving;
        if (spectrum.ctx !== null) drawSpectrum(spectrum.ctx, spectrum.canvas.width, spectrum.canvas.height, frame, smoothed.bands, window.devicePixelRatio || 1);
        spectrum.dirty = false;
      }
      draws++;
    }
    // Before the first frame, or without a part: the empty views.
    if (meters.dirty && meters.ctx !== null) {
      drawMeters(meters.ctx, meters.canvas.width, meters.canvas.height, []);
      meters.dirty = false;
      draws++;
    }
    if (spectrum.dirty && spectrum.ctx !== null) {
      drawSpectrum(spectrum.ctx, spectrum.canvas.width, spectrum.canvas.height, null, [], window.devicePixelRatio || 1);
      spectrum.dirty = false;
      draws++;
    }
    if (waveform.dirty && waveform.ctx !== null) {
      drawBarWaveform(waveform.ctx, waveform.canvas.width, waveform.canvas.height, bar.min, bar.max);
      waveform.dirty = false;
      draws++;
    }

    fresh = false;
    settling = moving;
    // While frames flow, each brings its own redraw: drawing between them too
    // would double the cost for a fall nobody can tell from the next frame's.
    if (moving && quiet) schedule();
  }

  function onFrame(frame: AnalysisFrame, arrivedAtMs: number): void {
    latest = frame;
    latestAt = arrivedAtMs;
    fresh = true;
    metersFor(frame.levels?.length ?? 0);
    frame.levels?.forEach((l, c) => {
      if (l.clipped) clipUntil[c] = arrivedAtMs + CLIP_LAMP_MS;
    });
    if (bar.add(frame, bridge.state().playhead)) waveform.dirty = true;
    const dropped = frame.droppedSamples > 0 ? ` \u00b7 ${frame.droppedSamples} samples dropped` : '';
    say(`${describeRate(frame.sampleRate)} \u00b7 ${frame.channels === 2 ? 'stereo' : 'mono'}${dropped}`);
    // The stream's end brings no event: a timer notices it, so the meters can fall.
    clearTimeout(quietTimer);
    quietTimer = setTimeout(() => {
      settling = true;
      schedule();
    }, STREAM_QUIET_MS + 1);
    schedule();
  }

  const unsubscribe = client.subscribe(onFrame);
  const resizes = typeof ResizeObserver === 'undefined' ? null : new ResizeObserver(() => schedule());
  for (const s of surfaces) resizes?.observe(s.canvas);
  schedule();

  say('Asking the plug-in for the sound\u2026');
  client.setAnalysis(PAGE_ANALYSIS).then(
    () => {
      if (latest === null) say('Waiting for sound');
    },
    (e: unknown) => {
      if (!('__JUCE__' in window)) say('No sound outside the plug-in');
      else say(`No sound: ${e instanceof Error ? e.message : String(e)}`);
    },
  );

  return {
    draws: () => draws,
    animating: () => requested !== null,
    status: () => status,
    dispose() {
      disposed = true;
      unsubscribe();
      resizes?.disconnect();
      clearTimeout(quietTimer);
      if (requested !== null) cancelAnimationFrame(requested);
      requested = null;
    },
  };
}
