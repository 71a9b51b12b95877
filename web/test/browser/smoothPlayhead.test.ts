// The client's one-call smooth play head in Chromium, as an author uses it: a
// page that loads the built client and calls createSmoothPlayhead({ onFrame }),
// with the fake plug-in playing a scripted session. Beside the play head, the
// page runs a probe: its own animation-frame chain, and a count of every frame
// the page requests.
import { cp, mkdtemp, rm, writeFile } from 'node:fs/promises';
import { existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import type { Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { fakeJuceInitScript, type FakeJuceOptions } from '../../page-client/test/fakeJuce';
import type { TimelineScript } from '../../page-client/test/hostTimeline';
import { launchChromium, type LaunchedChromium } from './chromium';
import { serveFolder, type StaticServer } from './staticServer';

const webDir = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const clientDist = join(webDir, 'page-client', 'dist');
const pageDist = join(webDir, 'dist');

const AUTHOR_PAGE = `<!doctype html>
<html lang="en">
<head><meta charset="utf-8" /><link rel="icon" href="data:," /></head>
<body>
<script type="module">
  const probe = { frames: [], shown: [] };
  window.__probe = probe;
  const frame = window.requestAnimationFrame.bind(window);
  let requests = 0;
  // Every request the page makes, the play head's included; the probe's own chain goes round this.
  window.requestAnimationFrame = (callback) => {
    requests++;
    return frame(callback);
  };
  // Chromium's frame times can run ahead of performance.now(); what happened
  // when is told by the clock at the call.
  const sample = (t) => {
    probe.frames.push({ t, at: performance.now(), requests });
    frame(sample);
  };
  frame(sample);
  const { createSmoothPlayhead } = await import('./client/index.js');
  createSmoothPlayhead({
    onFrame(f) {
      const truth = window.__fakeHost.truthAt(f.pageTimeMs);
      probe.shown.push({ t: f.pageTimeMs, at: performance.now(), moving: f.moving, playing: f.playing, ppq: f.ppqPosition, truthPpq: truth.ppqPosition, bpm: truth.bpm });
    },
  });
</script>
</body>
</html>
`;

interface ProbeFrame {
  /** The frame's time, and performance.now() when the callback ran. */
  t: number;
  at: number;
  /** Frames the page had requested by then. */
  requests: number;
}

interface Shown {
  t: number;
  at: number;
  moving: boolean;
  playing: boolean;
  ppq: number | null;
  truthPpq: number;
  bpm: number;
}

declare global {
  interface Window {
    __probe?: { frames: ProbeFrame[]; shown: Shown[] };
  }
}

const STEADY_120: TimelineScript = { tempoMap: [{ ppq: 0, bpm: 120 }], timeSigNum: 4, timeSigDen: 4, startPpq: 0, playing: true, loop: null };
const JITTERY = { jitterMs: 20, seed: 2024 };
/** The bench's bound for a right prediction: well under a frame at 60 Hz. */
const RIGHT_MS = 10;

let scratch = '';
let authorServer: StaticServer | undefined;
let pageServer: StaticServer | undefined;
let browser: LaunchedChromium | undefined;

beforeAll(async () => {
  for (const built of [join(clientDist, 'index.js'), join(pageDist, 'index.html')]) {
    if (!existsSync(built)) throw new Error(`${built} is missing: run \`npm run build\` first`);
  }
  scratch = await mkdtemp(join(tmpdir(), 'quillbeat-smooth-'));
  await cp(clientDist, join(scratch, 'client'), { recursive: true });
  await writeFile(join(scratch, 'index.html'), AUTHOR_PAGE);
  authorServer = await serveFolder(scratch);
  pageServer = await serveFolder(pageDist);
  browser = await launchChromium();
});

afterAll(async () => {
  await browser?.close();
  await authorServer?.close();
  await pageServer?.close();
  if (scratch !== '') await rm(scratch, { recursive: true, force: true });
});

async function open(server: StaticServer, fake: FakeJuceOptions): Promise<{ page: Page; errors: string[] }> {
  const page = await browser!.context.newPage();
  const errors: string[] = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => {
    if (m.type() === 'error' || m.type() === 'warning') errors.push(m.text());
  });
  await page.addInitScript({ content: fakeJuceInitScript(fake) });
  await page.goto(`${server.origin}/`);
  return { page, errors };
}

/** Waits until the fake host's session is `ms` old. */
async function sessionAt(page: Page, ms: number): Promise<void> {
  // Polled on a timer: polling by animation frame would add requests to the count.
  await page.waitForFunction((at) => performance.now() - (window.__fakeHost?.startedAt ?? Infinity) >= at, ms, {
    timeout: ms + 10_000,
    polling: 100,
  });
}

const sessionStart = (page: Page) => page.evaluate(() => window.__fakeHost?.startedAt ?? 0);

function errorMs(s: Pick<Shown, 'ppq' | 'truthPpq' | 'bpm'>): number {
  return s.ppq === null ? Infinity : (Math.abs(s.ppq - s.truthPpq) * 60000) / s.bpm;
}

function quantile(values: number[], q: number): number {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.max(0, Math.ceil(q * sorted.length) - 1))] as number;
}

