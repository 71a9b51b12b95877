// What the plug-in measures of the sound passing through it ("analysisFrame"):
// per-channel levels, a spectrum in bands of a fraction of an octave, and a
// waveform envelope, each frame stamped like the playhead reading so a page
// can place the audio against bars and beats.
//
// The parser never throws. A frame without its stamps (block count, capture
// and sent times, sample rate, sample counts, channel count) is refused
// whole; a part (levels, spectrum, waveform) whose content cannot be drawn
// becomes null and the rest of the frame is kept, as playhead keys do.

/** dBFS values never go below this; silence reads it. */
export const ANALYSIS_FLOOR_DB = -120;
/** Bands start here; the first band covers [20 Hz, 20·2^(1/b) Hz). */
export const SPECTRUM_LOW_HZ = 20;
/** Bands stop at the lower of this and the Nyquist frequency. */
export const SPECTRUM_TOP_HZ = 20000;
export const MAX_WAVEFORM_SLICES = 1024;
export const MAX_BANDS_PER_OCTAVE = 24;

export interface ChannelLevels {
  /** Largest |sample| in the frame, dBFS; ANALYSIS_FLOOR_DB for silence. */
  peakDb: number;
  /** RMS relative to full scale (a full-scale sine reads -3.01), dBFS. */
  rmsDb: number;
  /** Some |sample| reached 1.0. */
  clipped: boolean;
  /** NaN and infinite samples in the frame, left out of every figure. */
  nonFinite: number;
}

export interface SpectrumFrame {
  fftSize: number;
  lowHz: number;
  bandsPerOctave: number;
  /** dBFS per band (a full-scale sine reads 0 in its band): one row for the sum of the channels, or one per channel. */
  db: number[][];
}

export interface WaveformFrame {
  /** Per channel, the slices' smallest and largest sample, oldest slice first. */
  min: number[][];
  max: number[][];
}

export interface AnalysisFrame {
  /** The wrapping 32-bit counter of the newest block the frame covers, as in the playhead reading. */
  blockCount: number;
  /** That block's position in samples; null when the host gave none. */
  positionSamples: number | null;
  /** That block's position in quarter notes; null when the host gave none. */
  ppqPosition: number | null;
  /** When that block was captured, on the plug-in clock (not the page's). */
  captureTimeMs: number;
  /** When the frame was made, on the plug-in clock. */
  sentTimeMs: number;
  sampleRate: number;
  /** Samples per channel the frame covers: those since the previous frame. */
  samples: number;
  /** Samples per channel lost since analysis started (the plug-in's ring overran); cumulative. */
  droppedSamples: number;
  channels: 1 | 2;
  levels: ChannelLevels[] | null;
  spectrum: SpectrumFrame | null;
  waveform: WaveformFrame | null;
}

const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;

function finite(value: unknown): number | null {
  return typeof value === 'number' && Number.isFinite(value) ? value : null;
}

function count(value: unknown): number | null {
  return typeof value === 'number' && Number.isSafeInteger(value) && value >= 0 ? value : null;
}

