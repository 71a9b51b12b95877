// Serves a folder on 127.0.0.1 the way the plug-in's resource provider does:
// "/" is index.html, and the type comes from the file ending alone, from the
// same short table (anything else is application/octet-stream).

import { readFile } from 'node:fs/promises';
import { createServer, type Server } from 'node:http';
import type { AddressInfo } from 'node:net';
import { extname, join, normalize, sep } from 'node:path';

const TYPES: Record<string, string> = {
  '.html': 'text/html',
  '.js': 'application/javascript',
  '.css': 'text/css',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.json': 'application/json',
};

export interface StaticServer {
  origin: string;
  close(): Promise<void>;
}

export async function serveFolder(root: string): Promise<StaticServer> {
  const server: Server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url ?? '/', 'http://localhost').pathname);
    const relative = path === '/' ? 'index.html' : path.slice(1);
    const file = normalize(join(root, relative));
    if (!file.startsWith(root + sep)) {
      response.writeHead(404).end();
      return;
    }
    readFile(file).then(
      (body) => {
        response.writeHead(200, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream' });
        response.end(body);
      },
      () => response.writeHead(404).end(),
    );
  });

  await new Promise<void>((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address() as AddressInfo;
  return {
    origin: `http://127.0.0.1:${port}`,
    close: () => new Promise<void>((resolve) => server.close(() => resolve())),
  };
}
