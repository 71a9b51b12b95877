import { describe, expect, it } from 'vitest';
import { barGrid, musicalPosition, type MusicalReading, type MusicalSource } from '../../src/musicalPosition';
import { formatBarsBeatsTicks } from '../../src/musicalTime';
import { parsePlayhead } from '../../src/playhead';
import { hostTimeline, type ReadingOptions, type TimelineScript } from '../hostTimeline';

function bbt(reading: MusicalReading): string | null {
  const m = musicalPosition(reading);
  return m === null ? null : formatBarsBeatsTicks(m);
}

const NOTHING: MusicalReading = {
  bpm: null,
  timeSigNum: null,
  timeSigDen: null,
  positionSecs: null,
  ppqPosition: null,
  ppqLastBarStart: null,
  barCount: null,
};

// The bug report's session: 4/4, 128 bpm from the start, playing from bar 7,
// 96 bpm from bar 9, looping bars 9 and 10.
const REPORTED: TimelineScript = {
  tempoMap: [
    { ppq: 0, bpm: 128 },
    { ppq: 32, bpm: 96 },
  ],
  timeSigNum: 4,
  timeSigDen: 4,
  startPpq: 24,
  playing: true,
  loop: { start: 32, end: 40 },
};

describe('the reported case', () => {
  const reading: MusicalReading = {
    bpm: 96,
    timeSigNum: 4,
    timeSigDen: 4,
    positionSecs: 17.353,
    ppqPosition: 35.7635,
    ppqLastBarStart: 32,
    barCount: null,
  };

  it.each<[string, number | null, MusicalSource]>([
    ["the host's bar start", 32, 'host'],
    ['a bar start left behind where playing started, as Ardour 7 reports', 24, 'derived'],
    ['no bar start', null, 'derived'],
  ])('is bar 9, beat 4, tick 733 with %s', (_, barStart, source) => {
    const m = musicalPosition({ ...reading, ppqLastBarStart: barStart });
    expect(m).toEqual({ bar: 9, beat: 4, tick: 733, source });
  });

  it("is not what seconds times today's tempo make of it", () => {
    expect(bbt({ ...reading, ppqPosition: null })).not.toBe('9.4.733');
    expect(musicalPosition({ ...reading, ppqPosition: null })?.source).toBe('estimate');
  });
});

describe("against the host's own timeline", () => {
  const options: ReadingOptions = { sampleRate: 48000, blockSize: 1, pluginClockAtStartMs: 0, barStart: 'right' };

  // Seconds after playing started, and where the host then is, worked out by
  // hand from each tempo map.
  it.each<[string, TimelineScript, number, string]>([
    ['4/4 at the start', REPORTED, 0, '7.1.000'],
    ['4/4, a bar on at 128 bpm', REPORTED, 1.875, '8.1.000'],
    ['4/4, half a beat after the step to 96 bpm', REPORTED, 3.75 + 0.3125, '9.1.480'],
    ['4/4, a bar after the tempo step', REPORTED, 3.75 + 2.5, '10.1.000'],
    ['4/4, a beat into the second lap of the loop', REPORTED, 3.75 + 5 + 0.625, '9.2.000'],
    ['4/4, the end of the fourth lap', REPORTED, 3.75 + 15 + 4.6875, '10.4.480'],
    ...(
      [
        [0, '1.1.000'],
        [1.5, '2.1.000'],
        [1.5 + (6 * 60) / 280, '2.7.000'],
        [10, '7.5.640'],
      ] as const
    ).map(([at, expected]): [string, TimelineScript, number, string] => [
      `7/8 at 140 bpm, ${at.toFixed(3)} s in`,
      { tempoMap: [{ ppq: 0, bpm: 140 }], timeSigNum: 7, timeSigDen: 8, startPpq: 0, playing: true, loop: null },
      at,
      expected,
    ]),
    ...(
      [
        [1, '1.4.000'],
        [2, '2.1.000'],
        [4, '3.1.000'],
        [4 + 1.25, '3.3.480'],
        [4 + 3 + 0.5, '4.2.000'],
      ] as const
    ).map(([at, expected]): [string, TimelineScript, number, string] => [
      `6/8, 90 bpm stepping to 60 at bar 3, ${at} s in`,
      {
        tempoMap: [
          { ppq: 0, bpm: 90 },
          { ppq: 6, bpm: 60 },
        ],
        timeSigNum: 6,
        timeSigDen: 8,
        startPpq: 0,
        playing: true,
        loop: null,
      },
      at,
      expected,
    ]),
  ])('%s', (_, script, seconds, expected) => {
    const timeline = hostTimeline(script);
    for (const barStart of ['right', 'stale', 'none'] as const) {
      const reading = parsePlayhead(timeline.readings(seconds * 1000, { ...options, barStart }).playhead);
      expect(reading, barStart).not.toBeNull();
      if (reading !== null) expect(bbt(reading), barStart).toBe(expected);
    }
  });
});

