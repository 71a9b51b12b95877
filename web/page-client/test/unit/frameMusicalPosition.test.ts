import { describe, expect, it } from 'vitest';
import { frameMusicalPosition, type FramePosition } from '../../src/frameMusicalPosition';
import { parsePlayhead, type Playhead } from '../../src/playhead';
import { PLAYHEAD_IN_LOOP } from '../fakeJuce';

// The bug report's moment: 96 bpm in 4/4 at 48 kHz, quarter note 35.7635 (bar 9,
// the host's bar start being wrong), inside a loop over bars 9 and 10 (quarter
// notes 32 to 40). A quarter note is
// 0.625 s, 30000 samples.
const READING = parsePlayhead(PLAYHEAD_IN_LOOP) as Playhead;
const SAMPLES_PER_QN = 30000;
const MS_PER_QN = 625;

const frameAt = (stamp: { ppqPosition?: number | null; positionSamples?: number | null; captureTimeMs?: number }) => ({
  ppqPosition: stamp.ppqPosition ?? null,
  positionSamples: stamp.positionSamples ?? null,
  captureTimeMs: stamp.captureTimeMs ?? (READING.captureTimeMs as number),
  sampleRate: 48000,
});

describe('frameMusicalPosition', () => {
  it.each<[string, Parameters<typeof frameAt>[0], Playhead | null, Partial<FramePosition>]>([
    ['takes the quarter notes the frame carries', { ppqPosition: 36 }, READING, { ppqPosition: 36, source: 'frame', musical: { bar: 10, beat: 1, tick: 0, source: 'derived' } }],
    ['places them on the reading’s grid even bars away', { ppqPosition: 2 }, READING, { musical: { bar: 1, beat: 3, tick: 0, source: 'derived' } }],
    ['keeps the frame’s quarter notes without a reading, and no bars', { ppqPosition: 36 }, null, { ppqPosition: 36, musical: null, source: 'frame' }],
    [
      'moves on from the reading by samples at its tempo',
      { positionSamples: (READING.positionSamples as number) + SAMPLES_PER_QN / 2 },
      READING,
      { ppqPosition: 35.7635 + 0.5, source: 'samples' },
    ],
    [
      'moves back by samples for a frame older than the reading',
      { positionSamples: (READING.positionSamples as number) - SAMPLES_PER_QN },
      READING,
      { ppqPosition: 34.7635, source: 'samples' },
    ],
    [
      'moves on by capture time without samples',
      { captureTimeMs: (READING.captureTimeMs as number) + MS_PER_QN },
      { ...READING, positionSamples: null },
      { ppqPosition: 36.7635, source: 'time' },
    ],
    [
      'stays at a stopped reading’s position by capture time',
      { captureTimeMs: (READING.captureTimeMs as number) + MS_PER_QN },
      { ...READING, positionSamples: null, playing: false },
      { ppqPosition: 35.7635, source: 'time' },
    ],
    [
      'wraps at the loop’s end as the host does',
      { positionSamples: (READING.positionSamples as number) + 5 * SAMPLES_PER_QN },
      READING,
      { ppqPosition: 32.7635, source: 'samples', musical: { bar: 9, beat: 1, tick: 733, source: 'derived' } },
    ],
    [
      'does not guess a second away from the reading',
      { captureTimeMs: (READING.captureTimeMs as number) + 1001 },
      { ...READING, positionSamples: null },
      { ppqPosition: null, source: null, musical: null },
    ],
    ['cannot place a frame without quarter notes from a reading without a tempo', {}, { ...READING, bpm: null }, { ppqPosition: null, source: null }],
    [
      'counts bars from 0 when the reading has a signature but no quarter notes',
      { ppqPosition: 8 },
      { ...READING, ppqPosition: null, ppqLastBarStart: null },
      { musical: { bar: 3, beat: 1, tick: 0, source: 'derived' } },
    ],
    ['has no bars without a usable signature', { ppqPosition: 8 }, { ...READING, timeSigDen: 3 }, { ppqPosition: 8, musical: null }],
  ])('%s', (_, stamp, reading, expected) => {
    const { ppqPosition, ...rest } = expected;
    const position = frameMusicalPosition(frameAt(stamp), reading);
    expect(position).toMatchObject({ ...rest, capturePageMs: null });
    if (typeof ppqPosition === 'number') expect(position.ppqPosition).toBeCloseTo(ppqPosition, 9);
    else if (ppqPosition === null) expect(position.ppqPosition).toBeNull();
  });

  it('puts the capture on the page clock with the clock offset', () => {
    const frame = frameAt({ ppqPosition: 36, captureTimeMs: 86_405_100 });
    expect(frameMusicalPosition(frame, READING, -86_400_000).capturePageMs).toBe(5100);
    expect(frameMusicalPosition(frame, READING, Number.NaN).capturePageMs).toBeNull();
  });
});
