import { describe, expect, it } from 'vitest';
import {
  ANALYSIS_FLOOR_DB,
  bandCenterHz,
  bandCount,
  bandEdgesHz,
  MAX_WAVEFORM_SLICES,
  parseAnalysisFrame,
  type AnalysisFrame,
} from '../../src/analysis';
import { analysisFrame, BANDS_AT_6_PER_OCTAVE } from '../analysisFrames';

type Raw = Record<string, unknown>;

/** The test frame with `change` applied to a copy of it. */
function changed(change: (f: Raw) => void): Raw {
  const f = structuredClone(analysisFrame());
  change(f);
  return f;
}

const spectrumOf = (f: Raw) => f.spectrum as Raw;
const waveformOf = (f: Raw) => f.waveform as Raw;
const levelsOf = (f: Raw) => f.levels as Raw[];

describe('parseAnalysisFrame', () => {
  it('reads a frame as the plug-in sends it', () => {
    const frame = parseAnalysisFrame(analysisFrame());
    expect(frame).toMatchObject({
      blockCount: 1000,
      positionSamples: 480000,
      ppqPosition: 20,
      captureTimeMs: 86_405_000,
      sentTimeMs: 86_405_003,
      sampleRate: 48000,
      samples: 1600,
      droppedSamples: 0,
      channels: 2,
      levels: [
        { peakDb: -6, rmsDb: -9.01, clipped: false, nonFinite: 0 },
        { peakDb: -6, rmsDb: -9.01, clipped: false, nonFinite: 0 },
      ],
      spectrum: { fftSize: 2048, lowHz: 20, bandsPerOctave: 6 },
    });
    expect(frame?.spectrum?.db[0]).toHaveLength(BANDS_AT_6_PER_OCTAVE);
    expect(frame?.waveform?.max).toHaveLength(2);
    expect(frame?.waveform?.min[1]?.[0]).toBe(-0.5012);
  });

  it.each<[string, unknown]>([
    ['null', null],
    ['a number', 42],
    ['a string', '{"blockCount":1}'],
    ['an array', [analysisFrame()]],
    ['an empty object', {}],
    ['no blockCount', changed((f) => delete f.blockCount)],
    ['a fractional blockCount', changed((f) => (f.blockCount = 1.5))],
    ['a blockCount past 32 bits', changed((f) => (f.blockCount = 2 ** 31))],
    ['a blockCount as a string', changed((f) => (f.blockCount = '1000'))],
    ['captureTimeMs "NaN"', changed((f) => (f.captureTimeMs = 'NaN'))],
    ['sentTimeMs null', changed((f) => (f.sentTimeMs = null))],
    ['sampleRate 0', changed((f) => (f.sampleRate = 0))],
    ['sampleRate "Infinity"', changed((f) => (f.sampleRate = 'Infinity'))],
    ['negative samples', changed((f) => (f.samples = -1))],
    ['fractional droppedSamples', changed((f) => (f.droppedSamples = 0.5))],
    ['3 channels', changed((f) => (f.channels = 3))],
    ['channels "2"', changed((f) => (f.channels = '2'))],
  ])('refuses %s', (_, value) => {
    expect(parseAnalysisFrame(value)).toBeNull();
  });

  // Each case spoils one part; the rest of the frame stays.
  it.each<[string, (f: Raw) => void, 'levels' | 'spectrum' | 'waveform']>([
    ['levels: one entry for two channels', (f) => levelsOf(f).pop(), 'levels'],
    ['levels: an entry that is not an object', (f) => ((levelsOf(f) as unknown[])[0] = -6), 'levels'],
    ['levels: peakDb "-inf"', (f) => ((levelsOf(f)[0] as Raw).peakDb = '-inf'), 'levels'],
    ['levels: rmsDb missing', (f) => delete (levelsOf(f)[1] as Raw).rmsDb, 'levels'],
    ['levels: clipped 1', (f) => ((levelsOf(f)[0] as Raw).clipped = 1), 'levels'],
    ['levels: negative nonFinite', (f) => ((levelsOf(f)[0] as Raw).nonFinite = -2), 'levels'],
    ['levels: an object', (f) => (f.levels = { peakDb: 0 }), 'levels'],
    ['spectrum: a band that is a string', (f) => ((spectrumOf(f).db as unknown[][])[0]![3] = '-30'), 'spectrum'],
    ['spectrum: a band that is null (NaN in JSON)', (f) => ((spectrumOf(f).db as unknown[][])[0]![0] = null), 'spectrum'],
    ['spectrum: no rows', (f) => (spectrumOf(f).db = []), 'spectrum'],
    ['spectrum: three rows', (f) => (spectrumOf(f).db = [[-1], [-1], [-1]]), 'spectrum'],
    ['spectrum: rows of two lengths', (f) => (spectrumOf(f).db = [[-1, -2], [-1]]), 'spectrum'],
    ['spectrum: an empty row', (f) => (spectrumOf(f).db = [[]]), 'spectrum'],
    ['spectrum: two bands more than reach 20 kHz', (f) => (spectrumOf(f).db = [Array(BANDS_AT_6_PER_OCTAVE + 2).fill(-1)]), 'spectrum'],
    ['spectrum: a million bands', (f) => (spectrumOf(f).db = [Array(1_000_000).fill(-1)]), 'spectrum'],
    ['spectrum: bandsPerOctave 0', (f) => (spectrumOf(f).bandsPerOctave = 0), 'spectrum'],
    ['spectrum: bandsPerOctave 48', (f) => (spectrumOf(f).bandsPerOctave = 48), 'spectrum'],
    ['spectrum: lowHz above Nyquist', (f) => (spectrumOf(f).lowHz = 30000), 'spectrum'],
    ['spectrum: fftSize missing', (f) => delete spectrumOf(f).fftSize, 'spectrum'],
    ['spectrum: a string', (f) => (f.spectrum = 'none'), 'spectrum'],
    ['waveform: one row for two channels', (f) => (waveformOf(f).min as unknown[]).pop(), 'waveform'],
    ['waveform: min and max of different lengths', (f) => (waveformOf(f).max as number[][])[0]!.pop(), 'waveform'],
    ['waveform: rows of different lengths', (f) => ((waveformOf(f).min as number[][])[1]!.pop(), (waveformOf(f).max as number[][])[1]!.pop()), 'waveform'],
    ['waveform: a slice "NaN"', (f) => ((waveformOf(f).max as unknown[][])[0]![5] = 'NaN'), 'waveform'],
    ['waveform: more slices than the plug-in makes', (f) => {
      const long = () => Array(MAX_WAVEFORM_SLICES + 1).fill(0);
      waveformOf(f).min = [long(), long()];
      waveformOf(f).max = [long(), long()];
    }, 'waveform'],
    ['waveform: max missing', (f) => delete waveformOf(f).max, 'waveform'],
  ])('makes the part null on %s', (_, change, part) => {
    const frame = parseAnalysisFrame(changed(change));
    expect(frame).not.toBeNull();
    expect(frame?.[part]).toBeNull();
    const others = (['levels', 'spectrum', 'waveform'] as const).filter((p) => p !== part);
    for (const other of others) expect(frame?.[other], other).not.toBeNull();
  });

  it.each<[string, (f: Raw) => void, (frame: AnalysisFrame) => unknown, unknown]>([
    ['a part that is null is not asked for', (f) => (f.levels = null), (fr) => fr.levels, null],
    ['positionSamples as a fraction reads null', (f) => (f.positionSamples = 1.5), (fr) => fr.positionSamples, null],
    ['positionSamples missing reads null', (f) => delete f.positionSamples, (fr) => fr.positionSamples, null],
    ['ppqPosition "12" reads null', (f) => (f.ppqPosition = '12'), (fr) => fr.ppqPosition, null],
    ['a negative position is kept (a pre-roll)', (f) => (f.ppqPosition = -2.5), (fr) => fr.ppqPosition, -2.5],
    ['a level below the floor is raised to it', (f) => ((levelsOf(f)[0] as Raw).peakDb = -1e9), (fr) => fr.levels?.[0]?.peakDb, ANALYSIS_FLOOR_DB],
    ['a band below the floor is raised to it', (f) => ((spectrumOf(f).db as number[][])[0]![0] = -400), (fr) => fr.spectrum?.db[0]?.[0], ANALYSIS_FLOOR_DB],
    ['a peak over full scale is kept', (f) => ((levelsOf(f)[0] as Raw).peakDb = 12.5), (fr) => fr.levels?.[0]?.peakDb, 12.5],
    ['one band more than reach 20 kHz is forgiven', (f) => (spectrumOf(f).db = [Array(BANDS_AT_6_PER_OCTAVE + 1).fill(-1)]), (fr) => fr.spectrum?.db[0]?.length, BANDS_AT_6_PER_OCTAVE + 1],
    ['a row per channel', (f) => (spectrumOf(f).db = [[-1, -2], [-3, -4]]), (fr) => fr.spectrum?.db, [[-1, -2], [-3, -4]]],
    ['keys it does not know are dropped', (f) => (f.extra = { a: 1 }), (fr) => 'extra' in fr, false],
  ])('%s', (_, change, pick, expected) => {
    const frame = parseAnalysisFrame(changed(change));
    expect(frame).not.toBeNull();
    expect(pick(frame as AnalysisFrame)).toEqual(expected);
  });

  it('takes a mono frame with one row everywhere', () => {
    const frame = parseAnalysisFrame(analysisFrame({ peakDb: [-120] }));
    expect(frame).toMatchObject({ channels: 1, levels: [{ peakDb: -120, rmsDb: -120 }] });
    expect(frame?.waveform?.min).toHaveLength(1);
    expect(parseAnalysisFrame(changed((f) => (f.channels = 1)))?.levels).toBeNull();
  });

  it('does not share arrays with what it was given', () => {
    const raw = analysisFrame();
    const frame = parseAnalysisFrame(raw);
    ((raw.spectrum as Raw).db as number[][])[0]![0] = 99;
    expect(frame?.spectrum?.db[0]?.[0]).toBe(-30);
  });
});