/** Our own page's error at each animation frame over `ms`, from window.quillbeatPlayhead. */
async function ourPageErrors(ms: number): Promise<number[]> {
  const { page, errors } = await open(pageServer!, { timeline: { script: STEADY_120, ...JITTERY } });
  await sessionAt(page, 1000);
  const shown = await page.evaluate(
    (forMs) =>
      new Promise<Shown[]>((done) => {
        const seen: Shown[] = [];
        const start = performance.now();
        const frame = (t: number): void => {
          const p = window.quillbeatPlayhead?.predict(t);
          const truth = window.__fakeHost?.truthAt(t);
          if (p && truth) seen.push({ t, at: t, moving: true, playing: p.playing, ppq: p.ppqPosition, truthPpq: truth.ppqPosition, bpm: truth.bpm });
          if (t - start < forMs) requestAnimationFrame(frame);
          else done(seen);
        };
        requestAnimationFrame(frame);
      }),
    ms,
  );
  expect(errors).toEqual([]);
  await page.close();
  return shown.map(errorMs);
}

describe('the one-call smooth play head in Chromium', () => {
  it('calls onFrame once per animation frame while the host plays, as closely as our page predicts', async () => {
    const { page, errors } = await open(authorServer!, { timeline: { script: STEADY_120, ...JITTERY } });
    // From a second in, when the clock offset has had a few readings.
    await sessionAt(page, 3000);
    const { frames, shown } = (await page.evaluate(() => window.__probe))!;
    const from = (await sessionStart(page)) + 1000;
    const to = frames.at(-1)!.t;
    const inWindow = <T extends { t: number }>(list: T[]) => list.filter((f) => f.t >= from && f.t < to);

    const frameTimes = inWindow(frames).map((f) => f.t);
    expect(frameTimes.length).toBeGreaterThan(60);
    expect(inWindow(shown).map((s) => s.t)).toEqual(frameTimes);
    expect(inWindow(shown).every((s) => s.moving && s.playing)).toBe(true);
    // One request per frame: the play head's chain and nothing else.
    const window0 = inWindow(frames);
    expect(window0.at(-1)!.requests - window0[0]!.requests).toBe(window0.length - 1);

    const ours = await ourPageErrors(2000);
    const oneCall = inWindow(shown).map(errorMs);
    const figures = (e: number[]) => `median ${quantile(e, 0.5).toFixed(2)} ms, 90th percentile ${quantile(e, 0.9).toFixed(2)} ms`;
    process.stdout.write(`smooth play head error: one call ${figures(oneCall)}; our page ${figures(ours)}\n`);
    expect(quantile(oneCall, 0.5)).toBeLessThanOrEqual(RIGHT_MS);
    expect(quantile(oneCall, 0.5)).toBeLessThanOrEqual(quantile(ours, 0.5) + 2);
    expect(quantile(oneCall, 0.9)).toBeLessThanOrEqual(Math.max(RIGHT_MS, quantile(ours, 0.9) + 2));
    expect(errors).toEqual([]);
    await page.close();
  });

  it('shows the stop in one frame and requests none until the host plays again', async () => {
    const script: TimelineScript = { ...STEADY_120, events: [{ atMs: 1500, playing: false }, { atMs: 3000, playing: true }] };
    const { page, errors } = await open(authorServer!, { timeline: { script, ...JITTERY } });
    await sessionAt(page, 3800);
    const { frames, shown } = (await page.evaluate(() => window.__probe))!;
    const deliveries = await page.evaluate(() => window.__fakeHost?.deliveries ?? []);
    const startedAt = await sessionStart(page);

    const rest = shown.filter((s) => !s.moving);
    expect(rest).toHaveLength(1);
    expect(rest[0]).toMatchObject({ playing: false });
    expect(rest[0]!.ppq).toBeCloseTo(rest[0]!.truthPpq, 6);

    const playAgain = deliveries.find((d) => d.capturedAt > startedAt + 3000)!.deliveredAt;
    const stopped = (f: { at: number }) => f.at > rest[0]!.at && f.at < playAgain;
    expect(shown.filter(stopped)).toEqual([]);
    const quiet = frames.filter(stopped);
    expect(quiet.length).toBeGreaterThan(30);
    expect(quiet.at(-1)!.requests).toBe(quiet[0]!.requests);

    expect(shown.filter((s) => s.at > playAgain && s.moving).length).toBeGreaterThan(10);
    expect(errors).toEqual([]);
    await page.close();
  });

  it('requests no frame while the page is hidden, and moves on when it shows again', async () => {
    const { page, errors } = await open(authorServer!, { timeline: { script: STEADY_120, ...JITTERY } });
    await sessionAt(page, 1000);
    // Headless Chromium here never hides a page (minimised, covered by another
    // tab or frozen, it stays 'visible'), so the page is told it is hidden the
    // way the browser would tell it.
    const setHidden = (hidden: boolean) =>
      page.evaluate((h) => {
        Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => (h ? 'hidden' : 'visible') });
        document.dispatchEvent(new Event('visibilitychange'));
        return performance.now();
      }, hidden);

    const hiddenAt = await setHidden(true);
    await page.waitForTimeout(1000);
    const shownAt = await setHidden(false);
    await page.waitForTimeout(300);
    const { frames, shown } = (await page.evaluate(() => window.__probe))!;

    const hidden = (f: { at: number }) => f.at > hiddenAt && f.at < shownAt;
    expect(shown.filter(hidden)).toEqual([]);
    const quiet = frames.filter(hidden);
    expect(quiet.length).toBeGreaterThan(30);
    expect(quiet.at(-1)!.requests).toBe(quiet[0]!.requests);

    const after = shown.filter((s) => s.at > shownAt);
    expect(after.length).toBeGreaterThan(5);
    expect(after.every((s) => s.moving && errorMs(s) <= RIGHT_MS * 2)).toBe(true);
    expect(errors).toEqual([]);
    await page.close();
  });
});
