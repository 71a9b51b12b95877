import { describe, expect, it } from 'vitest';
import { problemsWithEmittedPaths } from '../../tools/emittedFiles';

describe('files the plug-in can serve', () => {
  it('passes a build of the served endings with an index.html', () => {
    expect(
      problemsWithEmittedPaths(['index.html', 'assets/index-a1.js', 'assets/index-b2.css', 'logo.svg', 'icon.png', 'data.json']),
    ).toEqual([]);
  });

  it.each([
    ['a font', 'assets/inter.woff2', 'serves only'],
    ['a source map', 'assets/index-a1.js.map', 'serves only'],
    ['an icon', 'favicon.ico', 'serves only'],
    ['a file the transport script shadows', 'assets/transport.js', '"transport.js"'],
    ['a chunk whose name ends like it', 'assets/live-transport.js', '"transport.js"'],
    ['JSON whose name starts like it', 'assets/transport.json', '"transport.js"'],
    ['a path under the transport endpoint', 'api/transport/state.json', '"api/transport"'],
  ])('refuses %s', (_, path, problem) => {
    const problems = problemsWithEmittedPaths(['index.html', path]);
    expect(problems).toHaveLength(1);
    expect(problems[0]).toContain(path);
    expect(problems[0]).toContain(problem);
  });

  it('refuses a build without index.html', () => {
    expect(problemsWithEmittedPaths(['assets/index-a1.js'])).toEqual([expect.stringContaining('index.html')]);
  });
});