describe('band geometry', () => {
  it.each<[string, number, number, number]>([
    ['1/6 octave at 48 kHz: 20 Hz to 20 kHz', 6, 48000, 60],
    ['1/24 octave at 192 kHz', 24, 192000, 240],
    ['one octave: 20 Hz · 2^10 passes 20 kHz', 1, 44100, 10],
    ['1/3 octave at 22.05 kHz: up to Nyquist, 11025 Hz', 3, 22050, 28],
    ['1/12 octave at 32 kHz: up to 16 kHz', 12, 32000, 116],
    ['a Nyquist right on a band edge: 20 Hz · 2^9 = 10240 Hz', 1, 20480, 9],
  ])('%s', (_, b, rate, bands) => {
    expect(bandCount(20, b, rate)).toBe(bands);
  });

  const frameWith = (bandsPerOctave: number, bands: number, sampleRate: number) => ({
    sampleRate,
    spectrum: { fftSize: 2048, lowHz: 20, bandsPerOctave, db: [Array<number>(bands).fill(-120)] },
  });

  it('gives one edge more than bands, from lowHz up, the last clipped to the top', () => {
    const edges = bandEdgesHz(frameWith(6, 60, 48000));
    expect(edges).toHaveLength(61);
    expect(edges[0]).toBe(20);
    expect(edges[6]).toBeCloseTo(40, 9);
    expect(edges[59]).toBeCloseTo(20 * 2 ** (59 / 6), 9);
    expect(edges[60]).toBe(20000);
    const nyquist = bandEdgesHz(frameWith(3, 28, 22050));
    expect(nyquist.at(-1)).toBe(11025);
    expect(nyquist.at(-2)).toBeCloseTo(20 * 2 ** 9, 9);
  });

  it('places a band at the geometric middle of its edges, the last one by its clipped top', () => {
    const frame = frameWith(1, 10, 48000);
    expect(bandCenterHz(frame, 0)).toBeCloseTo(Math.SQRT2 * 20, 9);
    expect(bandCenterHz(frame, 9)).toBeCloseTo(Math.sqrt(10240 * 20000), 9);
    for (const i of [-1, 10, 0.5, Number.NaN]) expect(bandCenterHz(frame, i)).toBeNull();
    expect(bandCenterHz({ sampleRate: 48000, spectrum: null }, 0)).toBeNull();
    expect(bandEdgesHz({ sampleRate: 48000, spectrum: null })).toEqual([]);
  });
});
