// The plug-in serves the page from its resource provider, which knows the
// MIME type of only a few file endings (anything else goes out as
// application/octet-stream, which the web view will not run or style) and
// answers any path containing "transport.js" or "api/transport" with its own
// transport script. A build that emits such a file would break inside the
// plug-in, so the build fails instead.

import { readdirSync } from 'node:fs';
import { join, relative, sep } from 'node:path';
import type { Plugin } from 'vite';

export const SERVED_ENDINGS = ['.html', '.js', '.css', '.svg', '.png', '.json'] as const;
export const INTERCEPTED_PATHS = ['transport.js', 'api/transport'] as const;

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

function listFiles(dir: string, root = dir): string[] {
  return readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const full = join(dir, entry.name);
    return entry.isDirectory() ? listFiles(full, root) : [relative(root, full).split(sep).join('/')];
  });
}

/** Fails the build when the written output holds a file the plug-in cannot serve. */
export function emittedFilesGuard(): Plugin {
  let outDir = '';
  return {
    name: 'quillbeat-emitted-files-guard',
    apply: 'build',
    configResolved(config) {
      outDir = join(config.root, config.build.outDir);
    },
    closeBundle() {
      const problems = problemsWithEmittedPaths(listFiles(outDir));
      if (problems.length > 0) {
        throw new Error(`the build wrote files the plug-in cannot serve:\n  ${problems.join('\n  ')}`);
      }
    },
  };
}
