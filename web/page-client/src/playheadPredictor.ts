// Where the host's play head is between readings. Readings come four times a
// second, each stamped with the moment its audio block was captured; mapped
// to page time with the clock offset, that moment and the reading's tempo say
// where the host is now.
//
// - While playing, the position moves on at the reading's tempo, for at most
//   MAX_EXTRAPOLATION_MS past the capture (a host that stopped processing
//   audio sends no news, and guessing on for longer would only mislead).
// - A reading that is not playing (false, or unknown) is shown as it is.
// - With the host's loop on, valid, and the reading inside it, the position
//   wraps from the loop's end to its start.
// - Each reading replaces the last one as the base, so a seek or a loop wrap
//   is shown as soon as its reading arrives.
// - While the host plays on, the output never moves backwards: a new reading
//   behind the last output by at most HOLD_TOLERANCE_MS (plus what a tempo
//   change since the previous reading explains) holds the last output until
//   the new prediction passes it. Further behind is a seek and is shown.

import { barGrid, barsBeatsTicksAt, musicalPosition, type BarGrid, type MusicalPosition } from './musicalPosition.js';
import { usableLoop, type LoopRange, type Playhead } from './playhead.js';

/**
 * How far behind the last output a steady reading may land and still be held
 * rather than shown: the capture stamp and the block's position differ by up
 * to one audio block (1024 samples at 44.1 kHz is 23 ms), and the clock
 * offset estimate moves by a few milliseconds as its window slides.
 */
export const HOLD_TOLERANCE_MS = 30;
export const MAX_EXTRAPOLATION_MS = 1000;

// A reading this close before the loop start counts as inside the loop: hosts
// round the position at a wrap.
const LOOP_EDGE_TOLERANCE_QN = 1e-6;

export interface PlayheadPrediction {
  /** The moment the prediction is for, on the page clock (performance.now()). */
  pageTimeMs: number;
  playing: boolean;
  positionSecs: number | null;
  ppqPosition: number | null;
  bar: number | null;
  beat: number | null;
  tick: number | null;
  musical: MusicalPosition | null;
  /** Moved on from the reading by the time since its capture. */
  extrapolated: boolean;
  /** Kept at an earlier output because the newest reading landed slightly behind it. */
  held: boolean;
}

export interface PlayheadPredictor {
  /**
   * A new reading that arrived at `arrivedAtMs` on the page clock (the
   * bridge's playheadArrivedAt); `clockOffsetMs` (page clock minus plug-in
   * clock, the bridge's clockOffsetMs) maps its captureTimeMs to the page clock.
   */
  update(reading: Playhead, arrivedAtMs: number, clockOffsetMs: number | null): void;
  /** The position at `pageTimeMs` on the page clock: performance.now(), or a frame's time. */
  predict(pageTimeMs: number): PlayheadPrediction;
  /** The newest reading's own position, not moved on (what a display without prediction shows). */
  atReading(): PlayheadPrediction;
  /** The newest reading, or null. */
  reading(): Playhead | null;
}

interface Base {
  reading: Playhead;
  capturePageMs: number;
  playing: boolean;
  ppq: number | null;
  secs: number | null;
  bpm: number | null;
  grid: BarGrid | null;
  loop: LoopRange | null;
  /** Extra quarter notes a hold may span, for a tempo change since the previous reading. */
  tempoSlackQn: number;
}

const NOTHING: Omit<PlayheadPrediction, 'pageTimeMs'> = {
  playing: false,
  positionSecs: null,
  ppqPosition: null,
  bar: null,
  beat: null,
  tick: null,
  musical: null,
  extrapolated: false,
  held: false,
};

/** `value` brought into (-length/2, length/2]. */
function nearestLap(value: number, length: number): number {
  const r = value - length * Math.round(value / length);
  return r <= -length / 2 ? r + length : r;
}