describe('where the bar starts', () => {
  const at = (change: Partial<MusicalReading>): MusicalReading => ({
    ...NOTHING,
    bpm: 120,
    timeSigNum: 4,
    timeSigDen: 4,
    ppqPosition: 35,
    ...change,
  });

  it.each<[string, Partial<MusicalReading>, string, MusicalSource]>([
    ["a host's bar start off the 4/4 grid after a 5/4 bar", { ppqLastBarStart: 33, barCount: 8 }, '9.3.000', 'host'],
    ['the same without a bar count', { ppqLastBarStart: 33 }, '9.3.000', 'host'],
    ["a bar start a hair past the position (the host's rounding)", { ppqPosition: 31.9999999, ppqLastBarStart: 32 }, '9.1.000', 'host'],
    ['a bar start of 0 far behind', { ppqLastBarStart: 0, barCount: 0 }, '9.4.000', 'derived'],
    ['a bar start ahead of the position', { ppqLastBarStart: 36, barCount: 9 }, '9.4.000', 'derived'],
    ['a bar start a whole bar behind', { ppqLastBarStart: 31 }, '9.4.000', 'derived'],
    ['a bar start that is garbage', { ppqLastBarStart: -2147483648 }, '9.4.000', 'derived'],
    ['a position before the start', { ppqPosition: -1 }, '0.4.000', 'derived'],
    ['a position a hair short of a bar', { ppqPosition: 31.99999999 }, '9.1.000', 'derived'],
    ['7/8 and a bar start on its grid', { timeSigNum: 7, timeSigDen: 8, ppqPosition: 8, ppqLastBarStart: 7 }, '3.3.000', 'host'],
  ])('%s', (_, change, expected, source) => {
    const m = musicalPosition(at(change));
    expect(m === null ? null : formatBarsBeatsTicks(m)).toBe(expected);
    expect(m?.source).toBe(source);
  });

  it('takes the bar count only together with the bar start it belongs to', () => {
    expect(barGrid(at({ ppqLastBarStart: 32, barCount: 41 }))?.barNumber).toBe(42);
    expect(barGrid(at({ ppqLastBarStart: 7, barCount: 41 }))?.barNumber).toBe(9);
  });
});

describe('without a position in quarter notes', () => {
  it('estimates from seconds at a constant tempo and says so', () => {
    expect(musicalPosition({ ...NOTHING, bpm: 128, timeSigNum: 7, timeSigDen: 8, positionSecs: 65.25 })).toEqual({
      bar: 40,
      beat: 6,
      tick: 384,
      source: 'estimate',
    });
  });
});

describe('readings that place no beat', () => {
  const playing: MusicalReading = { ...NOTHING, bpm: 120, timeSigNum: 4, timeSigDen: 4, positionSecs: 10, ppqPosition: 20 };

  it.each<[string, Partial<MusicalReading>]>([
    ['a 0/0 signature', { timeSigNum: 0, timeSigDen: 0 }],
    ['a denominator of 3', { timeSigDen: 3 }],
    ['an absurd signature', { timeSigNum: 1000, timeSigDen: 3 }],
    ['a huge numerator', { timeSigNum: 2147483647 }],
    ['a negative denominator', { timeSigDen: -4 }],
    ['no signature', { timeSigNum: null, timeSigDen: null }],
    ['no tempo, when estimating', { ppqPosition: null, bpm: null }],
    ['no position at all', { ppqPosition: null, positionSecs: null }],
  ])('%s', (_, change) => {
    expect(() => musicalPosition({ ...playing, ...change })).not.toThrow();
    expect(musicalPosition({ ...playing, ...change })).toBeNull();
  });

  it('places beats from quarter notes without a tempo', () => {
    expect(bbt({ ...playing, bpm: null })).toBe('6.1.000');
  });
});
