// A spectrum that moves calmly: each band follows its newest value with a
// time constant, a short one going up (attack) and a longer one coming down
// (release). The step is worked out from the time between calls,
// 1 - exp(-elapsed / time constant), so the display settles alike at any
// frame rate and whether frames come evenly or not.

import { ANALYSIS_FLOOR_DB } from './analysis.js';

export interface SpectrumSmootherOptions {
  /** Time constant while a band rises, ms; 0 follows at once [10]. */
  attackMs?: number;
  /** Time constant while a band falls, ms; 0 follows at once [250]. */
  releaseMs?: number;
  /** A value that is not a number reads this [ANALYSIS_FLOOR_DB]. */
  floorDb?: number;
}

export interface SmoothedSpectrum {
  /** One value per band, dB; the same array every call, changed in place. */
  bands: readonly number[];
  /** Some band is still on its way (a later update with the same values would show something else). */
  moving: boolean;
}

export interface SpectrumSmoother {
  /**
   * Takes the newest band values at `pageTimeMs` (page clock, or any clock
   * that only moves forwards). A different number of bands than before
   * starts again from the values given.
   */
  update(bandsDb: readonly number[], pageTimeMs: number): SmoothedSpectrum;
  /** Forgets the past: the next update shows its values as they are. */
  reset(): void;
}

/** Closer than this, a band has arrived: it snaps to its value, so a steady spectrum comes to rest. */
export const SPECTRUM_SETTLED_DB = 0.05;

export function createSpectrumSmoother(options: SpectrumSmootherOptions = {}): SpectrumSmoother {
  const attackMs = Math.max(0, options.attackMs ?? 10);
  const releaseMs = Math.max(0, options.releaseMs ?? 250);
  const floorDb = options.floorDb ?? ANALYSIS_FLOOR_DB;
  let bands: number[] = [];
  let lastAt: number | null = null;

  const step = (elapsedMs: number, tauMs: number): number => (tauMs === 0 ? 1 : 1 - Math.exp(-elapsedMs / tauMs));

  return {
    update(bandsDb, pageTimeMs) {
      const fresh = lastAt === null || bands.length !== bandsDb.length;
      const at = Number.isFinite(pageTimeMs) ? Math.max(pageTimeMs, lastAt ?? pageTimeMs) : (lastAt ?? 0);
      const elapsed = fresh ? 0 : at - (lastAt ?? at);
      if (fresh) bands = new Array<number>(bandsDb.length);
      const rise = step(elapsed, attackMs);
      const fall = step(elapsed, releaseMs);
      let moving = false;
      for (let i = 0; i < bandsDb.length; i++) {
        const raw = bandsDb[i];
        const target = raw !== undefined && Number.isFinite(raw) ? Math.max(raw, floorDb) : floorDb;
        const was = bands[i];
        if (fresh || was === undefined) {
          bands[i] = target;
          continue;
        }
        let next = was + (target - was) * (target > was ? rise : fall);
        if (Math.abs(target - next) < SPECTRUM_SETTLED_DB) next = target;
        else moving = true;
        bands[i] = next;
      }
      lastAt = at;
      return { bands, moving };
    },
    reset() {
      bands = [];
      lastAt = null;
    },
  };
}
