// What a page's build uses: the plug-in's rules as a Vite plug-in, and the
// folder a built page is installed into. Runs in Node, not in the page.

export {
  DEV_SERVER_HOST,
  DEV_SERVER_PORT,
  INTERCEPTED_PATHS,
  listPageFiles,
  problemsWithEmittedPaths,
  problemWithName,
  problemWithBase,
  quillbeatPage,
  SERVED_ENDINGS,
  type QuillbeatPagePlugin,
} from './pageRules.js';
export { installPage, pageFolder, type PageFolderOptions } from './pageFolder.js';
