// How well the shipped page's play head follows the host between readings.
//
// Loads the built page in headless Chromium with the fake plug-in playing a
// scripted session (the bug report's: 4/4 from bar 7 at 128 bpm, 96 bpm from
// bar 9, looping bars 9 and 10; then a stop, playing again and a seek), with
// readings sent on a jittery 250 ms timer and delivered late by a jittery
// amount. At every animation frame it asks the page's prediction
// (window.quillbeatPlayhead.predict) and the fake host's true position for the
// same moment, and prints how far apart they are. It prints figures; nothing
// passes or fails on them.
//
//   npm run bench:prediction

import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'vitest';
import { launchChromium } from '../test/browser/chromium';
import { serveFolder } from '../test/browser/staticServer';
import { fakeJuceInitScript, type FakeDelivery, type FakeJuceOptions } from '../page-client/test/fakeJuce';
import type { HostMoment, TimelineScript } from '../page-client/test/hostTimeline';

const distDir = resolve(dirname(fileURLToPath(import.meta.url)), '../dist');
const SESSION_MS = 24_000;
const JITTER_MS = 20;
/** A prediction this close to the host counts as right: well under a frame at 60 Hz. */
const RIGHT_MS = 10;
/** Play counts as steady from this long after a change, once a reading from after it has arrived. */
const SETTLE_MS = 500;

// Playing starts just after bar 7 and reaches bar 9 (the tempo step and the
// loop) 3.609 s in, between two readings as changes mostly fall; each lap is
// 5 s at 96 bpm.
const SCRIPT: TimelineScript = {
  tempoMap: [
    { ppq: 0, bpm: 128 },
    { ppq: 32, bpm: 96 },
  ],
  timeSigNum: 4,
  timeSigDen: 4,
  startPpq: 24.3,
  playing: true,
  loop: { start: 32, end: 40 },
  events: [
    { atMs: 15_100, playing: false },
    { atMs: 16_300, playing: true },
    { atMs: 19_000, seekPpq: 4, loop: null },
  ],
};

const FAKE: FakeJuceOptions = { timeline: { script: SCRIPT, jitterMs: JITTER_MS, seed: 2024 } };


interface FrameSample {
  t: number;
  ppq: number | null;
  playing: boolean;
  truth: HostMoment;
  /** Readings delivered by then, and the newest one's capture time. */
  delivered: number;
  capturedAt: number;
  /** The newest reading's own position: what the page shows with smooth off. */
  readingPpq: number | null;
}

interface Change {
  label: string;
  atMs: number;
  /** Playing on across it is still steady play (a tempo step or a wrap), or it breaks it (stop, seek). */
  kind: 'start' | 'tempo' | 'wrap' | 'stop' | 'play' | 'seek';
}

/** Runs in the page: samples the prediction and the truth at every frame until the session ends. */
function sampleFrames(untilMs: number): Promise<FrameSample[]> {
  return new Promise((resolvePromise) => {
    const samples: FrameSample[] = [];
    const frame = (): void => {
      const t = performance.now();
      const host = window.__fakeHost;
      const api = window.quillbeatPlayhead;
      const truth = host?.truthAt(t);
      const last = host?.deliveries[host.deliveries.length - 1];
      if (host && api && truth && last) {
        const p = api.predict(t);
        const reading = host.playhead;
        samples.push({
          t,
          ppq: p.ppqPosition,
          playing: p.playing,
          truth,
          delivered: host.deliveries.length,
          capturedAt: last.capturedAt,
          readingPpq: typeof reading?.ppqPosition === 'number' ? reading.ppqPosition : null,
        });
      }
      if (host !== undefined && t - host.startedAt < untilMs) requestAnimationFrame(frame);
      else resolvePromise(samples);
    };
    requestAnimationFrame(frame);
  });
}

function loopLength(m: HostMoment): number | null {
  return m.loop === null ? null : m.loop.end - m.loop.start;
}