function isRecord(value: unknown): value is Record<string, unknown> {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

/** A dB value raised to the floor, or null when it is not a finite number. */
function decibels(value: unknown): number | null {
  const n = finite(value);
  return n === null ? null : Math.max(n, ANALYSIS_FLOOR_DB);
}

/** Finite numbers only, each passed through `map`; null on anything else or on a length outside 1..maxLength. */
function numberRow(value: unknown, maxLength: number, map: (n: unknown) => number | null): number[] | null {
  if (!Array.isArray(value) || value.length === 0 || value.length > maxLength) return null;
  const row = new Array<number>(value.length);
  for (let i = 0; i < value.length; i++) {
    const n = map(value[i]);
    if (n === null) return null;
    row[i] = n;
  }
  return row;
}

/** `rows` rows of one common length; null otherwise. */
function numberRows(value: unknown, rows: readonly number[], maxLength: number, map: (n: unknown) => number | null): number[][] | null {
  if (!Array.isArray(value) || !rows.includes(value.length)) return null;
  const out: number[][] = [];
  for (const raw of value) {
    const row = numberRow(raw, maxLength, map);
    if (row === null || (out.length > 0 && row.length !== out[0]?.length)) return null;
    out.push(row);
  }
  return out;
}

function parseLevels(value: unknown, channels: number): ChannelLevels[] | null {
  if (!Array.isArray(value) || value.length !== channels) return null;
  const levels: ChannelLevels[] = [];
  for (const raw of value) {
    if (!isRecord(raw)) return null;
    const peakDb = decibels(raw.peakDb);
    const rmsDb = decibels(raw.rmsDb);
    const nonFinite = count(raw.nonFinite);
    if (peakDb === null || rmsDb === null || typeof raw.clipped !== 'boolean' || nonFinite === null) return null;
    levels.push({ peakDb, rmsDb, clipped: raw.clipped, nonFinite });
  }
  return levels;
}

/** The upper edge of the bands at `sampleRate`: 20 kHz, or the Nyquist frequency below it. */
export function spectrumTopHz(sampleRate: number): number {
  return Math.min(SPECTRUM_TOP_HZ, sampleRate / 2);
}

/** How many bands of 1/`bandsPerOctave` octave from `lowHz` reach spectrumTopHz (the last one clipped). */
export function bandCount(lowHz: number, bandsPerOctave: number, sampleRate: number): number {
  const top = spectrumTopHz(sampleRate);
  if (!(top > lowHz) || !(bandsPerOctave > 0)) return 0;
  // A band edge within rounding of the top is the top.
  return Math.max(1, Math.ceil(bandsPerOctave * Math.log2(top / lowHz) - 1e-9));
}

function parseSpectrum(value: unknown, channels: number, sampleRate: number): SpectrumFrame | null {
  if (!isRecord(value)) return null;
  const fftSize = count(value.fftSize);
  const lowHz = finite(value.lowHz);
  const bandsPerOctave = count(value.bandsPerOctave);
  if (fftSize === null || fftSize < 2 || lowHz === null || lowHz <= 0 || bandsPerOctave === null) return null;
  if (bandsPerOctave < 1 || bandsPerOctave > MAX_BANDS_PER_OCTAVE) return null;
  const expected = bandCount(lowHz, bandsPerOctave, sampleRate);
  if (expected === 0) return null;
  // One band more than the geometry gives is forgiven: the plug-in may round the top edge the other way.
  const db = numberRows(value.db, channels === 2 ? [1, 2] : [1], expected + 1, decibels);
  return db === null ? null : { fftSize, lowHz, bandsPerOctave, db };
}

function parseWaveform(value: unknown, channels: number): WaveformFrame | null {
  if (!isRecord(value)) return null;
  const min = numberRows(value.min, [channels], MAX_WAVEFORM_SLICES, finite);
  const max = numberRows(value.max, [channels], MAX_WAVEFORM_SLICES, finite);
  if (min === null || max === null || min[0]?.length !== max[0]?.length) return null;
  return { min, max };
}

/**
 * The frame inside `value`, or null when it is not one: not an object, or
 * without a 32-bit `blockCount`, finite `captureTimeMs` and `sentTimeMs`, a
 * positive `sampleRate`, whole non-negative `samples` and `droppedSamples`,
 * and `channels` 1 or 2. A position that is not a number (or not a whole
 * one, for `positionSamples`) becomes null. A part becomes null when it is
 * not the shape the plug-in sends: `levels` one entry per channel;
 * `spectrum` one row or one per channel, all of one length, at most one band
 * more than reach the top edge; `waveform` `min` and `max` one row per
 * channel of 1..MAX_WAVEFORM_SLICES slices, all of one length; and any value
 * in it that is not a finite number (numeric strings included). dB values
 * below ANALYSIS_FLOOR_DB are raised to it. Never throws.
 */
export function parseAnalysisFrame(value: unknown): AnalysisFrame | null {
  if (!isRecord(value)) return null;
  const blockCount = finite(value.blockCount);
  const captureTimeMs = finite(value.captureTimeMs);
  const sentTimeMs = finite(value.sentTimeMs);
  const sampleRate = finite(value.sampleRate);
  const samples = count(value.samples);
  const droppedSamples = count(value.droppedSamples);
  const channels = value.channels;
  if (
    blockCount === null ||
    !Number.isInteger(blockCount) ||
    blockCount < INT32_MIN ||
    blockCount > INT32_MAX ||
    captureTimeMs === null ||
    sentTimeMs === null ||
    sampleRate === null ||
    sampleRate <= 0 ||
    samples === null ||
    droppedSamples === null ||
    (channels !== 1 && channels !== 2)
  ) {
    return null;
  }

  const positionSamples = finite(value.positionSamples);
  return {
    blockCount,
    positionSamples: positionSamples !== null && Number.isSafeInteger(positionSamples) ? positionSamples : null,
    ppqPosition: finite(value.ppqPosition),
    captureTimeMs,
    sentTimeMs,
    sampleRate,
    samples,
    droppedSamples,
    channels,
    levels: parseLevels(value.levels, channels),
    spectrum: parseSpectrum(value.spectrum, channels, sampleRate),
    waveform: parseWaveform(value.waveform, channels),
  };
}

type SpectrumGeometry = Pick<AnalysisFrame, 'sampleRate' | 'spectrum'>;

/**
 * The edges of the frame's bands in Hz, one more than there are bands: band
 * i covers [edges[i], edges[i+1]), lowHz·2^(i/b) upwards, the last edge
 * clipped to spectrumTopHz. Empty without a spectrum.
 */
export function bandEdgesHz(frame: SpectrumGeometry): number[] {
  const spectrum = frame.spectrum;
  const bands = spectrum?.db[0]?.length ?? 0;
  if (spectrum === null || bands === 0) return [];
  const top = spectrumTopHz(frame.sampleRate);
  const edges: number[] = [];
  for (let i = 0; i <= bands; i++) edges.push(Math.min(spectrum.lowHz * 2 ** (i / spectrum.bandsPerOctave), top));
  return edges;
}

/** The geometric middle of band `i` in Hz (where it sits on a logarithmic axis); null when there is no such band. */
export function bandCenterHz(frame: SpectrumGeometry, i: number): number | null {
  const spectrum = frame.spectrum;
  const bands = spectrum?.db[0]?.length ?? 0;
  if (spectrum === null || !Number.isInteger(i) || i < 0 || i >= bands) return null;
  const top = spectrumTopHz(frame.sampleRate);
  const low = Math.min(spectrum.lowHz * 2 ** (i / spectrum.bandsPerOctave), top);
  const high = Math.min(spectrum.lowHz * 2 ** ((i + 1) / spectrum.bandsPerOctave), top);
  return Math.sqrt(low * high);
}
