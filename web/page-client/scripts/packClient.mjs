#!/usr/bin/env node
// packClient.mjs [<folder>]
// Packs the client into <folder>, by default packed/, where
// `quillbeat-page create` takes it from in a clone. npm pack builds it first
// (the prepack script), bundling JUCE's front-end library, so the JUCE tree
// must be there: without it, one line says what to run instead of a page of
// npm errors. Quiet when all goes well.

import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { missingJuceFrontend } from './juceFrontend.mjs';

const packageDir = resolve(dirname(fileURLToPath(import.meta.url)), '..');

function missingBuildTools() {
  try {
    createRequire(join(packageDir, 'package.json')).resolve('vite/package.json');
    return null;
  } catch {
    return `Vite is not installed for ${packageDir}; run "npm ci" in web/ first`;
  }
}
// npm runs scripts in the package's folder; INIT_CWD is where the command was typed.
const here = process.env.INIT_CWD ?? process.cwd();
const packedDir = process.argv[2] === undefined ? join(packageDir, 'packed') : resolve(here, process.argv[2]);

// What the build needs, each said in one line when it is not there.
const missing = missingJuceFrontend() ?? missingBuildTools();
if (missing !== null) {
  console.error(`Cannot pack the page client: ${missing}`);
  process.exit(1);
}

mkdirSync(packedDir, { recursive: true });
// Through npm's own script when npm started us; otherwise the npm on the PATH.
const viaNode = process.env.npm_execpath !== undefined && /\.[cm]?js$/.test(process.env.npm_execpath);
const args = ['pack', '--pack-destination', packedDir, '--loglevel=error'];
const packed = viaNode
  ? spawnSync(process.execPath, [process.env.npm_execpath, ...args], { cwd: packageDir, encoding: 'utf8' })
  : spawnSync('npm', args, { cwd: packageDir, encoding: 'utf8', shell: process.platform === 'win32' });
if (packed.status !== 0) {
  process.stderr.write(`${packed.stdout ?? ''}${packed.stderr ?? ''}`);
  console.error('Cannot pack the page client: npm pack failed (its output is above)');
  process.exit(1);
}

const { name, version } = JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8'));
const tarball = join(packedDir, `${name.replace(/^@/, '').replace('/', '-')}-${version}.tgz`);
const shown = relative(here, tarball);
console.log(`Packed the page client: ${shown.startsWith('..') ? tarball : shown}`);
