import { describe, expect, it } from 'vitest';
import { createClockOffsetEstimator } from '../../src/clockOffset';
import { parsePlayhead, type Playhead } from '../../src/playhead';
import {
  createPlayheadPredictor,
  HOLD_TOLERANCE_MS,
  MAX_EXTRAPOLATION_MS,
  type PlayheadPrediction,
  type PlayheadPredictor,
} from '../../src/playheadPredictor';
import { hostTimeline, type HostMoment, type ReadingOptions, type TimelineScript } from '../hostTimeline';

// Page time 0 is the session's start; the plug-in's clock has another origin.
const READING_OPTIONS: ReadingOptions = { sampleRate: 48000, blockSize: 512, pluginClockAtStartMs: 86_400_000.25, barStart: 'right' };
const BLOCK_MS = (512 * 1000) / 48000;
const FRAME_MS = 1000 / 60;

interface Frame {
  t: number;
  out: PlayheadPrediction;
  truth: HostMoment;
  /** Readings delivered by then. */
  delivered: number;
  /** Capture time (page) of the newest delivered reading. */
  newestCapture: number;
}

interface Session {
  script: TimelineScript;
  durationMs: number;
  /** Readings leave up to this late after their 250 ms tick and arrive up to this late again. */
  jitterMs?: number;
  /** Moves a reading's capture stamp, to make a reading that lands behind or ahead of the truth. */
  stampShiftMs?: (k: number) => number;
  seed?: number;
}

