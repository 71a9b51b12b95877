// Drawing the sound: level meters, the spectrum and the bar's waveform, each
// a whole redraw of one canvas from plain numbers. Sizes are in the canvas's
// own pixels (its CSS size times the device pixel ratio).

import { bandEdgesHz, SPECTRUM_LOW_HZ, SPECTRUM_TOP_HZ, type AnalysisFrame } from '@quillbeat/page-client';

const COLOURS = {
  panel: '#161628',
  line: '#26264a',
  muted: '#8c8cab',
  level: '#3ddc97',
  peak: 'rgba(61, 220, 151, 0.35)',
  hot: '#ffc24d',
  clip: '#ff4d61',
  spectrum: 'rgba(140, 124, 255, 0.55)',
  spectrumEdge: '#8c7cff',
  waveform: 'rgba(61, 220, 151, 0.6)',
};

/** The meters show this range, dBFS. */
export const METER_FLOOR_DB = -60;
export const METER_TOP_DB = 0;
/** Above this a meter turns from green to amber. */
const METER_HOT_DB = -6;
/** The spectrum shows this range, dBFS. */
export const SPECTRUM_FLOOR_DB = -100;
export const SPECTRUM_CEILING_DB = 0;

export interface MeterShown {
  peakDb: number;
  rmsDb: number;
  peakHoldDb: number;
  clipLit: boolean;
}

function heightOf(db: number, floor: number, top: number): number {
  return Math.min(1, Math.max(0, (db - floor) / (top - floor)));
}

/** One vertical meter per channel: the peak dim, the RMS solid, the held peak as a line, a clip lamp on top. */
export function drawMeters(ctx: CanvasRenderingContext2D, width: number, height: number, meters: readonly MeterShown[]): void {
  ctx.clearRect(0, 0, width, height);
  // Before the first frame, two empty meters: most tracks are stereo.
  const channels = meters.length > 0 ? meters.length : 2;
  const gap = Math.max(2, Math.round(width * 0.08));
  const barWidth = (width - gap * (channels + 1)) / channels;
  const lamp = Math.max(3, Math.round(height * 0.04));
  const body = height - lamp - gap;

  for (let c = 0; c < channels; c++) {
    const x = gap + c * (barWidth + gap);
    const m = meters[c];
    ctx.fillStyle = COLOURS.line;
    ctx.fillRect(x, lamp + gap, barWidth, body);
    ctx.fillStyle = m?.clipLit ? COLOURS.clip : COLOURS.line;
    ctx.fillRect(x, 0, barWidth, lamp);
    if (m === undefined) continue;

    const bottom = lamp + gap + body;
    const peak = heightOf(m.peakDb, METER_FLOOR_DB, METER_TOP_DB) * body;
    const rms = heightOf(m.rmsDb, METER_FLOOR_DB, METER_TOP_DB) * body;
    const hold = heightOf(m.peakHoldDb, METER_FLOOR_DB, METER_TOP_DB) * body;
    ctx.fillStyle = COLOURS.peak;
    ctx.fillRect(x, bottom - peak, barWidth, peak);
    ctx.fillStyle = m.rmsDb > METER_HOT_DB ? COLOURS.hot : COLOURS.level;
    ctx.fillRect(x, bottom - rms, barWidth, rms);
    if (hold > 0) {
      ctx.fillStyle = m.peakHoldDb >= METER_TOP_DB ? COLOURS.clip : m.peakHoldDb > METER_HOT_DB ? COLOURS.hot : COLOURS.level;
      ctx.fillRect(x, bottom - hold, barWidth, Math.max(1, Math.round(height * 0.01)));
    }
  }
}

/** Where `hz` lies across the spectrum's logarithmic axis, 0 at 20 Hz and 1 at 20 kHz. */
export function spectrumX(hz: number): number {
  return Math.log(hz / SPECTRUM_LOW_HZ) / Math.log(SPECTRUM_TOP_HZ / SPECTRUM_LOW_HZ);
}

const GRID_HZ: readonly [number, string][] = [
  [100, '100'],
  [1000, '1k'],
  [10000, '10k'],
];

/** The spectrum as steps across a logarithmic frequency axis, with a few frequency marks; empty without bands. */
export function drawSpectrum(
  ctx: CanvasRenderingContext2D,
  width: number,
  height: number,
  geometry: Pick<AnalysisFrame, 'sampleRate' | 'spectrum'> | null,
  bandsDb: readonly number[],
  pixelRatio: number,
): void {
  ctx.clearRect(0, 0, width, height);
  ctx.fillStyle = COLOURS.line;
  ctx.font = `${Math.round(10 * pixelRatio)}px system-ui, sans-serif`;
  ctx.textBaseline = 'bottom';
  for (const [hz, label] of GRID_HZ) {
    const x = Math.round(spectrumX(hz) * width);
    ctx.fillRect(x, 0, 1, height);
    ctx.fillStyle = COLOURS.muted;
    ctx.fillText(label, x + 3 * pixelRatio, height - 2 * pixelRatio);
    ctx.fillStyle = COLOURS.line;
  }

  const edges = geometry === null ? [] : bandEdgesHz(geometry);
  if (edges.length < 2 || bandsDb.length === 0) return;
  const y = (db: number): number => height * (1 - heightOf(db, SPECTRUM_FLOOR_DB, SPECTRUM_CEILING_DB));
  ctx.beginPath();
  ctx.moveTo(spectrumX(edges[0] as number) * width, height);
  for (let i = 0; i < bandsDb.length && i + 1 < edges.length; i++) {
    const top = y(bandsDb[i] as number);
    ctx.lineTo(spectrumX(edges[i] as number) * width, top);
    ctx.lineTo(spectrumX(edges[i + 1] as number) * width, top);
  }
  ctx.lineTo(spectrumX(edges[Math.min(bandsDb.length, edges.length - 1)] as number) * width, height);
  ctx.closePath();
  ctx.fillStyle = COLOURS.spectrum;
  ctx.fill();
  ctx.strokeStyle = COLOURS.spectrumEdge;
  ctx.lineWidth = pixelRatio;
  ctx.stroke();
}

/** The bar's columns as a band around the middle line, sample values ±1 at the edges; empty columns left blank. */
export function drawBarWaveform(ctx: CanvasRenderingContext2D, width: number, height: number, min: Float32Array, max: Float32Array): void {
  ctx.clearRect(0, 0, width, height);
  const middle = height / 2;
  ctx.fillStyle = COLOURS.line;
  ctx.fillRect(0, Math.floor(middle), width, 1);
  ctx.fillStyle = COLOURS.waveform;
  const columns = min.length;
  const columnWidth = width / columns;
  for (let i = 0; i < columns; i++) {
    const low = min[i] as number;
    const high = max[i] as number;
    if (Number.isNaN(low) || Number.isNaN(high)) continue;
    const top = middle - Math.min(1, Math.max(-1, high)) * middle;
    const bottom = middle - Math.min(1, Math.max(-1, low)) * middle;
    ctx.fillRect(i * columnWidth, top, Math.max(1, columnWidth), Math.max(1, bottom - top));
  }
}
