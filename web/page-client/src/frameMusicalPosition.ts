// Where an analysis frame's audio sits in the music, so a page can draw it
// against bars and beats. A frame and a playhead reading are stamped on the
// same plug-in clock and count the same blocks, so the one is placed from the
// other without the page's clock; the clock offset only says when, on the
// page clock, the frame's block was captured.
//
// The stamp is the newest block the frame covers, as the playhead reading's
// is: its start, so the frame's last sample lies up to one block after it.

import type { AnalysisFrame } from './analysis.js';
import { barGrid, barsBeatsTicksAt, type MusicalPosition } from './musicalPosition.js';
import { usableLoop, type Playhead } from './playhead.js';

/**
 * - frame: the host's own quarter notes, carried by the frame
 * - samples: the reading's quarter notes moved on by the samples between the two blocks, at the reading's tempo
 * - time: the same by the capture times, while the reading says the host plays
 */
export type FramePositionSource = 'frame' | 'samples' | 'time';

export interface FramePosition {
  /** The frame's block in quarter notes; null when neither the frame nor the reading can say. */
  ppqPosition: number | null;
  /** Its bar, beat and tick on the reading's bar grid; null without a usable signature. */
  musical: MusicalPosition | null;
  source: FramePositionSource | null;
  /** The frame's capture on the page clock (captureTimeMs + clockOffsetMs); null without an offset. */
  capturePageMs: number | null;
}

type FrameStamp = Pick<AnalysisFrame, 'ppqPosition' | 'positionSamples' | 'captureTimeMs' | 'sampleRate'>;

// Placing a frame from a reading this far away in time is a guess about a
// tempo nobody reported; the predictor stops at the same distance.
const MAX_DERIVED_DISTANCE_MS = 1000;

/** Quarter notes from the reading's position to the frame's, with how they were found; null when they cannot be. */
function derivedPpq(frame: FrameStamp, reading: Playhead): { ppq: number; source: FramePositionSource } | null {
  const { ppqPosition: ppq, bpm } = reading;
  if (ppq === null || bpm === null) return null;
  if (reading.captureTimeMs !== null && Math.abs(frame.captureTimeMs - reading.captureTimeMs) > MAX_DERIVED_DISTANCE_MS) return null;

  let moved: number | null = null;
  let source: FramePositionSource = 'samples';
  if (frame.positionSamples !== null && reading.positionSamples !== null) {
    moved = (((frame.positionSamples - reading.positionSamples) / frame.sampleRate) * bpm) / 60;
  } else if (reading.captureTimeMs !== null) {
    source = 'time';
    moved = reading.playing === true ? (((frame.captureTimeMs - reading.captureTimeMs) / 1000) * bpm) / 60 : 0;
  }
  if (moved === null) return null;

  let at = ppq + moved;
  // Inside the host's loop, audio after its end is from its start again.
  const loop = usableLoop(reading);
  if (loop !== null && ppq >= loop.start && ppq < loop.end && at >= loop.end) {
    at = loop.start + ((at - loop.start) % (loop.end - loop.start));
  }
  return { ppq: at, source };
}

/**
 * The frame's place in the music, with `reading` (the bridge's newest
 * playhead) for the bar grid and, when the frame carries no quarter notes,
 * the tempo; `clockOffsetMs` (the bridge's: page clock minus plug-in clock)
 * for the capture on the page clock.
 */
export function frameMusicalPosition(frame: FrameStamp, reading: Playhead | null, clockOffsetMs: number | null = null): FramePosition {
  const mapped = clockOffsetMs === null ? null : frame.captureTimeMs + clockOffsetMs;
  const capturePageMs = mapped !== null && Number.isFinite(mapped) ? mapped : null;

  let ppqPosition: number | null = frame.ppqPosition;
  let source: FramePositionSource | null = ppqPosition === null ? null : 'frame';
  if (ppqPosition === null && reading !== null) {
    const derived = derivedPpq(frame, reading);
    if (derived !== null) {
      ppqPosition = derived.ppq;
      source = derived.source;
    }
  }
  if (ppqPosition === null || reading === null) return { ppqPosition, musical: null, source, capturePageMs };

  // Without the reading's own quarter notes it has no grid; its signature alone still counts bars from 0.
  const grid = barGrid(reading) ?? barGrid({ ...reading, ppqPosition, ppqLastBarStart: null, barCount: null });
  const musical = grid === null ? null : { ...barsBeatsTicksAt(grid, ppqPosition), source: grid.source };
  return { ppqPosition, musical, source, capturePageMs };
}