/** Small fixed-seed generator, so each run's jitter repeats. */
function generator(seed: number): () => number {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

/** Plays `session` through the page's pipeline (clock offset, predictor) and samples it at 60 frames a second. */
function play(session: Session, predictor: PlayheadPredictor = createPlayheadPredictor()): Frame[] {
  const timeline = hostTimeline(session.script);
  const random = generator(session.seed ?? 7);
  const jitter = session.jitterMs ?? 0;
  const offset = createClockOffsetEstimator();

  const arrivals: { at: number; reading: Playhead; capture: number }[] = [];
  for (let k = 1; k * 250 <= session.durationMs; k++) {
    const sent = k * 250 + random() * jitter;
    const made = timeline.readings(sent, READING_OPTIONS);
    const shift = session.stampShiftMs?.(k) ?? 0;
    const reading = parsePlayhead({ ...made.playhead, captureTimeMs: (made.playhead.captureTimeMs as number) + shift });
    if (reading === null) throw new Error('the timeline made a reading the page refuses');
    arrivals.push({ at: sent + random() * jitter, reading, capture: made.captureMs });
  }
  arrivals.sort((a, b) => a.at - b.at);

  const frames: Frame[] = [];
  let next = 0;
  let newestCapture = Number.NaN;
  for (let t = 0; t <= session.durationMs; t += FRAME_MS) {
    while (next < arrivals.length && (arrivals[next]?.at ?? Infinity) <= t) {
      const a = arrivals[next++];
      if (a === undefined) break;
      offset.add(a.at, a.reading.sentTimeMs);
      predictor.update(a.reading, a.at, offset.offsetMs());
      newestCapture = a.capture;
    }
    if (next === 0) continue;
    frames.push({ t, out: predictor.predict(t), truth: timeline.at(t), delivered: next, newestCapture });
  }
  return frames;
}

/** How far the prediction is from the truth, in milliseconds of play at the truth's tempo, the short way round a loop. */
function errorMs(f: Frame): number {
  const ppq = f.out.ppqPosition ?? Number.NaN;
  let d = ppq - f.truth.ppqPosition;
  const loop = f.truth.loop;
  if (loop !== null) {
    const length = loop.end - loop.start;
    d -= length * Math.round(d / length);
  }
  return Math.abs((d * 60000) / f.truth.bpm);
}

const STEADY_120: TimelineScript = { tempoMap: [{ ppq: 0, bpm: 120 }], timeSigNum: 4, timeSigDen: 4, startPpq: 0, playing: true, loop: null };
const TEMPO_STEP: TimelineScript = {
  tempoMap: [
    { ppq: 0, bpm: 128 },
    { ppq: 8, bpm: 96 },
    { ppq: 16, bpm: 150 },
  ],
  timeSigNum: 4,
  timeSigDen: 4,
  startPpq: 0,
  playing: true,
  loop: null,
};

describe('while the host plays steadily', () => {
  it.each<[string, Session]>([
    ['readings on time', { script: STEADY_120, durationMs: 6000 }],
    ['readings sent and delivered up to 40 ms late', { script: STEADY_120, durationMs: 6000, jitterMs: 40 }],
    ['readings stamped up to 25 ms off either way', { script: STEADY_120, durationMs: 6000, jitterMs: 20, stampShiftMs: (k) => ((k * 37) % 51) - 25 }],
    ['tempo steps down and up between readings', { script: TEMPO_STEP, durationMs: 8000, jitterMs: 40 }],
    ['7/8 at 140 bpm', { script: { ...STEADY_120, tempoMap: [{ ppq: 0, bpm: 140 }], timeSigNum: 7, timeSigDen: 8 }, durationMs: 6000, jitterMs: 40 }],
  ])('never moves backwards with %s', (_, session) => {
    const frames = play(session);
    for (let i = 1; i < frames.length; i++) {
      const [a, b] = [frames[i - 1] as Frame, frames[i] as Frame];
      expect(b.out.ppqPosition ?? -Infinity, `at ${b.t.toFixed(1)} ms`).toBeGreaterThanOrEqual(a.out.ppqPosition ?? Infinity);
      expect(b.out.positionSecs ?? -Infinity, `at ${b.t.toFixed(1)} ms`).toBeGreaterThanOrEqual(a.out.positionSecs ?? Infinity);
    }
  });

  // With jitter, the clock offset is only as good as the least-delayed
  // delivery so far: a few milliseconds after a handful of readings.
  it.each<[string, Session, number]>([
    ['with readings on time', { script: STEADY_120, durationMs: 6000 }, 1],
    ['with delivery jitter, through the clock offset', { script: STEADY_120, durationMs: 6000, jitterMs: 40 }, 5],
    ['in 7/8 with a loop', { script: { ...STEADY_120, timeSigNum: 7, timeSigDen: 8, loop: { start: 3.5, end: 7 } }, durationMs: 8000, jitterMs: 40 }, 5],
  ])('stays on the host between readings %s', (_, session, toleranceMs) => {
    for (const f of play(session)) expect(errorMs(f), `at ${f.t.toFixed(1)} ms`).toBeLessThanOrEqual(toleranceMs);
  });

  it('counts bars, beats and ticks on with the position', () => {
    const frames = play({ script: { ...STEADY_120, startPpq: 32 }, durationMs: 1000 });
    // Half a beat after a reading at 2.5 s of play: 0.5 s = 1 quarter note past 33.
    const f = frames.find((x) => x.t >= 750 - FRAME_MS / 2 && x.t < 750 + FRAME_MS / 2);
    expect(f?.out).toMatchObject({ bar: 9, beat: 2, tick: 480, playing: true, extrapolated: true });
    expect(f?.out.musical?.source).toBe('host');
  });
});

describe('when the host changes course', () => {
  // Each case: the session, when the change happens, and whether frames after
  // it must stand still.
  it.each<[string, TimelineScript, number, boolean]>([
    ['a stop', { ...STEADY_120, events: [{ atMs: 2100, playing: false }] }, 2100, true],
    ['a seek forwards', { ...STEADY_120, events: [{ atMs: 2100, seekPpq: 100 }] }, 2100, false],
    ['a seek backwards', { ...STEADY_120, startPpq: 100, events: [{ atMs: 2100, seekPpq: 2 }] }, 2100, false],
    ['a seek backwards within a beat', { ...STEADY_120, events: [{ atMs: 2100, seekPpq: 3.5 }] }, 2100, false],
    ['playing again after a stop', { ...STEADY_120, events: [{ atMs: 1000, playing: false }, { atMs: 2100, playing: true }] }, 2100, false],
    ['a loop turned on behind the play head', { ...STEADY_120, events: [{ atMs: 2100, loop: { start: 0, end: 4.5 } }] }, 2100, false],
  ])('is right again from the first reading after %s', (_, script, atMs, still) => {
    const frames = play({ script, durationMs: 4000, jitterMs: 40 });
    const after = frames.filter((f) => f.newestCapture > atMs);
    expect(after.length).toBeGreaterThan(0);
    for (const f of after) {
      expect(errorMs(f), `at ${f.t.toFixed(1)} ms`).toBeLessThanOrEqual(5);
      if (still) expect(f.out).toMatchObject({ playing: false, extrapolated: false, ppqPosition: f.truth.ppqPosition });
    }
  });

  it('wraps at the loop end between readings, not a reading later', () => {
    // A one-second loop, so most wraps fall between two readings.
    const script: TimelineScript = { ...STEADY_120, loop: { start: 4, end: 6 }, startPpq: 4 };
    const frames = play({ script, durationMs: 5000 });
    const wraps = frames.filter((f, i) => i > 0 && (f.truth.ppqPosition < (frames[i - 1] as Frame).truth.ppqPosition));
    expect(wraps.length).toBeGreaterThanOrEqual(4);
    for (const f of wraps) {
      expect(f.out.ppqPosition ?? Infinity).toBeLessThan(6);
      expect(errorMs(f)).toBeLessThanOrEqual(1);
    }
  });
});

describe('single readings', () => {
  const base = parsePlayhead(hostTimeline(STEADY_120).readings(1000, { ...READING_OPTIONS, blockSize: 1 }).playhead) as Playhead;
  const offset = -READING_OPTIONS.pluginClockAtStartMs;
  const capture = (base.captureTimeMs as number) + offset;
  const later = (r: Playhead, ms: number, change: Partial<Playhead> = {}): Playhead => ({
    ...r,
    ...change,
    captureTimeMs: (r.captureTimeMs as number) + ms,
    sentTimeMs: r.sentTimeMs + ms,
  });

  it.each<[string, number, boolean]>([
    ['a little behind is held', HOLD_TOLERANCE_MS - 5, true],
    ['further behind is shown: a seek', HOLD_TOLERANCE_MS + 15, false],
  ])('a steady reading %s', (_, behindMs, held) => {
    const predictor = createPlayheadPredictor();
    predictor.update(base, capture, offset);
    const before = predictor.predict(capture + 250);
    // Captured 250 ms on, but at a position behindMs short of where the host was.
    const next = later(base, 250, { ppqPosition: (base.ppqPosition as number) + (250 - behindMs) / 500, positionSecs: (base.positionSecs as number) + (250 - behindMs) / 1000 });
    predictor.update(next, capture + 252, offset);
    const out = predictor.predict(capture + 250);
    expect(out.held).toBe(held);
    if (held) {
      expect(out.ppqPosition).toBe(before.ppqPosition);
      // ...until the new prediction passes it.
      const passed = predictor.predict(capture + 251 + behindMs);
      expect(passed.held).toBe(false);
      expect(passed.ppqPosition ?? -Infinity).toBeGreaterThan(before.ppqPosition ?? Infinity);
    } else {
      expect(out.ppqPosition ?? Infinity).toBeLessThan(before.ppqPosition ?? -Infinity);
    }
  });

  it.each<[string, Partial<Playhead>, number, number]>([
    ['a stopped host', { playing: false }, 2, 2],
    ['a host whose play state is unknown', { playing: null }, 2, 2],
    ['a host looping a range it is not in', { looping: true, ppqLoopStart: 0, ppqLoopEnd: 1 }, 2, 2.5],
    ['a host with an inverted loop', { looping: true, ppqLoopStart: 2.2, ppqLoopEnd: 2 }, 2, 2.5],
    ['a host looping around it', { looping: true, ppqLoopStart: 1.5, ppqLoopEnd: 2.25 }, 2, 1.75],
    ['a host without a tempo (quarter notes stand still)', { bpm: null }, 2, 2],
  ])('%s: where it is 250 ms on', (_, change, from, expected) => {
    const predictor = createPlayheadPredictor();
    predictor.update({ ...base, ...change }, capture, offset);
    expect(predictor.predict(capture).ppqPosition).toBeCloseTo(from, 9);
    expect(predictor.predict(capture + 250).ppqPosition).toBeCloseTo(expected, 9);
  });

  it('moves on for at most MAX_EXTRAPOLATION_MS when readings stop coming', () => {
    const predictor = createPlayheadPredictor();
    predictor.update(base, capture, offset);
    const out = predictor.predict(capture + 10 * MAX_EXTRAPOLATION_MS);
    expect(out.positionSecs).toBeCloseTo((base.positionSecs as number) + MAX_EXTRAPOLATION_MS / 1000, 9);
  });

  it('uses the arrival time for a reading it cannot place on the page clock', () => {
    for (const [reading, clockOffset] of [[{ ...base, captureTimeMs: null }, offset], [base, null]] as const) {
      const predictor = createPlayheadPredictor();
      predictor.update(reading, 5000, clockOffset);
      expect(predictor.predict(5250).ppqPosition).toBeCloseTo(2.5, 9);
    }
  });

  it('answers without throwing whatever it is given', () => {
    const predictor = createPlayheadPredictor();
    expect(predictor.predict(100)).toMatchObject({ playing: false, ppqPosition: null, bar: null });
    const odd: Playhead[] = [
      { ...base, timeSigNum: 0, timeSigDen: 0, ppqLastBarStart: Number.MAX_VALUE },
      { ...base, ppqPosition: null, positionSecs: null, bpm: null },
      { ...base, ppqPosition: 2147483647, ppqLoopStart: -2147483648, ppqLoopEnd: 2147483647, looping: true },
      { ...base, captureTimeMs: -1e300, sentTimeMs: 1e300 },
    ];
    for (const reading of odd) {
      expect(() => {
        predictor.update(reading, 1000, offset);
        for (const t of [Number.NaN, -Infinity, 0, 1000, 1250, Infinity]) predictor.predict(t);
        predictor.atReading();
      }).not.toThrow();
    }
  });
});
