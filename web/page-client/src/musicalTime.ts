// Bars, beats and ticks from a position in seconds, assuming the tempo and
// time signature of the reading held for the whole song so far. Hosts with a
// tempo map would disagree after any change, so this is only the fallback for
// readings without a position in quarter notes (musicalPosition.ts), and the
// display says so.

export const TICKS_PER_BEAT = 960;

export interface BarsBeatsTicks {
  /** 1 for the first bar; 0, -1, ... for the bars before it. */
  bar: number;
  /** 1 ..= numerator, counted in the denominator's note value. */
  beat: number;
  /** 0 ..< TICKS_PER_BEAT. */
  tick: number;
}

// Readings carry positions with a millisecond's precision, and seconds times
// beats per second lands a hair below a whole tick often enough to show
// "x.3.959" where "x.4.000" is meant; this much of a tick is forgiven.
const TICK_TOLERANCE = 1e-3;

function floorDiv(a: number, b: number): number {
  return Math.floor(a / b);
}

/**
 * The bar, beat and tick at `positionSecs`, with `bpm` in quarter notes per
 * minute and beats in the denominator's note value (an eighth in 7/8). Null
 * when the tempo or time signature cannot place a beat (zero, negative or not
 * a number).
 */
export function barsBeatsTicks(
  positionSecs: number,
  bpm: number,
  timeSigNum: number,
  timeSigDen: number,
): BarsBeatsTicks | null {
  if (!Number.isFinite(positionSecs) || !Number.isFinite(bpm) || bpm <= 0) return null;
  if (!Number.isInteger(timeSigNum) || !Number.isInteger(timeSigDen) || timeSigNum < 1 || timeSigDen < 1) {
    return null;
  }

  const beatsPerSecond = (bpm / 60) * (timeSigDen / 4);
  const totalTicks = Math.floor(positionSecs * beatsPerSecond * TICKS_PER_BEAT + TICK_TOLERANCE);
  const ticksPerBar = timeSigNum * TICKS_PER_BEAT;

  const barIndex = floorDiv(totalTicks, ticksPerBar);
  const inBar = totalTicks - barIndex * ticksPerBar;
  const beatIndex = floorDiv(inBar, TICKS_PER_BEAT);

  return { bar: barIndex + 1, beat: beatIndex + 1, tick: inBar - beatIndex * TICKS_PER_BEAT };
}

/** "9.1": bar and beat, for positions that fall on a beat such as a loop's ends. */
export function formatBarBeat(bbt: BarsBeatsTicks): string {
  return `${bbt.bar}.${bbt.beat}`;
}

/** "40.6.384": bar, beat and a three-digit tick. */
export function formatBarsBeatsTicks(bbt: BarsBeatsTicks): string {
  return `${bbt.bar}.${bbt.beat}.${String(bbt.tick).padStart(3, '0')}`;
}