export function createPlayheadPredictor(): PlayheadPredictor {
  let base: Base | null = null;
  let last: PlayheadPrediction | null = null;

  function musicalAt(b: Base, ppq: number | null, secs: number | null): MusicalPosition | null {
    if (b.grid !== null && ppq !== null) return { ...barsBeatsTicksAt(b.grid, ppq), source: b.grid.source };
    return musicalPosition({ ...b.reading, ppqPosition: ppq, positionSecs: secs });
  }

  function output(b: Base, pageTimeMs: number, ppq: number | null, secs: number | null, extrapolated: boolean): PlayheadPrediction {
    const musical = musicalAt(b, ppq, secs);
    return {
      pageTimeMs,
      playing: b.playing,
      positionSecs: secs,
      ppqPosition: ppq,
      bar: musical?.bar ?? null,
      beat: musical?.beat ?? null,
      tick: musical?.tick ?? null,
      musical,
      extrapolated,
      held: false,
    };
  }

  /** The base moved on to `pageTimeMs`, wrapped at the loop's end. */
  function moveOn(b: Base, pageTimeMs: number): PlayheadPrediction {
    if (!b.playing || !Number.isFinite(pageTimeMs)) return output(b, pageTimeMs, b.ppq, b.secs, false);
    const seconds = Math.min(Math.max(pageTimeMs - b.capturePageMs, 0), MAX_EXTRAPOLATION_MS) / 1000;
    let secs = b.secs === null ? null : b.secs + seconds;
    let ppq = b.ppq === null || b.bpm === null ? b.ppq : b.ppq + (seconds * b.bpm) / 60;

    if (ppq !== null && b.loop !== null && b.bpm !== null && ppq >= b.loop.end) {
      const length = b.loop.end - b.loop.start;
      const wrapped = b.loop.start + ((ppq - b.loop.start) % length);
      if (secs !== null) secs -= ((ppq - wrapped) * 60) / b.bpm;
      ppq = wrapped;
    }
    return output(b, pageTimeMs, ppq, secs, seconds > 0);
  }

  /** How far `candidate` is behind `previous`, in quarter notes (or seconds without them), across a loop wrap. */
  function behind(b: Base, previous: PlayheadPrediction, candidate: PlayheadPrediction): number | null {
    if (previous.ppqPosition !== null && candidate.ppqPosition !== null) {
      const d = previous.ppqPosition - candidate.ppqPosition;
      return b.loop === null ? d : nearestLap(d, b.loop.end - b.loop.start);
    }
    if (previous.ppqPosition === null && candidate.ppqPosition === null && previous.positionSecs !== null && candidate.positionSecs !== null) {
      return previous.positionSecs - candidate.positionSecs;
    }
    return null;
  }

  function holdTolerance(b: Base, candidate: PlayheadPrediction): number {
    if (candidate.ppqPosition !== null && b.bpm !== null) return (HOLD_TOLERANCE_MS / 60000) * b.bpm + b.tempoSlackQn;
    return HOLD_TOLERANCE_MS / 1000;
  }

  return {
    update(reading, arrivedAtMs, clockOffsetMs) {
      const mapped = reading.captureTimeMs !== null && clockOffsetMs !== null ? reading.captureTimeMs + clockOffsetMs : null;
      // The offset is an upper bound from the least-delayed arrival, so a
      // capture mapped past its own arrival only means the estimate is young.
      const capturePageMs = mapped !== null && Number.isFinite(mapped) ? Math.min(mapped, arrivedAtMs) : arrivedAtMs;
      const ppq = reading.ppqPosition;
      const loop = usableLoop(reading);
      const insideLoop = loop !== null && ppq !== null && ppq >= loop.start - LOOP_EDGE_TOLERANCE_QN && ppq < loop.end;

      let tempoSlackQn = 0;
      if (base !== null && base.playing && base.bpm !== null && reading.bpm !== null && reading.bpm !== base.bpm) {
        const sinceMs = Math.min(Math.max(capturePageMs - base.capturePageMs, 0), MAX_EXTRAPOLATION_MS);
        tempoSlackQn = (Math.abs(reading.bpm - base.bpm) * sinceMs) / 60000;
      }

      base = {
        reading,
        capturePageMs,
        playing: reading.playing === true,
        ppq,
        secs: reading.positionSecs,
        bpm: reading.bpm,
        grid: barGrid(reading),
        loop: insideLoop ? loop : null,
        tempoSlackQn,
      };
      if (!base.playing) last = null;
    },

    predict(pageTimeMs) {
      if (base === null) return { ...NOTHING, pageTimeMs };
      const next = moveOn(base, pageTimeMs);
      if (!base.playing) return next;

      // Only a later question can be held back by an earlier answer.
      if (last !== null && pageTimeMs >= last.pageTimeMs) {
        const gap = behind(base, last, next);
        if (gap !== null && gap > 0 && gap <= holdTolerance(base, next)) {
          last = { ...last, pageTimeMs, held: true };
          return last;
        }
      }
      if (last === null || pageTimeMs >= last.pageTimeMs) last = next;
      return next;
    },

    atReading() {
      if (base === null) return { ...NOTHING, pageTimeMs: Number.NaN };
      return output(base, base.capturePageMs, base.ppq, base.secs, false);
    },

    reading: () => base?.reading ?? null,
  };
}
