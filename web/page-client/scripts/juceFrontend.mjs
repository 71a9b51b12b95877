// Where the client's build takes JUCE's front-end library from: the JUCE tree
// the plug-in builds against, named by QUILLBEAT_JUCE_DIR (as for CMake), or
// else the bootstrap's copy in .cache/juce at the top of the repository. A
// page then talks to the very library version the plug-in was built with.

import { existsSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const repository = resolve(dirname(fileURLToPath(import.meta.url)), '../../..');

export function juceFrontendDir(env = process.env) {
  const juceDir = env.QUILLBEAT_JUCE_DIR ? resolve(env.QUILLBEAT_JUCE_DIR) : join(repository, '.cache', 'juce');
  return join(juceDir, 'modules', 'juce_gui_extra', 'native', 'javascript');
}

/** What is missing and what to run, in one line; null when the library is there. */
export function missingJuceFrontend(dir = juceFrontendDir()) {
  return existsSync(join(dir, 'index.js'))
    ? null
    : `JUCE's front-end library is not at ${dir}; run scripts/bootstrap.sh, or set QUILLBEAT_JUCE_DIR to a JUCE 8 tree`;
}
