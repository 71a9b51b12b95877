import { describe, expect, it } from 'vitest';
import { barsBeatsTicks, formatBarsBeatsTicks } from '../../src/musicalTime';

describe('bars, beats and ticks at a constant tempo', () => {
  it.each([
    // bpm, num, den, seconds, expected
    [120, 4, 4, 0, '1.1.000'],
    [120, 4, 4, 0.25, '1.1.480'], // half a beat
    [120, 4, 4, 2, '2.1.000'],
    [90, 3, 4, 10, '6.1.000'], // 15 beats
    [60, 4, 4, 0.0005, '1.1.000'], // under a tick
    [140, 4, 4, (60 / 140) * 3, '1.4.000'], // three beats exactly, not a tick short
    // Beats counted in the denominator's note value: quarter-note bpm, eighth-note beats.
    [128, 7, 8, 65.25, '40.6.384'],
    [120, 6, 8, 1, '1.5.000'], // four eighths
    [120, 6, 8, 1.5, '2.1.000'], // six eighths: a full bar
    [120, 4, 2, 1, '1.2.000'], // one half note a second
    [120, 5, 16, 0.125, '1.2.000'], // one sixteenth
    // Before the song's start the count runs on backwards through bar 0.
    [120, 4, 4, -0.25, '0.4.480'],
    [120, 4, 4, -2, '0.1.000'],
    [120, 4, 4, -2.25, '-1.4.480'],
    [128, 7, 8, -1.5, '0.1.576'], // 6.4 eighths before the start
  ])('%f bpm in %i/%i at %f s is %s', (bpm, num, den, secs, expected) => {
    const bbt = barsBeatsTicks(secs, bpm, num, den);
    expect(bbt).not.toBeNull();
    if (bbt !== null) expect(formatBarsBeatsTicks(bbt)).toBe(expected);
  });

  it.each([
    ['no tempo', 0, 4, 4],
    ['a negative tempo', -120, 4, 4],
    ['a tempo that is not a number', Number.NaN, 4, 4],
    ['a zero numerator', 120, 0, 4],
    ['a zero denominator', 120, 4, 0],
  ])('places no beat with %s', (_, bpm, num, den) => {
    expect(barsBeatsTicks(10, bpm, num, den)).toBeNull();
  });
});
