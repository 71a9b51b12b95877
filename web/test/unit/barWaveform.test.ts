import { describe, expect, it } from 'vitest';
import { parseAnalysisFrame, parsePlayhead, type AnalysisFrame, type Playhead } from '@quillbeat/page-client';
import { analysisFrame, type FrameShape } from '../../page-client/test/analysisFrames';
import { PLAYHEAD_IN_LOOP } from '../../page-client/test/fakeJuce';
import { createBarWaveform } from '../../src/barWaveform';

// Playing bar 9 of 4/4 at 96 bpm (the host's bar start right), loop off. A
// frame of 1600 samples at 48 kHz spans 0.0533 quarter notes, 3.4 of the
// bar's 256 columns.
const READING = parsePlayhead({ ...PLAYHEAD_IN_LOOP, ppqLastBarStart: 32, looping: false }) as Playhead;
const COLUMNS = 256;

function frame(shape: FrameShape & { min?: number[][]; max?: number[][] } = {}): AnalysisFrame {
  const raw = analysisFrame({ slices: 16, ...shape });
  if (shape.min && shape.max) raw.waveform = { min: shape.min, max: shape.max };
  return parseAnalysisFrame(raw) as AnalysisFrame;
}

/** The columns that have been heard. */
function heard(min: Float32Array): number[] {
  return [...min.keys()].filter((i) => !Number.isNaN(min[i]));
}

describe('the bar waveform', () => {
  it('places a frame where its audio falls in the bar: the slices leading up to its stamp', () => {
    const bar = createBarWaveform(COLUMNS);
    expect(bar.add(frame({ ppqPosition: 34 }), READING)).toBe(true);
    expect(bar.bar()).toBe(9);
    // (34 - 0.0533 .. 34) / 4 of the bar: columns 124 to 127.
    expect(heard(bar.min)).toEqual([124, 125, 126, 127]);
    expect(bar.max[125]).toBeCloseTo(0.5012, 4);
    expect(bar.min[125]).toBeCloseTo(-0.5012, 4);
  });

  it.each<[string, Partial<Playhead> | null, FrameShape]>([
    ['a stopped host', { playing: false }, {}],
    ['a host without a tempo', { bpm: null }, {}],
    ['no reading at all', null, {}],
    ['a frame without quarter notes or samples to place it', { positionSamples: null, captureTimeMs: null }, { ppqPosition: null }],
  ])('places nothing for %s', (_, change, shape) => {
    const bar = createBarWaveform(COLUMNS);
    expect(bar.add(frame({ ppqPosition: 34, ...shape }), change === null ? null : { ...READING, ...change })).toBe(false);
    expect(bar.bar()).toBeNull();
    expect(heard(bar.min)).toEqual([]);
  });

  it('places a frame without quarter notes by its samples from the reading', () => {
    const bar = createBarWaveform(COLUMNS);
    // Quarter note 34: 1.7635 quarter notes (30000 samples each) before the reading's.
    bar.add(frame({ ppqPosition: null, positionSamples: (READING.positionSamples as number) - 1.7635 * 30000 }), READING);
    expect(heard(bar.min)).toEqual([124, 125, 126, 127]);
  });

  it('keeps the widest of the channels per column, and says when nothing changed', () => {
    const bar = createBarWaveform(COLUMNS);
    const stereo = { ppqPosition: 34, min: [Array(16).fill(-0.5), Array(16).fill(-0.25)], max: [Array(16).fill(0.5), Array(16).fill(0.9)] };
    expect(bar.add(frame(stereo), READING)).toBe(true);
    expect([bar.min[125], bar.max[125]]).toEqual([-0.5, Math.fround(0.9)]);
    expect(bar.add(frame(stereo), READING)).toBe(false);
    expect(bar.add(frame({ ...stereo, max: [Array(16).fill(0.95), Array(16).fill(0.1)] }), READING)).toBe(true);
    expect(bar.max[125]).toBe(Math.fround(0.95));
  });

  it.each<[string, number, number, number[]]>([
    ['the next bar starts empty', 34, 36.5, [28, 29, 30, 31]],
    ['a frame across the bar line keeps only the new bar', 34, 36.02, [0, 1]],
    ['a jump back (a loop, a seek) starts afresh', 37, 32.5, [28, 29, 30, 31]],
  ])('%s', (_, first, second, columns) => {
    const bar = createBarWaveform(COLUMNS);
    bar.add(frame({ ppqPosition: first }), READING);
    expect(bar.add(frame({ ppqPosition: second }), READING)).toBe(true);
    expect(bar.bar()).toBe(second >= 36 ? 10 : 9);
    expect(heard(bar.min)).toEqual(columns);
  });
});
