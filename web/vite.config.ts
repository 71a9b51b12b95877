import { existsSync, realpathSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { defineConfig } from 'vitest/config';
import { emittedFilesGuard } from './tools/emittedFiles.ts';

const webDir = dirname(fileURLToPath(import.meta.url));

// JUCE's front-end library is bundled straight from the JUCE tree the plug-in
// builds against: the bootstrap's copy in ../.cache/juce, or the tree named by
// QUILLBEAT_JUCE_DIR (as for CMake).
const juceDir = process.env.QUILLBEAT_JUCE_DIR
  ? resolve(process.env.QUILLBEAT_JUCE_DIR)
  : resolve(webDir, '../.cache/juce');
const frontendDir = join(juceDir, 'modules/juce_gui_extra/native/javascript');

if (!existsSync(join(frontendDir, 'index.js'))) {
  throw new Error(
    `JUCE's front-end library is not at ${frontendDir}; run scripts/bootstrap.sh or set QUILLBEAT_JUCE_DIR to a JUCE 8 tree`,
  );
}

const realFrontendDir = realpathSync(frontendDir);

export default defineConfig({
  // Relative addresses: the plug-in serves the page from the root of its
  // resource provider, whose origin differs between platforms.
  base: './',
  resolve: {
    alias: [{ find: /^juce-framework-frontend$/, replacement: join(frontendDir, 'index.js') }],
  },
  server: {
    // The editor falls back to exactly this address when no page is installed.
    host: '127.0.0.1',
    port: 5173,
    strictPort: true,
    fs: { allow: [webDir, frontendDir] },
  },
  build: {
    outDir: 'dist',
    emptyOutDir: true,
    rolldownOptions: {
      output: {
        // JUCE's library is loaded only inside the plug-in; name its chunk for what it is.
        chunkFileNames: (chunk) =>
          chunk.facadeModuleId?.startsWith(realFrontendDir) ? 'assets/juce-frontend-[hash].js' : 'assets/[name]-[hash].js',
      },
      onLog(level, log, defaultHandler) {
        // JUCE's library evals Android's user scripts on purpose; that is its
        // business, not a fault in this page.
        if (log.code === 'EVAL' && log.id?.startsWith(realFrontendDir)) return;
        defaultHandler(level, log);
      },
    },
  },
  plugins: [emittedFilesGuard()],
  test: {
    environment: 'jsdom',
    include: ['test/unit/**/*.test.ts'],
  },
});
