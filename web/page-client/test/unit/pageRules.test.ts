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

  it.each([
    ['a space', 'my notes.json', 'the space'],
    ['a non-ASCII letter', 'café.json', '"é" (U+00E9)'],
    ['a letter outside the BMP', 'assets/\u{1D11E}.svg', '"\u{1D11E}" (U+1D11E)'],
    ['a percent sign', '100%.json', '"%"'],
    ['a hash', 'notes#1.json', '"#"'],
    ['a question mark', 'why?.json', '"?"'],
    ['a caret', 'a^b.js', '"^"'],
    ['a bar', 'a|b.js', '"|"'],
    ['brackets', 'assets/[id].js', '"["'],
    ['a brace', 'assets/{id}.js', '"{"'],
    ['a backtick', 'a`b.js', '"`"'],
    ['a double quote', 'say"hi".json', '"\""'],
    ['angle brackets', 'a<b>.html', '"<"'],
    ['a backslash', 'assets\\app.js', '"\\"'],
    ['a colon', 'c:app.js', '":"'],
    ['a tab', 'a\tb.json', 'the character U+0009'],
    ['a no-break space', 'a\u00a0b.json', 'the character U+00A0'],
    ['a leading tilde', '~draft.json', 'start with "~"'],
  ])('refuses a name with %s, naming the file and why', (_, path, why) => {
    const problems = problemsWithEmittedPaths(['index.html', path]);
    expect(problems).toEqual([expect.stringContaining(`${path}: `)]);
    expect(problems[0]).toContain(why);
    expect(problems[0]).toMatch(/rename the file$/);
  });

  it("passes names made of what a URL path carries as it is, and a '~' inside a name", () => {
    const names = ["a-b_c.d~e.json", "it's(1)+more,!$&*;=@x.json", 'assets/~backup.js', 'A1/B2/c3.png'];
    expect(problemsWithEmittedPaths(['index.html', ...names])).toEqual([]);
  });

  it('reports one problem per file, by the name it is given', () => {
    expect(problemsWithEmittedPaths(['index.html', 'my font.woff2', 'a b/transport.js'], (p) => `public/${p}`)).toEqual([
      expect.stringMatching(/^public\/my font\.woff2: the space /),
      expect.stringMatching(/^public\/a b\/transport\.js: the space /),
    ]);
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
    ['a name with a space', 'public/my notes.json', 'public/my notes.json: the space must be percent-encoded'],
    ['a non-ASCII name', 'public/café.json', 'public/café.json: "é" (U+00E9) must be percent-encoded'],
  ])('fails when the output holds %s', async (_, path, problem) => {
    await expect(buildIn(project({ [path]: 'x' }))).rejects.toThrow(problem);
  });

  it('names an emitted asset by its place in the output', async () => {
    const root = project({
      'main.js': 'import url from "./pic ture.png?url"; document.body.textContent = url;',
      'pic ture.png': 'x'.repeat(8192),
    });
    await expect(buildIn(root)).rejects.toThrow(/assets\/pic ture-[\w-]+\.png: the space/);
  });

  it('offers the dev server only where the editor looks for it, whatever the page asks', () => {
    expect(quillbeatPage().config({ base: '/' }).server).toEqual({ host: '127.0.0.1', port: 5173, strictPort: true });
  });
});
