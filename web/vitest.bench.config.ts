import { defineConfig } from 'vitest/config';

// The prediction benchmark: the built page in Chromium against the fake
// host's timeline. It prints figures and passes whatever they are;
// `npm run bench:prediction` builds the page first.
export default defineConfig({
  test: {
    environment: 'node',
    include: ['bench/**/*.ts'],
    reporters: ['dot'],
  },
});
