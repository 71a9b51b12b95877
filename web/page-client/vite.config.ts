import { realpathSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { defineConfig } from 'vitest/config';
import { juceFrontendDir, missingJuceFrontend } from './scripts/juceFrontend.mjs';

const packageDir = dirname(fileURLToPath(import.meta.url));

// JUCE's front-end library goes into the package's build, from the JUCE tree
// the plug-in builds against, so an author needs no JUCE tree of their own.
const frontendDir = juceFrontendDir();
const missing = missingJuceFrontend(frontendDir);
if (missing !== null) throw new Error(missing);

const realFrontendDir = realpathSync(frontendDir);

// The library carries no licence marker a bundler keeps, so its chunk gets one.
const JUCE_NOTICE = `/*
 * JUCE's front-end library (juce_gui_extra/native/javascript), bundled from the
 * JUCE tree Quillbeat is built with. Part of the JUCE framework, Copyright (c)
 * Raw Material Software Limited, under the JUCE licence or the AGPLv3:
 * https://juce.com/legal/juce-8-licence/ and https://www.gnu.org/licenses/agpl-3.0.en.html
 */`;

export default defineConfig({
  resolve: {
    alias: [{ find: /^juce-framework-frontend$/, replacement: join(frontendDir, 'index.js') }],
  },
  build: {
    outDir: 'dist',
    emptyOutDir: true,
    // Readable output: authors step through it in the web view's inspector.
    minify: false,
    target: 'es2022',
    lib: {
      entry: { index: join(packageDir, 'src/index.ts'), build: join(packageDir, 'src/build.ts') },
      formats: ['es'],
    },
    rolldownOptions: {
      external: [/^node:/],
      output: {
        // JUCE's library binds to window.__JUCE__ as it loads, so it stays a
        // chunk of its own, loaded only inside the plug-in.
        chunkFileNames: (chunk) =>
          chunk.facadeModuleId?.startsWith(realFrontendDir) ? 'juce-frontend.js' : '[name]-[hash].js',
        banner: (chunk) => (chunk.fileName === 'juce-frontend.js' ? JUCE_NOTICE : ''),
      },
      onLog(level, log, defaultHandler) {
        // JUCE's library evals Android's user scripts on purpose.
        if (log.code === 'EVAL' && log.id?.startsWith(realFrontendDir)) return;
        defaultHandler(level, log);
      },
    },
  },
  test: {
    environment: 'jsdom',
    // kit/: the packed tarball in a scratch project (npm, a few seconds).
    include: ['test/unit/**/*.test.ts', 'test/kit/**/*.test.ts'],
    hookTimeout: 120_000,
  },
});