/** Milliseconds of play between `ppq` and the truth, the short way round the loop. */
function errorMs(ppq: number | null, truth: HostMoment): number {
  if (ppq === null) return Infinity;
  let d = ppq - truth.ppqPosition;
  const length = loopLength(truth);
  if (length !== null) d -= length * Math.round(d / length);
  return Math.abs((d * 60000) / truth.bpm);
}

function quantile(sorted: number[], q: number): number {
  if (sorted.length === 0) return Number.NaN;
  const i = Math.min(sorted.length - 1, Math.max(0, Math.ceil(q * sorted.length) - 1));
  return sorted[i] as number;
}

function distribution(values: number[]): string {
  const sorted = [...values].sort((a, b) => a - b);
  const f = (x: number) => x.toFixed(2);
  return `median ${f(quantile(sorted, 0.5))} ms, 99th percentile ${f(quantile(sorted, 0.99))} ms, max ${f(sorted.at(-1) ?? Number.NaN)} ms (${values.length} frames)`;
}

/** The session's changes in page time, the loop wraps read off the truth itself. */
function changes(samples: FrameSample[], startedAt: number, firstDelivery: number): Change[] {
  const found: Change[] = [
    // The clock offset starts from one delivery's delay and improves with the next ones.
    { label: 'first reading (page start)', atMs: firstDelivery, kind: 'start' },
    { label: 'tempo step 128 -> 96 bpm at bar 9', atMs: startedAt + ((32 - SCRIPT.startPpq) * 60000) / 128, kind: 'tempo' },
    { label: 'stop', atMs: startedAt + 15_100, kind: 'stop' },
    { label: 'play again', atMs: startedAt + 16_300, kind: 'play' },
    { label: 'seek back to bar 2, loop off', atMs: startedAt + 19_000, kind: 'seek' },
  ];
  let laps = 0;
  for (let i = 1; i < samples.length; i++) {
    const [a, b] = [samples[i - 1] as FrameSample, samples[i] as FrameSample];
    const length = loopLength(b.truth);
    if (length === null || !a.truth.playing || !b.truth.playing) continue;
    // A fall of more than half a lap between frames, with no seek in between, is a wrap.
    if (a.truth.ppqPosition - b.truth.ppqPosition > length / 2) {
      const wrapAt = b.t - ((b.truth.ppqPosition - (b.truth.loop?.start ?? 0)) * 60000) / b.truth.bpm;
      found.push({ label: `loop wrap ${++laps} (bar 11 -> bar 9)`, atMs: wrapAt, kind: 'wrap' });
    }
  }
  return found.sort((x, y) => x.atMs - y.atMs);
}

interface Recovery {
  updates: number | null;
  ms: number | null;
  /** Right from the first frame after the change on. */
  throughout: boolean;
}

/**
 * After `change`: how many readings captured after it had arrived by the
 * frame from which every frame up to the next change is right, and how long
 * after the change that frame was. Zero updates: the prediction never went
 * wrong (beyond RIGHT_MS).
 */
function recovery(samples: FrameSample[], change: Change, nextAt: number, deliveries: FakeDelivery[]): Recovery {
  const window = samples.filter((s) => s.t >= change.atMs && s.t < nextAt);
  for (let i = 0; i < window.length; i++) {
    const rest = window.slice(i);
    if (rest.every((s) => errorMs(s.ppq, s.truth) <= RIGHT_MS)) {
      const first = rest[0] as FrameSample;
      const updates = deliveries.filter((d) => d.capturedAt > change.atMs && d.deliveredAt <= first.t).length;
      return { updates, ms: first.t - change.atMs, throughout: i === 0 };
    }
  }
  return { updates: null, ms: null, throughout: false };
}

