import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import type { AnalysisFrame } from '../../src/analysis';
import {
  AnalysisError,
  createAnalysisClient,
  type AnalysisClient,
  type AnalysisErrorReason,
  type AnalysisSettings,
  type AnalysisWindow,
} from '../../src/analysisClient';
import type { FrontendLibrary } from '../../src/bridge';
import { analysisFrame } from '../analysisFrames';
import { installFakeJuce, removeFakeJuce, type FakeHost } from '../fakeJuce';

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

async function refusal(promise: Promise<unknown>): Promise<AnalysisError> {
  const error = await promise.then(
    () => null,
    (e: unknown) => e,
  );
  expect(error).toBeInstanceOf(AnalysisError);
  return error as AnalysisError;
}

/** A window that announces setAnalysis, and a library answering it with `answer`. */
function stubbedPlugin(answer: () => Promise<unknown>): { win: AnalysisWindow; loadFrontend: () => Promise<FrontendLibrary> } {
  return {
    win: { __JUCE__: { initialisationData: { __juce__functions: ['setAnalysis'] } } },
    loadFrontend: () => Promise.resolve({ getNativeFunction: () => () => answer() }),
  };
}

const DEFAULTS = {
  levels: true,
  spectrum: true,
  waveform: true,
  framesPerSecond: 30,
  fftSize: 2048,
  bandsPerOctave: 6,
  spectrumChannels: 'sum',
  waveformSlices: 256,
};

beforeEach(() => {
  // JUCE's library binds to window.__JUCE__ when it is first imported; each
  // test's fake gets a fresh copy of it.
  vi.resetModules();
});

afterEach(() => {
  removeFakeJuce();
  vi.useRealTimers();
});

describe('setAnalysis with the plug-in', () => {
  let client: AnalysisClient;

  beforeEach(() => {
    installFakeJuce({ analysis: true });
    client = createAnalysisClient();
  });

  it('starts with the defaults for what it leaves out, changes, and stops', async () => {
    await client.setAnalysis({ framesPerSecond: 60, bandsPerOctave: 12 });
    expect(host().analysis).toEqual({ ...DEFAULTS, framesPerSecond: 60, bandsPerOctave: 12 });
    await client.setAnalysis({});
    expect(host().analysis).toEqual(DEFAULTS);
    await client.setAnalysis(null);
    expect(host().analysis).toBeNull();
    expect(host().analysisCalls).toEqual([[{ framesPerSecond: 60, bandsPerOctave: 12 }], [{}], [null]]);
  });

  it.each<[string, unknown, string]>([
    [
      'an unknown key',
      { level: true },
      'unknown key "level"; the keys are levels, spectrum, waveform, framesPerSecond, fftSize, bandsPerOctave, spectrumChannels, waveformSlices',
    ],
    ['a frame rate out of range', { framesPerSecond: 61 }, 'framesPerSecond must be a whole number from 15 to 60 (got a number)'],
    ['a fractional slice count', { waveformSlices: 2.5 }, 'waveformSlices must be a whole number from 1 to 1024 (got a number)'],
    ['an FFT size the plug-in does not make', { fftSize: 512 }, 'fftSize must be one of 1024, 2048, 4096 (got a number)'],
    ['a boolean as a string', { levels: 'true' }, 'levels must be true or false (got a string)'],
    ['a number that JSON writes as null', { framesPerSecond: Number.NaN }, 'framesPerSecond must be a whole number from 15 to 60 (got nothing)'],
    ['settings that are not an object', [], 'the settings must be an object, or null to stop (got an array)'],
  ])("rejects %s with the plug-in's words, and what ran goes on", async (_, settings, message) => {
    await client.setAnalysis({ framesPerSecond: 15 });
    const error = await refusal(client.setAnalysis(settings as AnalysisSettings));
    expect(error).toMatchObject({ reason: 'refused', message });
    expect(host().analysis).toEqual({ ...DEFAULTS, framesPerSecond: 15 });
  });

  it('stops when nothing is asked for', async () => {
    await client.setAnalysis({});
    await client.setAnalysis({ levels: false, spectrum: false, waveform: false });
    expect(host().analysis).toBeNull();
  });

  it('hands listeners each frame with its arrival, counts what is not a frame, and stops on unsubscribe', async () => {
    let clock = 100;
    client = createAnalysisClient({ now: () => clock });
    const heard: [AnalysisFrame, number][] = [];
    const unsubscribe = client.subscribe((frame, at) => heard.push([frame, at]));

    host().emitAnalysis(analysisFrame({ blockCount: 7 }));
    clock = 133;
    host().emitAnalysis({ blockCount: 8 });
    host().emitAnalysis(analysisFrame({ blockCount: 9 }));
    expect(heard.map(([f, at]) => [f.blockCount, at])).toEqual([
      [7, 100],
      [9, 133],
    ]);
    expect(client.stats()).toEqual({ received: 2, rejected: 1, lastArrivedAtMs: 133 });

    unsubscribe();
    host().emitAnalysis(analysisFrame({ blockCount: 10 }));
    expect(heard).toHaveLength(2);
    // One backend listener for the page's life, however many subscribe.
    client.subscribe(() => {});
    client.subscribe(() => {});
    expect(host().listenerCount('analysisFrame')).toBe(1);
  });

  it('hears nothing while the view is hidden, as the plug-in sends nothing then', () => {
    const heard: AnalysisFrame[] = [];
    client.subscribe((frame) => heard.push(frame));
    host().visible = false;
    host().emitAnalysis(analysisFrame());
    expect(heard).toEqual([]);
  });
});

