// What a page must look like for the plug-in to serve it.
//
// The plug-in serves the page from its resource provider, which knows the
// MIME type of only a few file endings (anything else goes out as
// application/octet-stream, which the web view will not run or style) and
// answers any path containing "transport.js" or "api/transport" with its own
// transport script. The provider's origin differs between platforms
// (juce://juce.backend/ here, https://juce.backend/ on WebView2), so the page
// must reach its files by relative addresses. Without an installed page the
// editor opens a development server at exactly 127.0.0.1:5173.
//
// quillbeatPage() applies all of this to a Vite build: relative addresses and
// the dev server's address by default, and a build that fails instead of
// writing a page that would break inside the plug-in.

import { readdirSync } from 'node:fs';
import { isAbsolute, join, relative, sep } from 'node:path';

export const SERVED_ENDINGS = ['.html', '.js', '.css', '.svg', '.png', '.json'] as const;
export const INTERCEPTED_PATHS = ['transport.js', 'api/transport'] as const;
/** Where the editor looks for a page when none is installed. */
export const DEV_SERVER_HOST = '127.0.0.1';
export const DEV_SERVER_PORT = 5173;

/** What is wrong with each of `paths` (relative to the page root, "/"-separated); empty when all is well. */
export function problemsWithEmittedPaths(paths: readonly string[]): string[] {
  const problems: string[] = [];
  for (const path of paths) {
    const intercepted = INTERCEPTED_PATHS.find((p) => path.includes(p));
    if (intercepted !== undefined) {
      problems.push(`${path}: the plug-in answers paths containing "${intercepted}" itself`);
    }
    if (!SERVED_ENDINGS.some((ending) => path.endsWith(ending))) {
      problems.push(`${path}: the plug-in serves only ${SERVED_ENDINGS.join(' ')} with a known type`);
    }
  }
  if (!paths.includes('index.html')) problems.push('index.html is missing: the plug-in opens it first');
  return problems;
}

/** Why `base` (Vite's public base path) would break the page inside the plug-in, or null when it is relative. */
export function problemWithBase(base: string): string | null {
  return base === './' || base === ''
    ? null
    : `base is "${base}": the page must use relative addresses ("./"), since the plug-in's origin differs between platforms`;
}

/** Every file below `dir`, relative to it and "/"-separated. */
export function listPageFiles(dir: string, root = dir): string[] {
  return readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const full = join(dir, entry.name);
    return entry.isDirectory() ? listPageFiles(full, root) : [relative(root, full).split(sep).join('/')];
  });
}

/**
 * The parts of a Vite plug-in this one uses, written out so that the package
 * needs no Vite of its own; Vite accepts it as a plug-in.
 */
export interface QuillbeatPagePlugin {
  name: string;
  config(userConfig: { base?: string }): {
    base: string;
    server: { host: string; port: number; strictPort: boolean };
  };
  configResolved(config: { root: string; base: string; command: string; build: { outDir: string } }): void;
  onLog(level: string, log: { code?: string; id?: string; message?: string }): boolean | void;
  closeBundle(): void;
}

/**
 * A Vite plug-in for a page shown in Quillbeat's editor: relative addresses,
 * the dev server on 127.0.0.1:5173 (and no other port: it fails rather than
 * move to another), and a build that fails when the page sets a base that is
 * not relative or writes a file the plug-in cannot serve.
 */
export function quillbeatPage(): QuillbeatPagePlugin {
  let outDir = '';
  let building = false;
  return {
    name: 'quillbeat-page',
    // Relative addresses unless the page says otherwise (the build then
    // refuses); the dev server only ever where the editor looks for it.
    config(userConfig) {
      return {
        base: userConfig.base ?? './',
        server: { host: DEV_SERVER_HOST, port: DEV_SERVER_PORT, strictPort: true },
      };
    },
    configResolved(config) {
      building = config.command === 'build';
      if (!building) return;
      const problem = problemWithBase(config.base);
      if (problem !== null) throw new Error(`this page would not load inside the plug-in: ${problem}`);
      outDir = isAbsolute(config.build.outDir) ? config.build.outDir : join(config.root, config.build.outDir);
    },
    onLog(_level, log) {
      // JUCE's front-end library evals Android's user scripts on purpose;
      // that is its business, not a fault in the page.
      if (log.code === 'EVAL' && log.id !== undefined && /juce-frontend/.test(log.id)) return false;
    },
    closeBundle() {
      if (!building) return;
      const problems = problemsWithEmittedPaths(listPageFiles(outDir));
      if (problems.length > 0) {
        throw new Error(`the build wrote files the plug-in cannot serve:\n  ${problems.join('\n  ')}`);
      }
    },
  };
}
