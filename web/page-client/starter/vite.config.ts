import { quillbeatPage } from '@quillbeat/page-client/build';
import { defineConfig } from 'vite';

// quillbeatPage() sets what the plug-in needs: relative addresses, the dev
// server at 127.0.0.1:5173 (where the editor looks when no page is
// installed), and a build that fails on files the plug-in cannot serve.
export default defineConfig({
  plugins: [quillbeatPage()],
});
