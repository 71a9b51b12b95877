import { describe, expect, it } from 'vitest';
import { parsePlayhead, usableLoop, usableSignature, type Playhead } from '../../src/playhead';

/** A reading as the plug-in sends it: host playing bar 9 of a 4/4 loop at 96 bpm. */
const SENT: Playhead = {
  connected: true,
  blockCount: 4242,
  playing: true,
  recording: false,
  looping: true,
  bpm: 96,
  timeSigNum: 4,
  timeSigDen: 4,
  positionSecs: 17.353,
  positionSamples: 832944,
  ppqPosition: 35.7635,
  ppqLastBarStart: 32,
  barCount: null,
  ppqLoopStart: 32,
  ppqLoopEnd: 40,
  sampleRate: 48000,
  hostTimeMs: 123.5,
  captureTimeMs: 99000.25,
  sentTimeMs: 99003.5,
};

const ABSENT: Playhead = {
  connected: false,
  blockCount: 0,
  playing: null,
  recording: null,
  looping: null,
  bpm: null,
  timeSigNum: null,
  timeSigDen: null,
  positionSecs: null,
  positionSamples: null,
  ppqPosition: null,
  ppqLastBarStart: null,
  barCount: null,
  ppqLoopStart: null,
  ppqLoopEnd: null,
  sampleRate: null,
  hostTimeMs: null,
  captureTimeMs: null,
  sentTimeMs: 5,
};

describe('parsePlayhead', () => {
  it('keeps a full reading as it is and drops unknown keys', () => {
    expect(parsePlayhead({ ...SENT, debugInfo: 'Event' })).toEqual(SENT);
  });

  it('takes a reading from before any host position, every optional key null', () => {
    expect(parsePlayhead(ABSENT)).toEqual(ABSENT);
    const { connected, blockCount, sentTimeMs } = ABSENT;
    expect(parsePlayhead({ connected, blockCount, sentTimeMs })).toEqual(ABSENT);
  });

  it.each<[string, Partial<Record<keyof Playhead, unknown>>]>([
    ['a negative position, as hosts with pre-roll send', { positionSecs: -1.5, positionSamples: -72000, ppqPosition: -2.4 }],
    ['the clamped extremes of a position', { positionSecs: 2147483647, ppqPosition: -2147483648 }],
    ['the highest block count', { blockCount: 2147483647 }],
    ['the lowest block count', { blockCount: -2147483648 }],
    ['an inverted loop (left for usableLoop to judge)', { ppqLoopStart: 40, ppqLoopEnd: 32 }],
    ['a 0/0 signature (left for usableSignature to judge)', { timeSigNum: 0, timeSigDen: 0 }],
    ['a bar count from a host that sends one', { barCount: 8 }],
  ])('passes %s unchanged', (_, change) => {
    expect(parsePlayhead({ ...SENT, ...change })).toEqual({ ...SENT, ...change });
  });

  it.each<[string, Partial<Record<keyof Playhead, unknown>>, Partial<Playhead>]>([
    ['a tempo of 0 (NaN from the host)', { bpm: 0 }, { bpm: null }],
    ['a negative tempo', { bpm: -120 }, { bpm: null }],
    ['a clamped infinite tempo', { bpm: 2147483647 }, { bpm: null }],
    ['a tempo as text', { bpm: '96' }, { bpm: null }],
    ['a position that is not a number', { positionSecs: Number.NaN, ppqPosition: Number.POSITIVE_INFINITY }, { positionSecs: null, ppqPosition: null }],
    ['a fractional numerator and sample position', { timeSigNum: 3.5, positionSamples: 10.25 }, { timeSigNum: null, positionSamples: null }],
    ['a fractional bar count', { barCount: 8.5 }, { barCount: null }],
    ['flags as text and numbers', { playing: 'true', recording: 1, looping: 'yes' }, { playing: null, recording: null, looping: null }],
    ['a sample rate of 0', { sampleRate: 0 }, { sampleRate: null }],
    ['times as text', { captureTimeMs: '99000', hostTimeMs: {} }, { captureTimeMs: null, hostTimeMs: null }],
    ['a bar start that is an array', { ppqLastBarStart: [32] }, { ppqLastBarStart: null }],
    ['loop ends that are not finite', { ppqLoopStart: Number.NEGATIVE_INFINITY, ppqLoopEnd: Number.NaN }, { ppqLoopStart: null, ppqLoopEnd: null }],
  ])('turns %s into null', (_, change, expected) => {
    expect(parsePlayhead({ ...SENT, ...change })).toEqual({ ...SENT, ...expected });
  });

  const withoutKey = (key: keyof Playhead): Record<string, unknown> => {
    const copy: Record<string, unknown> = { ...SENT };
    delete copy[key];
    return copy;
  };

  it.each<[string, unknown]>([
    ['null', null],
    ['undefined', undefined],
    ['text', JSON.stringify(SENT)],
    ['an array', [SENT]],
    ['a number', 42],
    ['an empty object', {}],
    ['a reading without connected', withoutKey('connected')],
    ['a reading without blockCount', withoutKey('blockCount')],
    ['a reading without sentTimeMs', withoutKey('sentTimeMs')],
    ['connected as text', { ...SENT, connected: 'true' }],
    ['a block count past int32', { ...SENT, blockCount: 2 ** 31 }],
    ['a fractional block count', { ...SENT, blockCount: 1.5 }],
    ['a sent time that is not finite', { ...SENT, sentTimeMs: Number.NaN }],
    ["today's transport reading", { connected: true, playing: true, bpm: 120, debugBlockCount: 7 }],
  ])('rejects %s', (_, value) => {
    expect(parsePlayhead(value)).toBeNull();
  });
});

describe('usableSignature', () => {
  it.each([
    [4, 4],
    [7, 8],
    [6, 8],
    [1, 1],
    [5, 16],
    [128, 128],
  ])('takes %i/%i', (num, den) => {
    expect(usableSignature({ timeSigNum: num, timeSigDen: den })).toEqual({ num, den });
  });

  it.each<[number | null, number | null]>([
    [0, 0],
    [0, 4],
    [4, 0],
    [-4, 4],
    [4, -4],
    [4, 3],
    [1000, 3],
    [129, 4],
    [4, 256],
    [null, 4],
    [4, null],
  ])('refuses %s/%s', (num, den) => {
    expect(usableSignature({ timeSigNum: num, timeSigDen: den })).toBeNull();
  });
});

describe('usableLoop', () => {
  it.each<[string, Pick<Playhead, 'looping' | 'ppqLoopStart' | 'ppqLoopEnd'>, { start: number; end: number } | null]>([
    ['a loop that is on', { looping: true, ppqLoopStart: 32, ppqLoopEnd: 40 }, { start: 32, end: 40 }],
    ['a loop before the start', { looping: true, ppqLoopStart: -4, ppqLoopEnd: 0 }, { start: -4, end: 0 }],
    ['a loop that is off', { looping: false, ppqLoopStart: 32, ppqLoopEnd: 40 }, null],
    ['a loop state the host did not send', { looping: null, ppqLoopStart: 32, ppqLoopEnd: 40 }, null],
    ['an inverted loop', { looping: true, ppqLoopStart: 40, ppqLoopEnd: 32 }, null],
    ['an empty loop', { looping: true, ppqLoopStart: 32, ppqLoopEnd: 32 }, null],
    ['a loop without an end', { looping: true, ppqLoopStart: 32, ppqLoopEnd: null }, null],
  ])('%s', (_, reading, expected) => {
    expect(usableLoop(reading)).toEqual(expected);
  });
});
