// How a level meter moves: up at once, down at a steady rate, with a peak
// mark that stays put for a while and then falls until it meets the level.
// Every movement is worked out from the time between calls, so a meter falls
// alike at 30 frames a second and at 144.

import { ANALYSIS_FLOOR_DB } from './analysis.js';

export interface MeterBallisticsOptions {
  /** How long the peak mark stays after it was set [1500]. */
  holdMs?: number;
  /** How fast the level, and the peak mark after its hold, fall [24]. */
  fallDbPerSecond?: number;
  /** Nothing reads below this; a level that is not a number reads it [ANALYSIS_FLOOR_DB]. */
  floorDb?: number;
}

export interface MeterReading {
  /** What the meter shows, dB. */
  level: number;
  /** The peak mark, dB; never below `level`. */
  peakHold: number;
  /** A later update with the same level would show something else (the meter is still falling or holding). */
  moving: boolean;
}

export interface MeterBallistics {
  /** Takes the newest level at `pageTimeMs` (page clock, or any clock that only moves forwards) and says what to show. */
  update(levelDb: number, pageTimeMs: number): MeterReading;
  /** Forgets the past: the next update shows its level as it is. */
  reset(): void;
}

export function createMeterBallistics(options: MeterBallisticsOptions = {}): MeterBallistics {
  const holdMs = Math.max(0, options.holdMs ?? 1500);
  const fallPerMs = Math.max(0, options.fallDbPerSecond ?? 24) / 1000;
  const floorDb = options.floorDb ?? ANALYSIS_FLOOR_DB;

  let last: { at: number; level: number; peak: number; peakSetAt: number } | null = null;

  return {
    update(levelDb, pageTimeMs) {
      const input = Number.isFinite(levelDb) ? Math.max(levelDb, floorDb) : floorDb;
      if (last === null) {
        const at = Number.isFinite(pageTimeMs) ? pageTimeMs : 0;
        last = { at, level: input, peak: input, peakSetAt: at };
        return { level: input, peakHold: input, moving: false };
      }
      // A clock that went backwards, or is not a number, moves nothing.
      const at = Number.isFinite(pageTimeMs) ? Math.max(pageTimeMs, last.at) : last.at;
      const level = Math.max(input, last.level - fallPerMs * (at - last.at), floorDb);

      // The peak mark falls from where it was set, so its fall does not depend on how often it is asked.
      const heldFor = at - last.peakSetAt;
      const fallen = heldFor <= holdMs ? last.peak : last.peak - fallPerMs * (heldFor - holdMs);
      let peak = last.peak;
      let peakSetAt = last.peakSetAt;
      if (input >= fallen) {
        peak = input;
        peakSetAt = at;
      }
      const peakHold = Math.max(input >= fallen ? input : fallen, level);

      last = { at, level, peak, peakSetAt };
      return { level, peakHold, moving: level > input || peakHold > level };
    },
    reset() {
      last = null;
    },
  };
}
