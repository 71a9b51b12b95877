import { existsSync } from 'node:fs';
import { mkdir } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import type { Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { analysisFrame } from '../../page-client/test/analysisFrames';
import { fakeJuceInitScript, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8, type FakeJuceOptions } from '../../page-client/test/fakeJuce';
import { launchChromium, type LaunchedChromium } from './chromium';
import { serveFolder, type StaticServer } from './staticServer';

const webDir = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const distDir = join(webDir, 'dist');
const resultsDir = join(webDir, 'test-results');

// A host playing bar 9 at 96 bpm in 4/4 (its loop off), at 48 kHz.
const PLAYING: FakeJuceOptions = {
  transport: { ...PLAYING_128_IN_7_8, bpm: 96, timeSigNum: 4, timeSigDen: 4 },
  playhead: { ...PLAYHEAD_IN_LOOP, looping: false },
  tickMs: 250,
  analysis: true,
};

let server: StaticServer;
let browser: LaunchedChromium | undefined;

async function openPage(fake: FakeJuceOptions | null): Promise<{ page: Page; noise: string[] }> {
  const page = await browser!.context.newPage();
  await page.setViewportSize({ width: 900, height: 640 });
  const noise: string[] = [];
  page.on('console', (m) => noise.push(`console.${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => noise.push(`page error: ${e.message}`));
  if (fake !== null) await page.addInitScript({ content: fakeJuceInitScript(fake) });
  await page.goto(`${server.origin}/`);
  return { page, noise };
}

/**
 * Frames as the plug-in sends them at 30 a second, made from `template`:
 * block count, sample position and quarter notes move on as a host playing
 * at 96 bpm moves them, from quarter note 32 (the start of bar 9).
 */
function startStream(page: Page, template: Record<string, unknown>): Promise<void> {
  return page.evaluate((frame) => {
    const w = window as unknown as { __stream?: ReturnType<typeof setInterval> };
    clearInterval(w.__stream);
    let k = 0;
    w.__stream = setInterval(() => {
      k++;
      const samples = 1600;
      window.__fakeHost?.emitAnalysis({
        ...frame,
        blockCount: 1000 + k * 4,
        positionSamples: 32 * 30000 + k * samples,
        ppqPosition: 32 + (k * samples) / 30000,
        captureTimeMs: 86_405_000 + k * (1000 / 30),
        sentTimeMs: 86_405_003 + k * (1000 / 30),
      });
    }, 1000 / 30);
  }, template);
}

function stopStream(page: Page): Promise<void> {
  return page.evaluate(() => clearInterval((window as unknown as { __stream?: ReturnType<typeof setInterval> }).__stream));
}

/** The share of a canvas's pixels that `kind` lights: the meters' solid bars, the spectrum's fill, or any waveform. */
function lit(page: Page, selector: string, kind: 'meter' | 'spectrum' | 'waveform'): Promise<number> {
  return page.evaluate(
    ([sel, k]) => {
      const canvas = document.querySelector<HTMLCanvasElement>(sel);
      // Read through a copy: reading the page's own canvas again and again would move it off the GPU (and Chromium says so).
      const copy = document.createElement('canvas');
      copy.width = canvas?.width ?? 0;
      copy.height = canvas?.height ?? 0;
      const ctx = copy.getContext('2d');
      if (!canvas || !ctx) return -1;
      ctx.drawImage(canvas, 0, 0);
      const data = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
      let n = 0;
      for (let i = 0; i < data.length; i += 4) {
        const [g, b, a] = [data[i + 1] ?? 0, data[i + 2] ?? 0, data[i + 3] ?? 0];
        if (k === 'meter' ? a === 255 && g > 180 : k === 'spectrum' ? a > 100 && b > 200 : a > 100 && g > 150) n++;
      }
      return n / (canvas.width * canvas.height);
    },
    [selector, kind] as const,
  );
}

const analysisState = (page: Page) =>
  page.evaluate(() => ({
    draws: window.quillbeatAnalysis?.draws() ?? -1,
    animating: window.quillbeatAnalysis?.animating() ?? null,
    status: window.quillbeatAnalysis?.status() ?? '',
  }));

beforeAll(async () => {
  if (!existsSync(join(distDir, 'index.html'))) throw new Error('dist/ has no build: run `npm run build` first');
  await mkdir(resultsDir, { recursive: true });
  server = await serveFolder(distDir);
  browser = await launchChromium();
});

afterAll(async () => {
  await browser?.close();
  await server?.close();
});

describe("the page's sound in Chromium", () => {
  it('asks for every part at 30 frames a second as it loads', async () => {
    const { page, noise } = await openPage(PLAYING);
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.analysis)).toMatchObject({
      levels: true,
      spectrum: true,
      waveform: true,
      framesPerSecond: 30,
    });
    await expect.poll(async () => (await analysisState(page)).status).toBe('Waiting for sound');
    expect(noise).toEqual([]);
    await page.close();
  });

  it('moves the meters and the spectrum with the sound, fills the bar, and stops drawing when the stream stops', async () => {
    const { page, noise } = await openPage(PLAYING);
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.analysis !== null)).toBe(true);

    await startStream(page, analysisFrame({ peakDb: [-40, -40], spectrumDb: -80 }));
    await expect.poll(async () => (await analysisState(page)).status).toBe('48 kHz \u00b7 stereo');
    await page.waitForTimeout(400);
    const quiet = { meters: await lit(page, '#meters-canvas', 'meter'), spectrum: await lit(page, '#spectrum-canvas', 'spectrum') };

    await startStream(page, analysisFrame({ peakDb: [-3, -3], spectrumDb: -10 }));
    await page.waitForTimeout(800);
    const loud = { meters: await lit(page, '#meters-canvas', 'meter'), spectrum: await lit(page, '#spectrum-canvas', 'spectrum') };
    expect(loud.meters).toBeGreaterThan(quiet.meters * 2);
    expect(loud.spectrum).toBeGreaterThan(quiet.spectrum * 2);
    expect(await lit(page, '#waveform-canvas', 'waveform')).toBeGreaterThan(0.05);
    await page.screenshot({ path: join(resultsDir, 'analysis-900x640.png') });

    // The stream stops: the meters fall to rest, and then nothing is drawn or scheduled.
    await stopStream(page);
    await expect.poll(() => lit(page, '#meters-canvas', 'meter'), { timeout: 10_000 }).toBe(0);
    await expect.poll(async () => (await analysisState(page)).animating, { timeout: 10_000 }).toBe(false);
    const settled = await analysisState(page);
    await page.waitForTimeout(600);
    expect(await analysisState(page)).toEqual(settled);
    expect(noise).toEqual([]);
    await page.close();
  });

  it('lights a clip lamp for a clipped frame and puts it out again', async () => {
    const { page } = await openPage(PLAYING);
    const clipRed = () =>
      page.evaluate(() => {
        const canvas = document.querySelector<HTMLCanvasElement>('#meters-canvas');
        const copy = document.createElement('canvas');
        copy.width = canvas?.width ?? 1;
        copy.height = canvas?.height ?? 1;
        const ctx = copy.getContext('2d');
        if (canvas) ctx?.drawImage(canvas, 0, 0);
        const data = ctx?.getImageData(0, 0, copy.width, Math.ceil(copy.height * 0.05)).data ?? [];
        let n = 0;
        for (let i = 0; i < data.length; i += 4) if (data[i] === 255 && data[i + 1] === 77) n++;
        return n;
      });
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.analysis !== null)).toBe(true);
    await page.evaluate((frame) => window.__fakeHost?.emitAnalysis(frame), analysisFrame({ peakDb: [0.5, -12] }));
    await expect.poll(clipRed).toBeGreaterThan(0);
    await expect.poll(clipRed, { timeout: 10_000 }).toBe(0);
    await page.close();
  });

  it('shows empty views, says why, and logs nothing in a plain browser', async () => {
    const { page, noise } = await openPage(null);
    await expect.poll(async () => (await analysisState(page)).status).toBe('No sound outside the plug-in');
    expect(await page.locator('#meters-canvas').isVisible()).toBe(true);
    expect(await page.locator('#spectrum-canvas').isVisible()).toBe(true);
    expect(await page.locator('#waveform-canvas').isVisible()).toBe(true);
    expect(await lit(page, '#meters-canvas', 'meter')).toBe(0);
    expect((await analysisState(page)).animating).toBe(false);
    expect(noise).toEqual([]);
    await page.close();
  });
});
