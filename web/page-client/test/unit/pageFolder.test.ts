// @vitest-environment node
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { afterEach, describe, expect, it } from 'vitest';
import { installPage, pageFolder } from '../../src/pageFolder';

describe('pageFolder', () => {
  it.each<[string, string, Record<string, string>, string]>([
    ['Linux: ~/.config, whatever XDG_CONFIG_HOME says', 'linux', { XDG_CONFIG_HOME: '/elsewhere' }, '/home/ada/.config/Quillbeat/web'],
    ['macOS: ~/Library', 'darwin', {}, '/home/ada/Library/Quillbeat/web'],
    ['Windows: the roaming APPDATA', 'win32', { APPDATA: 'C:\\Users\\ada\\AppData\\Roaming' }, 'C:\\Users\\ada\\AppData\\Roaming\\Quillbeat\\web'],
  ])('%s', (_, platform, env, expected) => {
    const home = platform === 'win32' ? 'C:\\Users\\ada' : '/home/ada';
    expect(pageFolder({ platform, env, home })).toBe(expected);
  });
});

describe('installPage', () => {
  let dir = '';
  const scratch = (): string => (dir = mkdtempSync(join(tmpdir(), 'quillbeat-install-')));

  function write(path: string, text: string): void {
    mkdirSync(join(path, '..'), { recursive: true });
    writeFileSync(path, text);
  }

  afterEach(() => {
    if (dir !== '') rmSync(dir, { recursive: true, force: true });
    dir = '';
  });

  it('replaces the installed page whole, leaving its neighbours alone', () => {
    const root = scratch();
    const target = join(root, 'home/.config/Quillbeat/web');
    write(join(target, 'index.html'), 'old');
    write(join(target, 'assets/old.js'), 'old');
    write(join(root, 'home/.config/Quillbeat/WebView2/keep'), 'engine data');
    write(join(root, 'dist/index.html'), 'new');
    write(join(root, 'dist/assets/new.js'), 'new');

    expect(installPage(join(root, 'dist'), target)).toBe(target);

    expect(readFileSync(join(target, 'index.html'), 'utf8')).toBe('new');
    expect(existsSync(join(target, 'assets/new.js'))).toBe(true);
    expect(existsSync(join(target, 'assets/old.js'))).toBe(false);
    expect(existsSync(`${target}.new`)).toBe(false);
    expect(existsSync(join(root, 'home/.config/Quillbeat/WebView2/keep'))).toBe(true);
  });

  it('refuses a folder without index.html and keeps the installed page', () => {
    const root = scratch();
    const target = join(root, 'web');
    write(join(target, 'index.html'), 'old');
    write(join(root, 'dist/assets/a.js'), 'x');

    expect(() => installPage(join(root, 'dist'), target)).toThrow(/index\.html/);
    expect(readFileSync(join(target, 'index.html'), 'utf8')).toBe('old');
  });
});
