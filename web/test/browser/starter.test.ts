// The starter page as an author gets it: made by `npm run new-page`, built
// and installed by its own `npm run install-page` into a scratch HOME, then
// shown in Chromium with the fake plug-in, from the folder it was installed to.
import { spawnSync } from 'node:child_process';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { listPageFiles, problemsWithEmittedPaths } from '@quillbeat/page-client/build';
import type { Page } from 'playwright-core';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';
import { fakeJuceInitScript, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8, type FakeJuceOptions } from '../../page-client/test/fakeJuce';
import type { TimelineScript } from '../../page-client/test/hostTimeline';
import { launchChromium, type LaunchedChromium } from './chromium';
import { serveFolder, type StaticServer } from './staticServer';

const webDir = resolve(dirname(fileURLToPath(import.meta.url)), '../..');

let scratch = '';
let installed = '';
let created = '';
let server: StaticServer | undefined;
let browser: LaunchedChromium | undefined;

function npm(args: string[], cwd: string, env: Record<string, string> = {}): string {
  const run = spawnSync('npm', args, {
    cwd,
    encoding: 'utf8',
    // The registry is not needed for what the npm cache holds from web/'s own install.
    env: { ...process.env, npm_config_prefer_offline: 'true', npm_config_loglevel: 'error', ...env },
    shell: process.platform === 'win32',
  });
  if (run.status !== 0) throw new Error(`npm ${args.join(' ')} failed in ${cwd}:\n${run.stdout}\n${run.stderr}`);
  return run.stdout;
}

beforeAll(async () => {
  scratch = await mkdtemp(join(tmpdir(), 'quillbeat-starter-'));
  const home = join(scratch, 'home');
  const project = join(scratch, 'My Page');
  created = npm(['run', 'new-page', '--', project], webDir);
  npm(['run', 'install-page'], project, { HOME: home, USERPROFILE: home });
  installed = join(home, '.config', 'Quillbeat', 'web');
  server = await serveFolder(installed);
  browser = await launchChromium();
}, 240_000);

afterAll(async () => {
  await browser?.close();
  await server?.close();
  if (scratch !== '') await rm(scratch, { recursive: true, force: true });
});

async function open(fake: FakeJuceOptions | null): Promise<{ page: Page; errors: string[] }> {
  const page = await browser!.context.newPage();
  const errors: string[] = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => {
    if (m.type() === 'error') errors.push(m.text());
  });
  if (fake !== null) await page.addInitScript({ content: fakeJuceInitScript(fake) });
  await page.goto(`${server!.origin}/`);
  return { page, errors };
}

describe('a page made from the starter', () => {
  it('is told the next two commands, and installs a page the plug-in can serve', () => {
    expect(created).toMatch(/npm run dev\b.*127\.0\.0\.1:5173/);
    expect(created).toContain('npm run install-page');
    expect(problemsWithEmittedPaths(listPageFiles(installed))).toEqual([]);
  });

  it('shows the live transport, the bar, beat and tick, and a title kept with the project', async () => {
    const { page, errors } = await open({
      transport: { ...PLAYING_128_IN_7_8, bpm: 96, timeSigNum: 4, timeSigDen: 4, positionSecs: 17.353, positionFormatted: '0:17.353' },
      playhead: { ...PLAYHEAD_IN_LOOP, playing: false },
      tickMs: 250,
      pageState: '{"title":"Verse"}',
    });
    const text = (selector: string) => page.locator(selector).textContent();

    await expect.poll(() => text('#transport')).toBe('Playing \u00b7 96.0 bpm \u00b7 4/4 \u00b7 0:17.353');
    await expect.poll(() => text('#position')).toBe('9.4.733');
    await expect.poll(() => page.locator('#title').inputValue()).toBe('Verse');

    await page.locator('#title').fill('Chorus');
    await page.locator('#title').press('Enter');
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.pageState)).toBe('{"title":"Chorus"}');

    await page.evaluate(() => window.__fakeHost?.loadPageState('{"title":"As loaded"}'));
    await expect.poll(() => page.locator('#title').inputValue()).toBe('As loaded');
    expect(errors).toEqual([]);
    await page.close();
  });

  it('moves the bar, beat and tick every frame while the host plays, not only at readings', async () => {
    const steady: TimelineScript = { tempoMap: [{ ppq: 0, bpm: 120 }], timeSigNum: 4, timeSigDen: 4, startPpq: 0, playing: true, loop: null };
    const { page, errors } = await open({ timeline: { script: steady, jitterMs: 20 } });
    await expect.poll(() => page.evaluate(() => window.__fakeHost?.deliveries.length ?? 0)).toBeGreaterThan(1);

    // A second of frames: the position shown, and how many readings had arrived by then.
    const frames = await page.evaluate(
      () =>
        new Promise<[string, number][]>((resolve) => {
          const seen: [string, number][] = [];
          const start = performance.now();
          const frame = (): void => {
            seen.push([document.querySelector('#position')?.textContent ?? '', window.__fakeHost?.deliveries.length ?? 0]);
            if (performance.now() - start < 1000) requestAnimationFrame(frame);
            else resolve(seen);
          };
          requestAnimationFrame(frame);
        }),
    );
    const perReading = new Map<number, Set<string>>();
    for (const [shown, readings] of frames) perReading.set(readings, (perReading.get(readings) ?? new Set()).add(shown));
    expect(Math.max(...[...perReading.values()].map((shown) => shown.size))).toBeGreaterThan(3);
    expect(errors).toEqual([]);
    await page.close();
  });

  it('says where it belongs when opened outside the plug-in', async () => {
    const { page, errors } = await open(null);
    await expect.poll(() => page.locator('#transport').textContent()).toContain('Not inside Quillbeat');
    expect(errors).toEqual([]);
    await page.close();
  });
});
