// @vitest-environment node
// The packed client as an author gets it: a tarball that installs into an
// empty project with no registry at hand, whose types compile under the
// module settings authors use, and whose build entry runs in Node; and the
// command that starts a page project from it. (A project made by the
// command is built and shown in Chromium by web/'s browser tests.)
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { afterAll, beforeAll, describe, expect, it } from 'vitest';

const packageDir = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const tsc = createRequire(import.meta.url).resolve('typescript/bin/tsc');

/** Each file in a tarball with its mode and size, in order. */
function listTarball(path: string): string {
  return execFileSync('tar', ['-tvzf', path], { encoding: 'utf8' })
    .split('\n')
    .map((line) => line.split(/\s+/).filter((_, i) => i === 0 || i === 2 || i >= 5).join(' '))
    .join('\n');
}

let scratch = '';
let tarball = '';
let project = '';

function npm(args: string[], cwd: string) {
  return spawnSync('npm', args, { cwd, encoding: 'utf8', shell: process.platform === 'win32' });
}

beforeAll(() => {
  scratch = mkdtempSync(join(tmpdir(), 'quillbeat-packed-client-'));
  // npm pack builds the package first (its prepack script).
  const packed = npm(['pack', '--pack-destination', scratch, '--loglevel=error'], packageDir);
  expect(packed.status, packed.stderr).toBe(0);
  tarball = join(scratch, readdirSync(scratch).find((f) => f.endsWith('.tgz')) ?? '');

  project = join(scratch, 'empty');
  mkdirSync(project);
  writeFileSync(join(project, 'package.json'), JSON.stringify({ name: 'empty', private: true, type: 'module' }));
  // --offline: the tarball must need nothing from a registry.
  const installed = npm(['install', '--offline', '--no-audit', '--no-fund', tarball], project);
  expect(installed.status, installed.stderr).toBe(0);
}, 120_000);

afterAll(() => {
  if (scratch !== '') rmSync(scratch, { recursive: true, force: true });
});

// Each case starts npm, tsc or node: seconds apiece on a busy machine.
describe('the packed client', { timeout: 60_000 }, () => {
  it('installs offline, bringing nothing else along', () => {
    const lock = JSON.parse(readFileSync(join(project, 'package-lock.json'), 'utf8')) as { packages: Record<string, unknown> };
    expect(Object.keys(lock.packages).filter((p) => p !== '')).toEqual(['node_modules/@quillbeat/page-client']);
  });

  it.each(['Bundler', 'NodeNext'])('type-checks a page and a build config with moduleResolution %s', (resolution) => {
    writeFileSync(
      join(project, 'page.ts'),
      `import { createTransportBridge, musicalPosition, formatBarsBeatsTicks, setPageStateJson, PageStateError, type BridgeState } from '@quillbeat/page-client';
import { quillbeatPage, pageFolder, problemsWithEmittedPaths } from '@quillbeat/page-client/build';
const bridge = createTransportBridge();
bridge.subscribe((s: BridgeState) => {
  const bbt = s.playhead === null ? null : musicalPosition(s.playhead);
  const text: string = bbt === null ? '' : formatBarsBeatsTicks(bbt);
  const bpm: number | undefined = s.transport?.bpm;
  void [text, bpm];
});
setPageStateJson({ a: 1 }).catch((e: unknown) => e instanceof PageStateError && e.reason === 'too-large');
const folder: string = pageFolder();
const problems: string[] = problemsWithEmittedPaths(['index.html']);
const name: string = quillbeatPage().name;
void [folder, problems, name];
`,
    );
    const module = resolution === 'NodeNext' ? 'NodeNext' : 'ESNext';
    // No @types of any kind: the declarations must stand on their own.
    const compilerOptions = { noEmit: true, strict: true, target: 'ES2022', lib: ['ES2022', 'DOM'], types: [], module, moduleResolution: resolution };
    writeFileSync(join(project, 'tsconfig.json'), JSON.stringify({ compilerOptions, files: ['page.ts'] }));
    const checked = spawnSync(process.execPath, [tsc, '-p', 'tsconfig.json'], { cwd: project, encoding: 'utf8' });
    expect(checked.stdout + checked.stderr).toBe('');
    expect(checked.status).toBe(0);
  });

  it('runs its build entry in Node: the rules and the page folder', () => {
    const out = execFileSync(
      process.execPath,
      ['--input-type=module', '-e', `import * as b from '@quillbeat/page-client/build';
console.log(JSON.stringify({ problems: b.problemsWithEmittedPaths(['index.html', 'a.woff2']).length, folder: b.pageFolder({ platform: 'linux', home: '/h' }) }));`],
      { cwd: project, encoding: 'utf8' },
    );
    expect(JSON.parse(out)).toEqual({ problems: 1, folder: '/h/.config/Quillbeat/web' });
  });
});

