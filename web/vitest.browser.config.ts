import { defineConfig } from 'vitest/config';

// The page in Debian's Chromium (/usr/bin/chromium), loaded from the built
// dist/ folder; `npm run test:browser` builds it first.
export default defineConfig({
  test: {
    environment: 'node',
    include: ['test/browser/**/*.test.ts'],
    testTimeout: 60_000,
    hookTimeout: 60_000,
  },
});
