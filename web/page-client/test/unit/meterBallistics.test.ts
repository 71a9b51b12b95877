import { describe, expect, it } from 'vitest';
import { createMeterBallistics, type MeterReading } from '../../src/meterBallistics';

/** Feeds `levels[i]` at `times[i]` and returns what the meter showed each time. */
function run(options: Parameters<typeof createMeterBallistics>[0], steps: [number, number][]): MeterReading[] {
  const meter = createMeterBallistics(options);
  return steps.map(([level, t]) => meter.update(level, t));
}

/** Silence after a -6 dB peak at 0, asked every `everyMs` and then at `untilMs`. */
function fallAfterPeak(everyMs: number, untilMs: number): MeterReading {
  const meter = createMeterBallistics({ holdMs: 1000, fallDbPerSecond: 20, floorDb: -60 });
  meter.update(-6, 0);
  for (let k = 1; k * everyMs < untilMs; k++) meter.update(-60, k * everyMs);
  return meter.update(-60, untilMs);
}

describe('meter ballistics', () => {
  it.each<[string, [number, number][], Partial<MeterReading>]>([
    ['shows the first level as it is', [[-12, 0]], { level: -12, peakHold: -12, moving: false }],
    ['rises at once', [[-40, 0], [-3, 10]], { level: -3, peakHold: -3, moving: false }],
    ['falls at its rate, not at once', [[-6, 0], [-60, 500]], { level: -16, peakHold: -6, moving: true }],
    ['holds the peak mark through its hold', [[-6, 0], [-30, 1000]], { level: -26, peakHold: -6 }],
    ['lets the peak mark fall after its hold', [[-6, 0], [-60, 1500]], { level: -36, peakHold: -16 }],
    ['keeps the peak mark on the level once they meet', [[-6, 0], [-20, 1000], [-20, 3000]], { level: -20, peakHold: -20, moving: false }],
    ['a new peak restarts the hold', [[-6, 0], [-30, 900], [-3, 1000], [-30, 1900]], { peakHold: -3 }],
    ['stops at the floor', [[0, 0], [-200, 10_000]], { level: -60, peakHold: -60, moving: false }],
    ['reads a level that is not a number as the floor', [[Number.NaN, 0]], { level: -60, peakHold: -60 }],
    ['does not move on a clock that goes backwards', [[-6, 1000], [-60, 500]], { level: -6, peakHold: -6 }],
  ])('%s', (_, steps, expected) => {
    expect(run({ holdMs: 1000, fallDbPerSecond: 20, floorDb: -60 }, steps).at(-1)).toMatchObject(expected);
  });

  it('falls alike at any frame rate', () => {
    const rates = [1000 / 15, 1000 / 60, 1000 / 144, 250];
    for (const untilMs of [500, 1500, 2200]) {
      const results = rates.map((every) => fallAfterPeak(every, untilMs));
      for (const r of results) {
        expect(r.level).toBeCloseTo(results[0]!.level, 6);
        expect(r.peakHold).toBeCloseTo(results[0]!.peakHold, 6);
      }
    }
  });

  it('comes to rest, and says so, after a stream falls silent', () => {
    const meter = createMeterBallistics({ holdMs: 500, fallDbPerSecond: 60, floorDb: -60 });
    meter.update(0, 0);
    let t = 0;
    let reading = meter.update(-60, t);
    while (reading.moving && t < 10_000) reading = meter.update(-60, (t += 16));
    // 500 ms of hold and 60 dB at 60 dB/s.
    expect(t).toBeGreaterThanOrEqual(1500);
    expect(t).toBeLessThan(1520);
    expect(reading).toEqual({ level: -60, peakHold: -60, moving: false });
  });

  it('starts afresh after reset', () => {
    const meter = createMeterBallistics();
    meter.update(0, 0);
    meter.reset();
    expect(meter.update(-50, 10)).toEqual({ level: -50, peakHold: -50, moving: false });
  });
});
