import { describe, expect, it } from 'vitest';
import { createSpectrumSmoother, SPECTRUM_SETTLED_DB } from '../../src/spectrumSmoother';

/** One band stepping from `from` to `to` at 0, asked every `everyMs` and then at `untilMs`. */
function step(from: number, to: number, everyMs: number, untilMs: number): number {
  const smoother = createSpectrumSmoother({ attackMs: 20, releaseMs: 200 });
  smoother.update([from], 0);
  smoother.update([to], 0);
  for (let k = 1; k * everyMs < untilMs; k++) smoother.update([to], k * everyMs);
  return smoother.update([to], untilMs).bands[0] ?? Number.NaN;
}

describe('spectrum smoother', () => {
  it('shows the first values as they are', () => {
    const smoother = createSpectrumSmoother();
    expect(smoother.update([-10, -20, -30], 0)).toEqual({ bands: [-10, -20, -30], moving: false });
  });

  it.each<[string, number, number, number, number]>([
    // One time constant brings a band 1 - 1/e of the way.
    ['rises by its attack', -60, 0, 20, -60 * Math.exp(-1)],
    ['falls by its release', 0, -60, 200, -60 * (1 - Math.exp(-1))],
    ['falls slower than it rises', 0, -60, 20, -60 * (1 - Math.exp(-0.1))],
  ])('%s', (_, from, to, atMs, expected) => {
    expect(step(from, to, atMs, atMs)).toBeCloseTo(expected, 6);
  });

  it('settles alike at any frame rate', () => {
    for (const everyMs of [1000 / 144, 10, 1000 / 60, 25, 100, 300]) {
      expect(step(0, -60, everyMs, 300), `every ${everyMs} ms`).toBeCloseTo(-60 * (1 - Math.exp(-300 / 200)), 6);
    }
  });

  it('comes to rest on a steady spectrum, and says when', () => {
    const smoother = createSpectrumSmoother({ attackMs: 10, releaseMs: 100 });
    smoother.update([0, -20], 0);
    let t = 0;
    let result = smoother.update([-60, -20], t);
    expect(result.moving).toBe(true);
    while (result.moving && t < 10_000) result = smoother.update([-60, -20], (t += 16));
    // ln(60 / SPECTRUM_SETTLED_DB) time constants.
    expect(t).toBeGreaterThan(100 * Math.log(60 / SPECTRUM_SETTLED_DB) - 16);
    expect(t).toBeLessThan(100 * Math.log(60 / SPECTRUM_SETTLED_DB) + 16);
    expect(result.bands).toEqual([-60, -20]);
  });

  it.each<[string, { attackMs?: number; releaseMs?: number }, number[], number[]]>([
    ['follows at once with time constants of 0', { attackMs: 0, releaseMs: 0 }, [-5, -90], [-5, -90]],
    ['reads a value that is not a number as the floor', { attackMs: 0, releaseMs: 0 }, [Number.NaN, -200], [-120, -120]],
  ])('%s', (_, options, next, expected) => {
    const smoother = createSpectrumSmoother(options);
    smoother.update([-50, -50], 0);
    expect(smoother.update(next, 10).bands).toEqual(expected);
  });

  it('starts again when the number of bands changes, or after reset', () => {
    const smoother = createSpectrumSmoother();
    smoother.update([-10, -10], 0);
    expect(smoother.update([-80, -80, -80], 5)).toEqual({ bands: [-80, -80, -80], moving: false });
    smoother.reset();
    expect(smoother.update([0, 0, 0], 6).bands).toEqual([0, 0, 0]);
  });
});