describe('quillbeat-page create', { timeout: 60_000 }, () => {
  const bin = join(packageDir, 'bin/quillbeat-page.mjs');
  const create = (args: string[]) =>
    spawnSync(process.execPath, [bin, 'create', ...args], { cwd: scratch, encoding: 'utf8', env: { ...process.env, INIT_CWD: scratch } });

  it('makes a project that depends on its own copy of the packed client', () => {
    const made = create(['Chorus Page', '--client', tarball, '--no-install']);
    expect(made.status, made.stderr).toBe(0);
    const project = join(scratch, 'Chorus Page');
    const manifest = JSON.parse(readFileSync(join(project, 'package.json'), 'utf8'));
    expect(manifest.name).toBe('chorus-page');
    const vendored = `vendor/${tarball.split(/[\\/]/).pop()}`;
    expect(manifest.dependencies['@quillbeat/page-client']).toBe(`file:${vendored}`);
    expect(readFileSync(join(project, vendored))).toEqual(readFileSync(tarball));
    expect(readdirSync(project).sort()).toEqual(['.gitignore', 'index.html', 'package.json', 'src', 'tsconfig.json', 'vendor', 'vite.config.ts']);
    expect(made.stdout).toMatch(/cd "Chorus Page"\n\s+npm install\n\s+npm run dev\b[^\n]*\n\s+npm run install-page\b/);
  });

  it('run from an installed copy, as npx runs it from the tarball, vendors that copy packed again', () => {
    const installedBin = join(project, 'node_modules/@quillbeat/page-client/bin/quillbeat-page.mjs');
    // --offline: packing the installed copy needs no registry either.
    const made = spawnSync(process.execPath, [installedBin, 'create', 'from-npx', '--no-install'], {
      cwd: scratch,
      encoding: 'utf8',
      env: { ...process.env, INIT_CWD: scratch, npm_config_offline: 'true' },
    });
    expect(made.status, made.stderr).toBe(0);
    const vendored = join(scratch, 'from-npx/vendor', tarball.split(/[\\/]/).pop()!);
    expect(listTarball(vendored)).toEqual(listTarball(tarball));
    expect(made.stdout).toMatch(/\n\s+cd from-npx\n/);
  });

  it.each([
    ['no folder', () => ['--client', tarball], /name the folder/],
    ['a folder that is not empty', () => [packageDir, '--client', tarball], /not empty/],
    ['no packed client', () => ['new-page', '--client', join(scratch, 'missing.tgz')], /no packed client/],
  ])('refuses %s, and writes nothing', (_, args, why) => {
    const before = readdirSync(scratch).sort();
    const refused = create(args());
    expect(refused.status).toBe(1);
    expect(refused.stderr).toMatch(why);
    expect(readdirSync(scratch).sort()).toEqual(before);
    expect(existsSync(join(packageDir, 'vendor'))).toBe(false);
  });
});

describe('npm run new-page in a clone', { timeout: 60_000 }, () => {
  it('without the JUCE tree says in one line what is missing and what to run, and writes nothing', () => {
    const folder = join(scratch, 'no-juce-page');
    const run = spawnSync('npm', ['run', 'new-page', '--', folder], {
      cwd: resolve(packageDir, '..'),
      encoding: 'utf8',
      env: { ...process.env, QUILLBEAT_JUCE_DIR: join(scratch, 'no-juce'), npm_config_update_notifier: 'false' },
      shell: process.platform === 'win32',
    });
    expect(run.status).toBe(1);
    expect(run.stderr.trim().split('\n')).toEqual([
      expect.stringMatching(/^Cannot pack the page client: JUCE's front-end library is not at .*no-juce.*; run scripts\/bootstrap\.sh/),
    ]);
    expect(existsSync(folder)).toBe(false);
  });
});