it('prints how closely the page predicts the host', { timeout: SESSION_MS + 60_000 }, async () => {
  const server = await serveFolder(distDir);
  const browser = await launchChromium();
  const context = browser.context;
  try {
    const page = await context.newPage();
    await page.setViewportSize({ width: 800, height: 500 });
    await page.addInitScript({ content: fakeJuceInitScript(FAKE) });
    await page.goto(`${server.origin}/`);
    await page.waitForFunction(() => window.quillbeatPlayhead?.smooth() === true);
    const samples = await page.evaluate(sampleFrames, SESSION_MS);
    const startedAt = await page.evaluate(() => window.__fakeHost?.startedAt ?? 0);
    const deliveries = await page.evaluate(() => window.__fakeHost?.deliveries ?? []);

    const found = changes(samples, startedAt, deliveries[0]?.deliveredAt ?? startedAt);
    const lastChangeBefore = (t: number) => found.filter((c) => c.atMs <= t).at(-1);

    // Steady: playing, the last change SETTLE_MS ago or more, and a reading
    // from after it in hand (how changes settle is printed apart).
    const steady = samples.filter((s) => {
      const last = lastChangeBefore(s.t);
      return s.truth.playing && (last === undefined || (s.capturedAt > last.atMs && s.t - last.atMs >= SETTLE_MS));
    });
    const steadyFromReading = steady.filter((s) => s.readingPpq !== null).map((s) => errorMs(s.readingPpq, s.truth));

    // Backwards: between two frames of continuous play (no stop, play or seek
    // between them), the shown position fell, other than by a loop wrap.
    let pairs = 0;
    let backwards = 0;
    let worstBackMs = 0;
    for (let i = 1; i < samples.length; i++) {
      const [a, b] = [samples[i - 1] as FrameSample, samples[i] as FrameSample];
      const broken = found.some((c) => (c.kind === 'stop' || c.kind === 'play' || c.kind === 'seek') && c.atMs > a.t - 1000 && c.atMs <= b.t);
      if (broken || !a.truth.playing || !b.truth.playing || a.ppq === null || b.ppq === null) continue;
      pairs++;
      const length = loopLength(b.truth) ?? Infinity;
      const fall = a.ppq - b.ppq;
      if (fall > 1e-9 && fall < length / 2) {
        backwards++;
        worstBackMs = Math.max(worstBackMs, (fall * 60000) / b.truth.bpm);
      }
    }

    const frameGaps = samples.slice(1).map((s, i) => s.t - (samples[i] as FrameSample).t).sort((x, y) => x - y);
    const lines = [
      '',
      'Play head prediction against the fake host\'s own timeline (built page, headless Chromium, smooth on)',
      `  ${samples.length} animation frames over ${(SESSION_MS / 1000).toFixed(0)} s (median frame ${quantile(frameGaps, 0.5).toFixed(1)} ms); ` +
        `${deliveries.length} readings, 250 ms timer late by up to ${JITTER_MS} ms, delivered late by up to ${JITTER_MS} ms more`,
      `  least delivery delay ${Math.min(...deliveries.map((d) => d.deliveredAt - d.sentAt)).toFixed(1)} ms: the clock offset cannot tell it from the clocks' difference, so the prediction trails by about that much`,
      '',
      `Steady play (from ${SETTLE_MS} ms after a change), error of the prediction:  ${distribution(steady.map((s) => errorMs(s.ppq, s.truth)))}`,
      `Steady play, error of the newest reading as it arrived (smooth off):  ${distribution(steadyFromReading)}`,
      '',
      `Right again (every frame within ${RIGHT_MS} ms until the next change), in readings captured after the change:`,
    ];
    found.forEach((c, i) => {
      const next = found[i + 1]?.atMs ?? Infinity;
      const r = recovery(samples, c, next, deliveries);
      const at = ((c.atMs - startedAt) / 1000).toFixed(3);
      const result =
        r.updates === null
          ? 'not within the frames sampled'
          : r.throughout
            ? 'right from the first frame after it'
            : `${r.updates} update${r.updates === 1 ? '' : 's'} (${(r.ms ?? 0).toFixed(0)} ms)`;
      lines.push(`  ${`${c.label} at ${at} s`.padEnd(48)} ${result}`);
    });
    lines.push(
      '',
      `Moved backwards while playing on (tempo step and loop wraps included): ${backwards === 0 ? 'never' : `${backwards} times, at most ${worstBackMs.toFixed(2)} ms`} in ${pairs} frame pairs`,
      '',
    );
    process.stdout.write(`${lines.join('\n')}\n`);
  } finally {
    await browser.close();
    await server.close();
  }
});
