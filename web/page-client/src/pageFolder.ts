// The per-user folder the plug-in shows its page from, and installing a built
// page into it.
//
// The plug-in looks in JUCE's user application data folder: ~/.config on
// Linux (HOME decides; XDG_CONFIG_HOME is not read), %APPDATA% on Windows and
// ~/Library on macOS, each with Quillbeat/web below it. It opens index.html
// there when one exists, and the dev server otherwise.

import { cpSync, existsSync, mkdirSync, renameSync, rmSync, statSync } from 'node:fs';
import { homedir } from 'node:os';
import { dirname, join } from 'node:path';

export interface PageFolderOptions {
  /** As process.platform names it. */
  platform?: string;
  env?: Record<string, string | undefined>;
  home?: string;
}

/** The folder the plug-in serves its page from, for this user. */
export function pageFolder(options: PageFolderOptions = {}): string {
  const platform = options.platform ?? process.platform;
  const env = options.env ?? process.env;
  const home = options.home ?? homedir();
  // Joined by the target platform's rules, not this one's.
  const win32 = platform === 'win32';
  const joinFor = (...parts: string[]): string => (win32 ? parts.join('\\') : join(...parts));

  if (win32) return joinFor(env.APPDATA ?? joinFor(home, 'AppData', 'Roaming'), 'Quillbeat', 'web');
  if (platform === 'darwin') return joinFor(home, 'Library', 'Quillbeat', 'web');
  return joinFor(home, '.config', 'Quillbeat', 'web');
}

/**
 * Replaces the installed page with the built one in `builtDir`. The copy is
 * made beside the target first, so a failed copy leaves the old page in
 * place. Returns the folder it installed to.
 */
export function installPage(builtDir: string, target = pageFolder()): string {
  if (!existsSync(join(builtDir, 'index.html')) || !statSync(join(builtDir, 'index.html')).isFile()) {
    throw new Error(`no page (index.html) in ${builtDir}; build it first`);
  }
  const staged = `${target}.new`;
  mkdirSync(dirname(target), { recursive: true });
  rmSync(staged, { recursive: true, force: true });
  cpSync(builtDir, staged, { recursive: true });
  rmSync(target, { recursive: true, force: true });
  renameSync(staged, target);
  return target;
}
