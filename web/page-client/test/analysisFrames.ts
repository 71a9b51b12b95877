// Analysis frames as the plug-in sends them ("analysisFrame"), for tests:
// every key, in the plug-in's order, with a stereo signal at the levels given.

/** Bands of 1/6 octave from 20 Hz to 20 kHz: ceil(6 · log2(1000)). */
export const BANDS_AT_6_PER_OCTAVE = 60;

export interface FrameShape {
  blockCount?: number;
  positionSamples?: number | null;
  ppqPosition?: number | null;
  captureTimeMs?: number;
  sentTimeMs?: number;
  sampleRate?: number;
  samples?: number;
  droppedSamples?: number;
  /** dBFS per channel; their count is the channel count. */
  peakDb?: number[];
  /** A band's value, for all bands; each band a little lower than the one before. */
  spectrumDb?: number;
  bands?: number;
  slices?: number;
}

/** A frame of a stereo signal at -6 dBFS peak, 48 kHz, 1600 samples, 60 bands, 64 slices, unless told otherwise. */
export function analysisFrame(shape: FrameShape = {}): Record<string, unknown> {
  const peaks = shape.peakDb ?? [-6, -6];
  const bands = shape.bands ?? BANDS_AT_6_PER_OCTAVE;
  const slices = shape.slices ?? 64;
  const spectrumDb = shape.spectrumDb ?? -30;
  const amplitude = (db: number): number => Math.round(10 ** (db / 20) * 1e4) / 1e4;
  return {
    blockCount: shape.blockCount ?? 1000,
    positionSamples: shape.positionSamples === undefined ? 480000 : shape.positionSamples,
    ppqPosition: shape.ppqPosition === undefined ? 20 : shape.ppqPosition,
    captureTimeMs: shape.captureTimeMs ?? 86_405_000,
    sentTimeMs: shape.sentTimeMs ?? 86_405_003,
    sampleRate: shape.sampleRate ?? 48000,
    samples: shape.samples ?? 1600,
    droppedSamples: shape.droppedSamples ?? 0,
    channels: peaks.length,
    levels: peaks.map((peakDb) => ({ peakDb, rmsDb: Math.max(peakDb - 3.01, -120), clipped: peakDb >= 0, nonFinite: 0 })),
    spectrum: {
      fftSize: 2048,
      lowHz: 20,
      bandsPerOctave: 6,
      db: [Array.from({ length: bands }, (_, i) => Math.max(spectrumDb - i * 0.5, -120))],
    },
    waveform: {
      min: peaks.map((db) => Array.from({ length: slices }, () => -amplitude(db))),
      max: peaks.map((db) => Array.from({ length: slices }, () => amplitude(db))),
    },
  };
}