describe('setAnalysis where it cannot run', () => {
  it.each<[string, () => AnalysisClient, AnalysisErrorReason, string]>([
    [
      'a plain browser',
      () => createAnalysisClient({ win: {} }),
      'unavailable',
      "there is no plug-in to analyse the sound: the page is not inside Quillbeat's editor",
    ],
    [
      'a plug-in from before analysis',
      () => (installFakeJuce({}), createAnalysisClient()),
      'unavailable',
      'the plug-in does not offer setAnalysis',
    ],
    [
      'a library that fails to load',
      () => createAnalysisClient({ ...stubbedPlugin(() => Promise.resolve({ ok: true })), loadFrontend: () => Promise.reject(new Error('no chunk')) }),
      'unavailable',
      "JUCE's front-end library did not load: Error: no chunk",
    ],
    ['an answer that is not one', () => createAnalysisClient(stubbedPlugin(() => Promise.resolve('ok'))), 'bad-answer', 'setAnalysis answered a string'],
    ['an answer without ok', () => createAnalysisClient(stubbedPlugin(() => Promise.resolve({}))), 'bad-answer', 'setAnalysis answered an object'],
    ['a refusal without a reason', () => createAnalysisClient(stubbedPlugin(() => Promise.resolve({ ok: false }))), 'refused', 'refused without a reason'],
  ])('rejects in %s', async (_, make, reason, message) => {
    const error = await refusal(make().setAnalysis({}));
    expect(error).toMatchObject({ reason, message });
  });

  it('gives up on a call that is never answered (a hidden view drops answers)', async () => {
    vi.useFakeTimers();
    const client = createAnalysisClient({ ...stubbedPlugin(() => new Promise(() => {})), timeoutMs: 1000 });
    const pending = refusal(client.setAnalysis({}));
    await vi.advanceTimersByTimeAsync(1000);
    expect(await pending).toMatchObject({ reason: 'unavailable', message: 'setAnalysis did not answer' });
  });

  it('subscribes quietly in a plain browser', () => {
    const client = createAnalysisClient({ win: {} });
    expect(() => client.subscribe(() => {})()).not.toThrow();
    expect(client.stats()).toEqual({ received: 0, rejected: 0, lastArrivedAtMs: null });
  });
});
