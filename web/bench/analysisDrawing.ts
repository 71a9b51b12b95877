// What our page's meters, spectrum and bar waveform cost to draw.
//
// Loads the built page in headless Chromium with the fake plug-in playing,
// and measures the page's main-thread time (Chromium's TaskDuration) over a
// few seconds: first with no analysis frames (the play head moving alone, the
// floor), then with frames at 30 a second as our page asks for them, then
// after the frames stop and the meters have come to rest. It prints
// milliseconds per second and the ratios to the floor; nothing passes or
// fails on them. Chromium here draws without a GPU, as WebKitGTK does.
//
//   npm run bench:analysis

import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import type { Page } from 'playwright-core';
import { it } from 'vitest';
import { analysisFrame } from '../page-client/test/analysisFrames';
import { fakeJuceInitScript, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8 } from '../page-client/test/fakeJuce';
import { launchChromium } from '../test/browser/chromium';
import { serveFolder } from '../test/browser/staticServer';

const distDir = resolve(dirname(fileURLToPath(import.meta.url)), '../dist');
const MEASURE_MS = 5000;

/** Main-thread milliseconds per second over MEASURE_MS. */
async function busyMsPerSecond(page: Page, session: { send(method: string): Promise<unknown> }): Promise<number> {
  const taskSeconds = async (): Promise<number> => {
    const { metrics } = (await session.send('Performance.getMetrics')) as { metrics: { name: string; value: number }[] };
    return metrics.find((m) => m.name === 'TaskDuration')?.value ?? Number.NaN;
  };
  const before = await taskSeconds();
  await page.waitForTimeout(MEASURE_MS);
  return ((await taskSeconds()) - before) * 1000 / (MEASURE_MS / 1000);
}

it('prints what drawing the sound costs the page', { timeout: 120_000 }, async () => {
  const server = await serveFolder(distDir);
  const browser = await launchChromium();
  try {
    const page = await browser.context.newPage();
    await page.setViewportSize({ width: 900, height: 640 });
    await page.addInitScript({
      content: fakeJuceInitScript({
        transport: { ...PLAYING_128_IN_7_8, bpm: 96, timeSigNum: 4, timeSigDen: 4 },
        playhead: { ...PLAYHEAD_IN_LOOP, looping: false },
        tickMs: 250,
        analysis: true,
      }),
    });
    await page.goto(`${server.origin}/`);
    const session = await browser.context.newCDPSession(page);
    await session.send('Performance.enable');
    await page.waitForTimeout(1000);

    const floor = await busyMsPerSecond(page, session);

    await page.evaluate((frame) => {
      let k = 0;
      (window as unknown as { __stream: ReturnType<typeof setInterval> }).__stream = setInterval(() => {
        k++;
        // A moving signal: levels and bands that change every frame, as music does.
        const wobble = Math.sin(k / 5) * 12;
        const levels = (frame.levels as { peakDb: number; rmsDb: number }[]).map((l) => ({ ...l, peakDb: l.peakDb + wobble, rmsDb: l.rmsDb + wobble }));
        const spectrum = frame.spectrum as { db: number[][] };
        window.__fakeHost?.emitAnalysis({
          ...frame,
          blockCount: 1000 + k * 4,
          positionSamples: 32 * 30000 + k * 1600,
          ppqPosition: 32 + (k * 1600) / 30000,
          levels,
          spectrum: { ...spectrum, db: spectrum.db.map((row) => row.map((v, i) => v + Math.sin(k / 3 + i) * 10)) },
        });
      }, 1000 / 30);
    }, analysisFrame({ slices: 64, peakDb: [-12, -14] }));
    await page.waitForTimeout(500);
    const streaming = await busyMsPerSecond(page, session);

    await page.evaluate(() => clearInterval((window as unknown as { __stream: ReturnType<typeof setInterval> }).__stream));
    await page.waitForTimeout(5000);
    const rested = await busyMsPerSecond(page, session);
    const draws = await page.evaluate(() => window.quillbeatAnalysis?.draws() ?? -1);

    console.log(
      [
        'main-thread time of our page in headless Chromium, ms per second',
        `  play head alone (floor):        ${floor.toFixed(1)} (1.00)`,
        `  with 30 analysis frames/s:      ${streaming.toFixed(1)} (${(streaming / floor).toFixed(2)})`,
        `  frames stopped, meters at rest: ${rested.toFixed(1)} (${(rested / floor).toFixed(2)})`,
        `  canvas redraws in all:          ${draws}`,
      ].join('\n'),
    );
  } finally {
    await browser.close();
    await server.close();
  }
});
