#!/usr/bin/env node
// quillbeat-page create <folder> [--client <tarball>] [--no-install]
//   A new page project from the starter, depending on a packed copy of this
//   client that it keeps in its own vendor/ folder (so it installs offline):
//   the tarball given, else the one `npm run pack:client` made in a clone,
//   else this very package packed again (as when npx runs it from a tarball).
// quillbeat-page install [<built folder>]
//   Replaces the page in the per-user folder the plug-in reads with a build.
//
// Plain Node rather than a shell script: page authors work on Windows as much
// as anywhere.

import { spawnSync } from 'node:child_process';
import {
  copyFileSync,
  cpSync,
  existsSync,
  mkdirSync,
  mkdtempSync,
  readdirSync,
  readFileSync,
  renameSync,
  rmSync,
  writeFileSync,
} from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, isAbsolute, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const packageDir = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const clientPackage = JSON.parse(readFileSync(join(packageDir, 'package.json'), 'utf8'));
// npm runs scripts in the package's folder; INIT_CWD is where the author typed the command.
const here = process.env.INIT_CWD ?? process.cwd();

/** The file name npm pack gives this package's tarball. */
function tarballName() {
  return `${clientPackage.name.replace(/^@/, '').replace('/', '-')}-${clientPackage.version}.tgz`;
}

/** A package name npm accepts, from a folder name. */
function packageNameFor(folder) {
  const name = basename(folder).toLowerCase().replace(/[^a-z0-9._-]+/g, '-').replace(/^[._-]+/, '');
  return name === '' ? 'quillbeat-page' : name;
}

function npm(args, cwd, stdio = 'inherit') {
  // Through npm's own script when npm started us, which works alike everywhere;
  // otherwise the npm on the PATH (npm.cmd on Windows, hence the shell there).
  // Errors only: the author wants the next steps, not npm's notices.
  const quiet = [...args, '--loglevel=error', '--no-audit', '--no-fund', '--no-update-notifier'];
  const viaNode = process.env.npm_execpath !== undefined && /\.[cm]?js$/.test(process.env.npm_execpath);
  const result = viaNode
    ? spawnSync(process.execPath, [process.env.npm_execpath, ...quiet], { cwd, stdio, encoding: 'utf8' })
    : spawnSync('npm', quiet, { cwd, stdio, encoding: 'utf8', shell: process.platform === 'win32' });
  return result;
}

function fail(message) {
  console.error(`quillbeat-page: ${message}`);
  process.exit(1);
}

/**
 * This package as a tarball in a scratch folder: what an installed copy (one
 * npx unpacked from a tarball, say) has is exactly what was packed, so
 * packing it again needs neither its sources nor its build.
 */
function packThisPackage() {
  const scratch = mkdtempSync(join(tmpdir(), 'quillbeat-page-client-'));
  const packed = npm(['pack', packageDir, '--ignore-scripts', '--offline', '--pack-destination', scratch], here, 'pipe');
  const tarball = join(scratch, tarballName());
  if (packed.status !== 0 || !existsSync(tarball)) {
    rmSync(scratch, { recursive: true, force: true });
    fail(`could not pack the client at ${packageDir}: ${`${packed.stderr ?? ''}`.trim() || 'npm pack failed'}`);
  }
  return { tarball, scratch };
}

/** The client tarball a new project vendors, and the scratch folder to remove afterwards, if any. */
function clientTarball(given) {
  if (given !== undefined) {
    if (!existsSync(given)) fail(`no packed client at ${given}`);
    return { tarball: given };
  }
  // A clone has the sources (and the packed tarball once pack:client has run);
  // an installed copy has only what was packed.
  if (existsSync(join(packageDir, 'src'))) {
    const packed = join(packageDir, 'packed', tarballName());
    if (!existsSync(packed)) fail(`no packed client at ${packed}; run "npm run pack:client" in web/ first`);
    return { tarball: packed };
  }
  return packThisPackage();
}

/** How to get from where the author is to `folder`, for the next steps. */
function cdTo(folder) {
  const path = relative(here, folder);
  const shown = path === '' ? '.' : path.startsWith('..') || isAbsolute(path) ? folder : path;
  return shown.includes(' ') ? `"${shown}"` : shown;
}

async function create(args) {
  let folder;
  let given;
  let install = true;
  for (let i = 0; i < args.length; i++) {
    if (args[i] === '--client') given = resolve(here, args[++i] ?? fail('--client needs a tarball'));
    else if (args[i] === '--no-install') install = false;
    else if (folder === undefined && !args[i].startsWith('-')) folder = resolve(here, args[i]);
    else fail(`unknown argument ${args[i]}`);
  }
  if (folder === undefined) fail('name the folder for the new page: quillbeat-page create <folder>');
  if (existsSync(folder) && readdirSync(folder).length > 0) fail(`${folder} exists and is not empty`);
  const client = clientTarball(given);

  const starter = join(packageDir, 'starter');
  cpSync(starter, folder, {
    recursive: true,
    // What a trial run inside the starter itself may have left there.
    filter: (path) => !(dirname(path) === starter && ['node_modules', 'dist', 'vendor'].includes(basename(path))),
  });
  // npm leaves files named .gitignore out of a package, so the starter carries it without the dot.
  renameSync(join(folder, 'gitignore'), join(folder, '.gitignore'));

  mkdirSync(join(folder, 'vendor'), { recursive: true });
  const vendored = join('vendor', basename(client.tarball));
  copyFileSync(client.tarball, join(folder, vendored));
  if (client.scratch !== undefined) rmSync(client.scratch, { recursive: true, force: true });

  const manifestPath = join(folder, 'package.json');
  const manifest = JSON.parse(readFileSync(manifestPath, 'utf8'));
  manifest.name = packageNameFor(folder);
  manifest.dependencies[clientPackage.name] = `file:${vendored.split('\\').join('/')}`;
  writeFileSync(manifestPath, `${JSON.stringify(manifest, null, 2)}\n`);

  console.log(`Created a page in ${folder}`);
  if (install && npm(['install'], folder).status !== 0) {
    fail(`npm install failed in ${folder}; fix what it says and run it again there`);
  }

  const { pageFolder } = await import('../dist/build.js');
  console.log(`
Next:
  cd ${cdTo(folder)}${install ? '' : '\n  npm install'}
  npm run dev            serves the page at http://127.0.0.1:5173/, where the editor looks when no page is installed
  npm run install-page   builds it and installs it where the plug-in reads it (${pageFolder()})

What the plug-in offers a page, and its rules: node_modules/${clientPackage.name}/REFERENCE.md
`);
}

async function installBuilt(args) {
  const { installPage } = await import('../dist/build.js');
  const built = resolve(process.cwd(), args[0] ?? 'dist');
  try {
    const target = installPage(built);
    console.log(`Installed the page: ${target}\nOpen Quillbeat's editor (close and open it if it was open) to see it.`);
  } catch (e) {
    fail(e instanceof Error ? e.message : String(e));
  }
}

const [command, ...rest] = process.argv.slice(2);
if (command === 'create') await create(rest);
else if (command === 'install') await installBuilt(rest);
else fail('usage: quillbeat-page create <folder> [--client <tarball>] [--no-install] | quillbeat-page install [<built folder>]');
