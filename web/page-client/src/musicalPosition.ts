// Bar, beat and tick from the host's own musical timeline: its position in
// quarter notes and its time signature, so tempo changes and loops come out
// as the host counts them. Only without a position in quarter notes does the
// page fall back to seconds times tempo (musicalTime.ts), and says so.

import { barsBeatsTicks, TICKS_PER_BEAT, type BarsBeatsTicks } from './musicalTime.js';
import { usableSignature, type Playhead, type TimeSignature } from './playhead.js';

/**
 * - host: the host's quarter notes and its start of the bar
 * - derived: the host's quarter notes, the bar start worked out from them and the signature
 * - estimate: no quarter notes; seconds times tempo, assuming it never changed
 */
export type MusicalSource = 'host' | 'derived' | 'estimate';

export interface MusicalPosition extends BarsBeatsTicks {
  source: MusicalSource;
}

/** Where bars fall near a reading: one bar's start, its number, and the bar's length. */
export interface BarGrid {
  signature: TimeSignature;
  quarterNotesPerBar: number;
  barStartPpq: number;
  /** 1 for the bar starting at quarter note 0 when counted from the start. */
  barNumber: number;
  source: 'host' | 'derived';
}

export type MusicalReading = Pick<
  Playhead,
  'bpm' | 'timeSigNum' | 'timeSigDen' | 'positionSecs' | 'ppqPosition' | 'ppqLastBarStart' | 'barCount'
>;

// Position and bar start come from the same block; this much disagreement
// (about a tick) is rounding, not a wrong bar start.
const BAR_START_TOLERANCE_QN = 1e-3;

/**
 * The bar grid at the reading's position, or null without a position in
 * quarter notes or a usable signature. The host's bar start is taken only
 * when the position lies inside the bar it starts (Ardour 7 reports a wrong
 * one); otherwise bars are counted from quarter note 0 in the current
 * signature. The host's bar count is taken along with its bar start only.
 */
export function barGrid(p: MusicalReading): BarGrid | null {
  const signature = usableSignature(p);
  const ppq = p.ppqPosition;
  if (signature === null || ppq === null) return null;
  const quarterNotesPerBar = (signature.num * 4) / signature.den;

  const hostStart = p.ppqLastBarStart;
  if (hostStart !== null) {
    const intoBar = ppq - hostStart;
    // At a whole bar on, the host has missed the new bar: its start is stale.
    if (intoBar >= -BAR_START_TOLERANCE_QN && intoBar < quarterNotesPerBar) {
      const barNumber = p.barCount !== null ? p.barCount + 1 : Math.round(hostStart / quarterNotesPerBar) + 1;
      return { signature, quarterNotesPerBar, barStartPpq: hostStart, barNumber, source: 'host' };
    }
  }

  const barIndex = Math.floor((ppq + BAR_START_TOLERANCE_QN) / quarterNotesPerBar);
  return { signature, quarterNotesPerBar, barStartPpq: barIndex * quarterNotesPerBar, barNumber: barIndex + 1, source: 'derived' };
}

/**
 * The bar, beat and tick at `ppq` on `grid`, to the nearest tick: hosts hand
 * positions over rounded, and a tick a hair short would show the previous one.
 */
export function barsBeatsTicksAt(grid: BarGrid, ppq: number): BarsBeatsTicks {
  const { num, den } = grid.signature;
  const totalTicks = Math.round((ppq - grid.barStartPpq) * (den / 4) * TICKS_PER_BEAT);
  const ticksPerBar = num * TICKS_PER_BEAT;
  const barsOn = Math.floor(totalTicks / ticksPerBar);
  const inBar = totalTicks - barsOn * ticksPerBar;
  const beatIndex = Math.floor(inBar / TICKS_PER_BEAT);
  return { bar: grid.barNumber + barsOn, beat: beatIndex + 1, tick: inBar - beatIndex * TICKS_PER_BEAT };
}

/** The reading's bar, beat and tick and where they come from; null when nothing can place a beat. */
export function musicalPosition(p: MusicalReading): MusicalPosition | null {
  const grid = barGrid(p);
  if (grid !== null && p.ppqPosition !== null) {
    return { ...barsBeatsTicksAt(grid, p.ppqPosition), source: grid.source };
  }
  const signature = usableSignature(p);
  if (signature === null || p.bpm === null || p.positionSecs === null) return null;
  const estimate = barsBeatsTicks(p.positionSecs, p.bpm, signature.num, signature.den);
  return estimate === null ? null : { ...estimate, source: 'estimate' };
}
