import { quillbeatPage } from '@quillbeat/page-client/build';
import { defineConfig } from 'vitest/config';

// The page uses the same client and the same build rules as any author's
// page: @quillbeat/page-client (page-client/, built first by the npm
// scripts) carries JUCE's front-end library, and quillbeatPage() gives
// relative addresses, the dev server at 127.0.0.1:5173 that the editor falls
// back to, and a build that fails on files the plug-in cannot serve.
export default defineConfig({
  build: {
    outDir: 'dist',
    emptyOutDir: true,
  },
  plugins: [quillbeatPage()],
  test: {
    environment: 'jsdom',
    include: ['test/unit/**/*.test.ts'],
  },
});
