// @vitest-environment node
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { build, type InlineConfig } from 'vite';
import { afterEach, describe, expect, it } from 'vitest';
import { problemsWithEmittedPaths, problemWithBase, quillbeatPage } from '../../src/pageRules';

describe('files the plug-in can serve', () => {
  it('passes a build of the served endings with an index.html', () => {
    expect(
      problemsWithEmittedPaths(['index.html', 'assets/index-a1.js', 'assets/index-b2.css', 'logo.svg', 'icon.png', 'data.json']),
    ).toEqual([]);
  });

  it.each([
    ['a font', 'assets/inter.woff2', 'serves only'],
    ['a source map', 'assets/index-a1.js.map', 'serves only'],
    ['an icon', 'favicon.ico', 'serves only'],
    ['a file the transport script shadows', 'assets/transport.js', '"transport.js"'],
    ['a chunk whose name ends like it', 'assets/live-transport.js', '"transport.js"'],
    ['JSON whose name starts like it', 'assets/transport.json', '"transport.js"'],
    ['a path under the transport endpoint', 'api/transport/state.json', '"api/transport"'],
  ])('refuses %s', (_, path, problem) => {
    const problems = problemsWithEmittedPaths(['index.html', path]);
    expect(problems).toHaveLength(1);
    expect(problems[0]).toContain(path);
    expect(problems[0]).toContain(problem);
  });

  it('refuses a build without index.html', () => {
    expect(problemsWithEmittedPaths(['assets/index-a1.js'])).toEqual([expect.stringContaining('index.html')]);
  });
});

describe('relative addresses', () => {
  it.each([
    ['./', true],
    ['', true],
    ['/', false],
    ['/page/', false],
    ['https://juce.backend/', false],
  ])('base %j is %s', (base, fine) => {
    expect(problemWithBase(base) === null).toBe(fine);
  });
});

describe('quillbeatPage() in a real Vite build', { timeout: 60_000 }, () => {
  let dir = '';

  /** A one-page project in a scratch folder, with `files` beside its index.html. */
  function project(files: Record<string, string> = {}): string {
    dir = mkdtempSync(join(tmpdir(), 'quillbeat-page-rules-'));
    const all: Record<string, string> = {
      'index.html': '<!doctype html><html><body><script type="module" src="./main.js"></script></body></html>',
      'main.js': 'document.body.textContent = "hello";',
      ...files,
    };
    for (const [name, text] of Object.entries(all)) {
      mkdirSync(join(dir, name, '..'), { recursive: true });
      writeFileSync(join(dir, name), text);
    }
    return dir;
  }

  const buildIn = (root: string, extra: InlineConfig = {}) =>
    build({ root, logLevel: 'silent', configFile: false, plugins: [quillbeatPage()], ...extra });

  afterEach(() => {
    if (dir !== '') rmSync(dir, { recursive: true, force: true });
    dir = '';
  });

  it('writes a page with relative addresses', async () => {
    const root = project();
    await buildIn(root);
    expect(readFileSync(join(root, 'dist/index.html'), 'utf8')).toMatch(/src="\.\/assets\/index-[\w-]+\.js"/);
  });

  it('fails when the page asks for an absolute base', async () => {
    await expect(buildIn(project(), { base: '/' })).rejects.toThrow(/relative addresses/);
  });

  it.each([
    ['a file the plug-in serves without a type', 'public/fonts/inter.woff2', 'serves only'],
    ['a file the transport script shadows', 'public/transport.js', '"transport.js"'],
  ])('fails when the output holds %s', async (_, path, problem) => {
    await expect(buildIn(project({ [path]: 'x' }))).rejects.toThrow(problem);
  });

  it('offers the dev server only where the editor looks for it, whatever the page asks', () => {
    expect(quillbeatPage().config({ base: '/' }).server).toEqual({ host: '127.0.0.1', port: 5173, strictPort: true });
  });
});
