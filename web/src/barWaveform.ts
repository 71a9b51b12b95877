// The sound of the current bar, column by column: each analysis frame's
// waveform slices are placed where they fall in the bar (from the frame's
// quarter notes and the playhead's bar grid) and kept as the smallest and
// largest sample per column, so the strip under the beat grid fills in as the
// bar plays and starts empty with the next one.

import {
  barGrid,
  frameMusicalPosition,
  type AnalysisFrame,
  type BarGrid,
  type Playhead,
} from '@quillbeat/page-client';

/** Columns per bar, however wide the strip is drawn. */
export const BAR_WAVEFORM_COLUMNS = 256;

export interface BarWaveform {
  /** Per column, the smallest and largest sample of any channel; NaN where nothing has been heard yet. */
  readonly min: Float32Array;
  readonly max: Float32Array;
  /** The bar the columns belong to; null before the first frame that could be placed. */
  bar(): number | null;
  /**
   * Places `frame`'s slices, using `reading` (the newest playhead) for the bar
   * grid and tempo. Only while the reading says the host plays: a stopped
   * host's audio has no place in a bar. True when a column changed.
   */
  add(frame: AnalysisFrame, reading: Playhead | null): boolean;
  clear(): void;
}

/** The bar number and how far through it (0 ..< 1) quarter note `ppq` lies. */
function placeInBar(grid: BarGrid, ppq: number): { bar: number; fraction: number } {
  const bars = (ppq - grid.barStartPpq) / grid.quarterNotesPerBar;
  const whole = Math.floor(bars);
  return { bar: grid.barNumber + whole, fraction: bars - whole };
}

export function createBarWaveform(columns = BAR_WAVEFORM_COLUMNS): BarWaveform {
  const min = new Float32Array(columns).fill(Number.NaN);
  const max = new Float32Array(columns).fill(Number.NaN);
  let bar: number | null = null;

  function startBar(next: number): void {
    bar = next;
    min.fill(Number.NaN);
    max.fill(Number.NaN);
  }

  return {
    min,
    max,
    bar: () => bar,
    add(frame, reading) {
      const waveform = frame.waveform;
      if (waveform === null || reading === null || reading.playing !== true || reading.bpm === null) return false;
      const position = frameMusicalPosition(frame, reading);
      const grid = barGrid(reading) ?? (position.ppqPosition === null ? null : barGrid({ ...reading, ppqPosition: position.ppqPosition, ppqLastBarStart: null, barCount: null }));
      if (position.ppqPosition === null || grid === null) return false;

      const slices = waveform.min[0]?.length ?? 0;
      const spanQn = ((frame.samples / frame.sampleRate) * reading.bpm) / 60;
      // The stamp is the newest block's start: the slices lead up to it.
      const firstPpq = position.ppqPosition - spanQn;
      let changed = false;
      for (let s = 0; s < slices; s++) {
        const place = placeInBar(grid, firstPpq + ((s + 0.5) / slices) * spanQn);
        // Slices come in order, so another bar is the next one, a loop's start or a seek: it starts afresh.
        if (place.bar !== bar) {
          startBar(place.bar);
          changed = true;
        }
        const column = Math.min(columns - 1, Math.floor(place.fraction * columns));
        let low = Number.POSITIVE_INFINITY;
        let high = Number.NEGATIVE_INFINITY;
        for (let c = 0; c < waveform.min.length; c++) {
          low = Math.min(low, waveform.min[c]?.[s] ?? low);
          high = Math.max(high, waveform.max[c]?.[s] ?? high);
        }
        const oldMin = min[column] as number;
        const oldMax = max[column] as number;
        if (Number.isNaN(oldMin) || low < oldMin) min[column] = low;
        if (Number.isNaN(oldMax) || high > oldMax) max[column] = high;
        if (min[column] !== oldMin || max[column] !== oldMax) changed = true;
      }
      return changed;
    },
    clear() {
      bar = null;
      min.fill(Number.NaN);
      max.fill(Number.NaN);
    },
  };
}
