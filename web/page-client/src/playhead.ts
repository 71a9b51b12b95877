// The plug-in's extended transport reading ("playheadUpdate" / "getPlayhead"):
// every value taken from one audio block, with null where the host supplied
// nothing. Hosts send odd values (NaN arrives as 0, infinities clamped to the
// 32-bit range, 0/0 signatures, inverted loops), so parsing keeps only what a
// value can mean and the helpers below say whether a pair of values is usable.

export interface Playhead {
  /** Some block has carried a host position (sticky). */
  connected: boolean;
  /** The wrapping 32-bit counter of the block this reading comes from. */
  blockCount: number;
  playing: boolean | null;
  recording: boolean | null;
  looping: boolean | null;
  /** Quarter notes per minute; null unless positive and below MAX_TEMPO_BPM. */
  bpm: number | null;
  /** Passed as the host sent it; see usableSignature. */
  timeSigNum: number | null;
  timeSigDen: number | null;
  positionSecs: number | null;
  positionSamples: number | null;
  /** Position in quarter notes. */
  ppqPosition: number | null;
  /** The host's start of the current bar; not to be trusted blindly (see musicalPosition). */
  ppqLastBarStart: number | null;
  barCount: number | null;
  /** Passed as the host sent them; see usableLoop. */
  ppqLoopStart: number | null;
  ppqLoopEnd: number | null;
  /** Null unless positive. */
  sampleRate: number | null;
  hostTimeMs: number | null;
  /** The plug-in's monotonic clock when the block was captured (not the page's clock). */
  captureTimeMs: number | null;
  /** The plug-in's monotonic clock when the reading was made. */
  sentTimeMs: number;
}

export interface TimeSignature {
  num: number;
  den: number;
}

export interface LoopRange {
  start: number;
  end: number;
}

const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;

/** Faster than this is a clamped infinity or garbage, not a tempo. */
export const MAX_TEMPO_BPM = 10000;

/** Bigger signatures than these are a host's garbage, not music. */
export const MAX_SIGNATURE_NUMERATOR = 128;
export const MAX_SIGNATURE_DENOMINATOR = 128;

function finite(value: unknown): number | null {
  return typeof value === 'number' && Number.isFinite(value) ? value : null;
}

function positive(value: unknown): number | null {
  const n = finite(value);
  return n !== null && n > 0 ? n : null;
}

function tempo(value: unknown): number | null {
  const n = positive(value);
  return n !== null && n <= MAX_TEMPO_BPM ? n : null;
}

function integer(value: unknown): number | null {
  return typeof value === 'number' && Number.isSafeInteger(value) ? value : null;
}

function bool(value: unknown): boolean | null {
  return typeof value === 'boolean' ? value : null;
}

/**
 * The reading inside `value`, or null when it is not one (not an object, or
 * without a boolean `connected`, a 32-bit `blockCount` and a finite
 * `sentTimeMs`). Any other key that is missing or cannot mean anything (wrong
 * type, not finite, a fraction where an integer belongs, a tempo that is not
 * positive or past MAX_TEMPO_BPM, a sample rate that is not positive) becomes null. Never throws.
 */
export function parsePlayhead(value: unknown): Playhead | null {
  if (typeof value !== 'object' || value === null || Array.isArray(value)) return null;
  const v = value as Record<string, unknown>;

  const blockCount = integer(v.blockCount);
  const sentTimeMs = finite(v.sentTimeMs);
  if (typeof v.connected !== 'boolean' || blockCount === null || blockCount < INT32_MIN || blockCount > INT32_MAX || sentTimeMs === null) {
    return null;
  }

  return {
    connected: v.connected,
    blockCount,
    playing: bool(v.playing),
    recording: bool(v.recording),
    looping: bool(v.looping),
    bpm: tempo(v.bpm),
    timeSigNum: integer(v.timeSigNum),
    timeSigDen: integer(v.timeSigDen),
    positionSecs: finite(v.positionSecs),
    positionSamples: integer(v.positionSamples),
    ppqPosition: finite(v.ppqPosition),
    ppqLastBarStart: finite(v.ppqLastBarStart),
    barCount: integer(v.barCount),
    ppqLoopStart: finite(v.ppqLoopStart),
    ppqLoopEnd: finite(v.ppqLoopEnd),
    sampleRate: positive(v.sampleRate),
    hostTimeMs: finite(v.hostTimeMs),
    captureTimeMs: finite(v.captureTimeMs),
    sentTimeMs,
  };
}

/**
 * The time signature when it can place beats: a numerator of at least 1 and
 * a denominator that is a power of two, neither absurdly large.
 */
export function usableSignature(p: Pick<Playhead, 'timeSigNum' | 'timeSigDen'>): TimeSignature | null {
  const { timeSigNum: num, timeSigDen: den } = p;
  if (num === null || den === null) return null;
  if (num < 1 || num > MAX_SIGNATURE_NUMERATOR) return null;
  if (den < 1 || den > MAX_SIGNATURE_DENOMINATOR || (den & (den - 1)) !== 0) return null;
  return { num, den };
}

/** The host's loop when it is on and runs forwards (start before end). */
export function usableLoop(p: Pick<Playhead, 'looping' | 'ppqLoopStart' | 'ppqLoopEnd'>): LoopRange | null {
  if (p.looping !== true || p.ppqLoopStart === null || p.ppqLoopEnd === null) return null;
  return p.ppqLoopStart < p.ppqLoopEnd ? { start: p.ppqLoopStart, end: p.ppqLoopEnd } : null;
}
