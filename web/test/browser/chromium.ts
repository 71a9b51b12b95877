// Debian's Chromium, started the way this machine allows: headless, without
// a sandbox (we run as root), and without the background services whose
// connections the closed network refuses.
import { existsSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium, type BrowserContext } from 'playwright-core';

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless=new',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

export interface LaunchedChromium {
  context: BrowserContext;
  /** Closes the browser and removes its scratch profile. */
  close(): Promise<void>;
}

/** A fresh Chromium with a scratch profile. */
export async function launchChromium(): Promise<LaunchedChromium> {
  if (!existsSync(CHROMIUM)) throw new Error(`no Chromium at ${CHROMIUM}: apt-get install chromium`);
  const profileDir = await mkdtemp(join(tmpdir(), 'quillbeat-chromium-'));
  // headless: false keeps Playwright's own headless switches out; the
  // arguments above make it headless.
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: false,
    args: CHROMIUM_ARGS,
  });
  return {
    context,
    async close() {
      await context.close();
      await rm(profileDir, { recursive: true, force: true });
    },
  };
}
