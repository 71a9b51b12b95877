// What a page must look like for the plug-in to serve it.
//
// The plug-in serves the page from its resource provider, which knows the
// MIME type of only a few file endings (anything else goes out as
// application/octet-stream, which the web view will not run or style) and
// answers any path containing "transport.js" or "api/transport" with its own
// transport script. It looks a name up as the web view sends it, without
// percent-decoding, so a file whose name a URL must escape is never found.
// The provider's origin differs between platforms (juce://juce.backend/ here,
// https://juce.backend/ on WebView2), so the page must reach its files by
// relative addresses. Without an installed page the editor opens a
// development server at exactly 127.0.0.1:5173.
//
// quillbeatPage() applies all of this to a Vite build: relative addresses and
// the dev server's address by default, and a build that fails instead of
// writing a page that would break inside the plug-in.

import { existsSync, readdirSync } from 'node:fs';
import { isAbsolute, join, relative, sep } from 'node:path';

export const SERVED_ENDINGS = ['.html', '.js', '.css', '.svg', '.png', '.json'] as const;
export const INTERCEPTED_PATHS = ['transport.js', 'api/transport'] as const;
/** Where the editor looks for a page when none is installed. */
export const DEV_SERVER_HOST = '127.0.0.1';
export const DEV_SERVER_PORT = 5173;

// What a URL path carries as it is (RFC 3986's unreserved characters and
// sub-delimiters, and "@"), less the ":" the plug-in refuses. The web view
// percent-encodes anything else, and the plug-in looks the encoded name up
// as it arrives, so a file named with anything else is never found.
const PLAIN_URL_PATH = /^[A-Za-z0-9\-._~!$&'()*+,;=@/]$/u;

function describeCharacter(c: string): string {
  if (c === ' ') return 'the space';
  const code = `U+${c.codePointAt(0)!.toString(16).toUpperCase().padStart(4, '0')}`;
  return /[\p{Cc}\p{Cf}\p{Z}]/u.test(c) ? `the character ${code}` : `"${c}" (${code})`;
}

/** Why the plug-in can never serve a file at `path`, or null when its name is fine. */
export function problemWithName(path: string): string | null {
  const unsafe = [...path].find((c) => !PLAIN_URL_PATH.test(c));
  if (unsafe !== undefined) {
    return `${describeCharacter(unsafe)} must be percent-encoded in a URL, and the plug-in serves names as the web view sends them; rename the file`;
  }
  // The plug-in refuses a path that starts with "~" (a home folder to a shell).
  if (path.startsWith('~')) return 'the plug-in refuses paths that start with "~"; rename the file';
  return null;
}

/** Why the plug-in cannot serve `path` as the page expects, or null when it can. */
function problemWithPath(path: string): string | null {
  const badName = problemWithName(path);
  if (badName !== null) return badName;
  const intercepted = INTERCEPTED_PATHS.find((p) => path.includes(p));
  if (intercepted !== undefined) return `the plug-in answers paths containing "${intercepted}" itself`;
  if (!SERVED_ENDINGS.some((ending) => path.endsWith(ending))) {
    return `the plug-in serves only ${SERVED_ENDINGS.join(' ')} with a known type`;
  }
  return null;
}

/**
 * What is wrong with each of `paths` (relative to the page root, "/"-separated),
 * one problem per file; empty when all is well. `nameOf` gives the name a
 * message shows for a path, for instance where it came from in the project.
 */
export function problemsWithEmittedPaths(
  paths: readonly string[],
  nameOf: (path: string) => string = (path) => path,
): string[] {
  const problems: string[] = [];
  for (const path of paths) {
    const problem = problemWithPath(path);
    if (problem !== null) problems.push(`${nameOf(path)}: ${problem}`);
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
  configResolved(config: {
    root: string;
    base: string;
    command: string;
    publicDir: string;
    build: { outDir: string };
  }): void;
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
  let root = '';
  let publicDir = '';
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
      root = config.root;
      publicDir = config.publicDir;
    },
    onLog(_level, log) {
      // JUCE's front-end library evals Android's user scripts on purpose;
      // that is its business, not a fault in the page.
      if (log.code === 'EVAL' && log.id !== undefined && /juce-frontend/.test(log.id)) return false;
    },
    closeBundle() {
      if (!building) return;
      // A file copied from public/ is named as the author sees it in the project.
      const nameOf = (path: string): string =>
        publicDir !== '' && existsSync(join(publicDir, path))
          ? relative(root, join(publicDir, path)).split(sep).join('/')
          : path;
      const problems = problemsWithEmittedPaths(listPageFiles(outDir), nameOf);
      if (problems.length > 0) {
        throw new Error(`the build wrote files the plug-in cannot serve:\n  ${problems.join('\n  ')}`);
      }
    },
  };
}
