import { describe, expect, it } from 'vitest';
import { CLOCK_OFFSET_WINDOW_MS, createClockOffsetEstimator } from '../../src/clockOffset';

describe('the clock offset', () => {
  it('is unknown before the first arrival', () => {
    expect(createClockOffsetEstimator().offsetMs()).toBeNull();
  });

  it.each<[string, [arrival: number, sent: number][], number]>([
    ['one arrival', [[1000, 50_000]], -49_000],
    ['the least delayed of several', [[1010, 50_000], [1252, 50_250], [1530, 50_500]], -48_998],
    [
      'the least delayed of the last window only, so drift is followed',
      [[0, 50_000], [CLOCK_OFFSET_WINDOW_MS / 2, 49_990 + CLOCK_OFFSET_WINDOW_MS / 2], [CLOCK_OFFSET_WINDOW_MS + 1, 49_990 + CLOCK_OFFSET_WINDOW_MS]],
      -49_990,
    ],
    ['not a delivery that went wrong', [[1000, 50_000], [Number.NaN, 50_100]], -49_000],
  ])('is %s', (_, arrivals, expected) => {
    const estimator = createClockOffsetEstimator();
    for (const [arrival, sent] of arrivals) estimator.add(arrival, sent);
    expect(estimator.offsetMs()).toBe(expected);
  });
});
