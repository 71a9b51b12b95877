import { existsSync } from 'node:fs';
import { mkdir } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import type { BrowserContext, Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import {
  fakeJuceInitScript,
  DISCONNECTED_TRANSPORT,
  PLAYHEAD_IN_LOOP,
  PLAYING_128_IN_7_8,
  type FakeJuceOptions,
  type FakeTransport,
} from '../../page-client/test/fakeJuce';
import type { TimelineScript } from '../../page-client/test/hostTimeline';
import { launchChromium, type LaunchedChromium } from './chromium';
import { serveFolder, type StaticServer } from './staticServer';

const webDir = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const distDir = join(webDir, 'dist');
const resultsDir = join(webDir, 'test-results');


const PLAYING: FakeTransport = PLAYING_128_IN_7_8;

// The widest values a session plausibly shows, to test the layout against.
const WIDEST: FakeTransport = {
  connected: true,
  playing: true,
  recording: true,
  bpm: 999.9,
  timeSigNum: 15,
  timeSigDen: 16,
  positionSecs: 5999.999,
  positionFormatted: '99:59.999',
  debugBlockCount: -2147483648,
};

// The extended reading of the widest session: a loop far into it, off the beat.
const WIDEST_PLAYHEAD: Record<string, unknown> = {
  ...PLAYHEAD_IN_LOOP,
  recording: true,
  bpm: 999.9,
  timeSigNum: 15,
  timeSigDen: 16,
  positionSecs: 5999.999,
  ppqPosition: 99998.33,
  ppqLastBarStart: null,
  ppqLoopStart: 99990.3,
  ppqLoopEnd: 99999.9,
  blockCount: -2147483648,
};

const DISCONNECTED: FakeTransport = { ...DISCONNECTED_TRANSPORT, debugBlockCount: 17 };

const STEADY_120: TimelineScript = { tempoMap: [{ ppq: 0, bpm: 120 }], timeSigNum: 4, timeSigDen: 4, startPpq: 0, playing: true, loop: null };

const SMALL = { width: 600, height: 400 };
const LARGE = { width: 1920, height: 1080 };

let server: StaticServer;
let browser: LaunchedChromium | undefined;
let context: BrowserContext;

interface OpenedPage {
  page: Page;
  /** Console output, page errors, failed responses and requests leaving the page's own server. */
  noise: string[];
}

/** Opens the built page at `viewport`, with the fake plug-in installed first unless `fake` is null. */
async function openPage(viewport: { width: number; height: number }, fake: FakeJuceOptions | null): Promise<OpenedPage> {
  const page = await context.newPage();
  await page.setViewportSize(viewport);
  const noise: string[] = [];
  page.on('console', (m) => noise.push(`console.${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => noise.push(`page error: ${e.message}`));
  page.on('request', (r) => {
    if (!r.url().startsWith(`${server.origin}/`) && !r.url().startsWith('data:')) noise.push(`foreign request: ${r.url()}`);
  });
  page.on('response', (r) => {
    if (r.status() >= 400) noise.push(`HTTP ${r.status()}: ${r.url()}`);
  });
  if (fake !== null) await page.addInitScript({ content: fakeJuceInitScript(fake) });
  await page.goto(`${server.origin}/`);
  return { page, noise };
}

const textOf = (page: Page, selector: string) => page.locator(selector).textContent();

async function screenshot(page: Page, name: string): Promise<void> {
  await page.screenshot({ path: join(resultsDir, `${name}.png`) });
}

beforeAll(async () => {
  if (!existsSync(join(distDir, 'index.html'))) throw new Error('dist/ has no build: run `npm run build` first');
  await mkdir(resultsDir, { recursive: true });
  server = await serveFolder(distDir);
  browser = await launchChromium();
  context = browser.context;
});

afterAll(async () => {
  await browser?.close();
  await server?.close();
});

describe('the page in Chromium', () => {
  it('shows a playing host as the plug-in delivers it, through all three paths, quietly', async () => {
    const { page, noise } = await openPage(SMALL, { transport: PLAYING, tickMs: 250, assignBeforePage: true });

    await expect.poll(() => textOf(page, '#diagnostics')).toMatch(/event \d+\.\d\/s · assignment \d+\.\d\/s · getTransport answered/);
    expect(await textOf(page, '#play-state')).toBe('Playing');
    expect(await textOf(page, '#record-state')).toBe('Not recording');
    expect(await textOf(page, '#tempo')).toBe('128.0 bpm');
    expect(await textOf(page, '#meter')).toBe('7/8');
    expect(await textOf(page, '#position')).toBe('1:05.250');
    expect(await textOf(page, '#bbt')).toBe('40.6.384');
    expect(await page.locator('#banner').isHidden()).toBe(true);
    expect(await page.evaluate(() => getComputedStyle(document.body).backgroundColor)).toBe('rgb(15, 15, 26)');

    await screenshot(page, 'playing-600x400');
    expect(noise).toEqual([]);
    await page.close();
  });

  it("shows the host's bar, beat and tick and its loop from the extended reading", async () => {
    const { page, noise } = await openPage(SMALL, {
      transport: { ...PLAYING, bpm: 96, timeSigNum: 4, timeSigDen: 4, positionSecs: 17.353, positionFormatted: '0:17.353' },
      playhead: { ...PLAYHEAD_IN_LOOP, playing: false },
      tickMs: 250,
    });

    await expect.poll(() => textOf(page, '#bbt')).toBe('9.4.733');
    expect(await textOf(page, '#bbt-note')).toContain('host position');
    expect(await textOf(page, '#loop-state')).toBe('Loop 9.1 \u2013 11.1');
    expect(await textOf(page, '#position')).toBe('0:17.353');
    expect(await page.evaluate(() => document.querySelectorAll('#beat-grid .beats span').length)).toBe(4);
    await screenshot(page, 'loop-600x400');
    expect(noise).toEqual([]);
    await page.close();
  });

  it.each([
    [true, 'moves between readings'],
    [false, 'moves only when a reading arrives'],
  ])('with smooth %s, the play head %s', async (smooth) => {
    const { page, noise } = await openPage(SMALL, { timeline: { script: STEADY_120, jitterMs: 20 } });
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.deliveries.length ?? 0)).toBeGreaterThan(1);
    await page.evaluate((on) => window.quillbeatPlayhead?.setSmooth(on), smooth);
    expect(await page.locator('#smooth-switch').isChecked()).toBe(smooth);

    // A second of frames: the cursor's place, the digits shown, and how many
    // readings had arrived by then.
    const frames = await page.evaluate(
      () =>
        new Promise<[string, string, number][]>((resolve) => {
          const seen: [string, string, number][] = [];
          const cursor = document.querySelector<HTMLElement>('#playhead-fill');
          const start = performance.now();
          const frame = (): void => {
            seen.push([
              cursor?.style.transform ?? '',
              document.querySelector('#bbt')?.textContent ?? '',
              window.__fakeHost?.deliveries.length ?? 0,
            ]);
            if (performance.now() - start < 1000) requestAnimationFrame(frame);
            else resolve(seen);
          };
          requestAnimationFrame(frame);
        }),
    );
    // The most distinct values one reading was shown with, for each of cursor and digits.
    const mostPerReading = (pick: 0 | 1): number => {
      const shown = new Map<number, Set<string>>();
      for (const f of frames) shown.set(f[2], (shown.get(f[2]) ?? new Set()).add(f[pick]));
      return Math.max(...[...shown.values()].map((values) => values.size));
    };
    if (smooth) {
      // The cursor moves every frame; the digits about ten times a second.
      expect(mostPerReading(0)).toBeGreaterThan(3);
      expect(mostPerReading(1)).toBeGreaterThan(1);
    } else {
      expect(mostPerReading(0)).toBe(1);
      expect(mostPerReading(1)).toBe(1);
    }
    expect(new Set(frames.map(([, bbt]) => bbt)).size).toBeGreaterThan(2);

    const sample = await page.evaluate(() => window.quillbeatPlayhead?.predict());
    expect(sample).toMatchObject({ playing: true, source: 'host' });
    expect(typeof sample?.ppqPosition).toBe('number');
    expect(noise).toEqual([]);
    await page.close();
  });

  it('keeps its notes in the project: restored on open, saved after typing, replaced by a load', async () => {
    const stored = JSON.stringify({ notes: 'Bridge at bar 9 \u2014 caf\u00e9' });
    const { page, noise } = await openPage(SMALL, { transport: PLAYING, tickMs: 250, pageState: stored });

    const field = page.locator('#notes-text');
    await expect.poll(() => field.inputValue()).toBe('Bridge at bar 9 \u2014 caf\u00e9');
    expect(await textOf(page, '#notes-status')).toBe('Kept with the project');

    await field.fill('Chorus from bar 17');
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.pageState)).toBe('{"notes":"Chorus from bar 17"}');
    expect(await page.evaluate(() => window.__fakeHost?.stateChanges)).toBe(1);
    expect(await textOf(page, '#notes-status')).toBe('Saved with the project');
    await screenshot(page, 'notes-600x400');

    // The host loads the project again (or undoes): the field follows.
    await page.evaluate(() => window.__fakeHost?.loadPageState('{"notes":"As loaded"}'));
    expect(await field.inputValue()).toBe('As loaded');

    // Reopened with what the host kept, the notes are there.
    const saved = await page.evaluate(() => window.__fakeHost?.pageState);
    await page.close();
    const reopened = await openPage(SMALL, { transport: PLAYING, tickMs: 250, pageState: saved ?? '' });
    await expect.poll(() => reopened.page.locator('#notes-text').inputValue()).toBe('As loaded');
    expect(noise).toEqual([]);
    expect(reopened.noise).toEqual([]);
    await reopened.page.close();
  });

  it('shows that there is no host transport yet', async () => {
    const { page, noise } = await openPage(SMALL, { transport: DISCONNECTED, tickMs: 250 });

    await expect.poll(() => textOf(page, '#banner')).toContain('No host transport yet');
    expect(await page.locator('#banner').isVisible()).toBe(true);
    expect(await textOf(page, '#position')).toBe('\u2014');
    expect(await textOf(page, '#play-state')).toBe('Stopped');

    await screenshot(page, 'disconnected-600x400');
    expect(noise).toEqual([]);
    await page.close();
  });

  it('says so, and logs nothing, when there is no native bridge (the dev server)', async () => {
    const { page, noise } = await openPage(SMALL, null);

    await expect.poll(() => textOf(page, '#banner')).toContain('No native bridge');
    expect(await textOf(page, '#diagnostics')).toContain('getTransport unavailable');
    expect(await page.evaluate(() => '__JUCE__' in window)).toBe(false);
    expect(noise).toEqual([]);
    await page.close();
  });

  describe.each([
    ['600x400', SMALL],
    ['1920x1080', LARGE],
  ])('at %s', (name, viewport) => {
    it.each([
      ['the widest values', WIDEST, WIDEST_PLAYHEAD],
      ['no host transport', DISCONNECTED, undefined],
    ])('fits %s in the window', async (label, transport, playhead) => {
      const { page, noise } = await openPage(viewport, { transport, tickMs: 250, ...(playhead ? { playhead } : {}) });
      await page.locator('#banner').waitFor({ state: transport.connected ? 'hidden' : 'visible' });
      // Steady state: both pushed paths measured, the diagnostics line at its longest.
      await expect.poll(() => textOf(page, '#diagnostics')).toMatch(/event \d+\.\d\/s · assignment \d+\.\d\/s · getTransport answered/);

      const layout = await page.evaluate(() => {
        const keys = [
          '#play-state',
          '#record-state',
          '#loop-state',
          '.switch',
          '#position',
          '#bbt',
          '#bbt-note',
          '#beat-grid',
          '#waveform-canvas',
          '#tempo',
          '#meter',
          '#diagnostics',
          '#meters-canvas',
          '#spectrum-canvas',
          '#analysis-status',
          '#notes-text',
          '#notes-status',
        ];
        const banner = document.querySelector<HTMLElement>('#banner');
        if (banner && !banner.hidden) keys.push('#banner');
        return {
          pageWidth: document.documentElement.scrollWidth,
          width: window.innerWidth,
          height: window.innerHeight,
          elements: keys.map((selector) => {
            const el = document.querySelector<HTMLElement>(selector);
            const box = el?.getBoundingClientRect();
            return {
              selector,
              left: box?.left ?? -1,
              right: box?.right ?? Infinity,
              top: box?.top ?? -1,
              bottom: box?.bottom ?? Infinity,
              clipped: el ? el.scrollWidth > el.clientWidth : true,
            };
          }),
        };
      });

      expect(layout.pageWidth).toBeLessThanOrEqual(layout.width);
      for (const e of layout.elements) {
        expect(e, e.selector).toMatchObject({ clipped: false });
        expect(e.left, e.selector).toBeGreaterThanOrEqual(0);
        expect(e.right, e.selector).toBeLessThanOrEqual(layout.width);
        expect(e.top, e.selector).toBeGreaterThanOrEqual(0);
        expect(e.bottom, e.selector).toBeLessThanOrEqual(layout.height);
      }

      await screenshot(page, `layout-${transport.connected ? 'widest' : 'disconnected'}-${name}`);
      expect(noise, label).toEqual([]);
      await page.close();
    });
  });
});
