// Asking the plug-in for analysis and hearing its frames.
//
// The native function "setAnalysis" starts, changes or stops the analysis;
// while it runs, the plug-in emits "analysisFrame" at the asked rate while its
// view is visible. Closing the editor stops it. A refused call changes
// nothing: analysis running goes on with its previous settings.

import type { FrontendLibrary } from './bridge.js';
import { parseAnalysisFrame, type AnalysisFrame } from './analysis.js';
import { describeValue, type PluginWindow } from './pluginWindow.js';

export const SET_ANALYSIS = 'setAnalysis';
export const ANALYSIS_FRAME = 'analysisFrame';

/** What to measure and how often; a key left out takes the plug-in's default (in brackets). */
export interface AnalysisSettings {
  /** Per-channel peak and RMS [true]. */
  levels?: boolean;
  /** Bands of a fraction of an octave [true]. */
  spectrum?: boolean;
  /** Min and max per slice [true]. */
  waveform?: boolean;
  /** Frames per second, 15..60 [30]. */
  framesPerSecond?: number;
  /** Samples the spectrum is taken over: 1024, 2048 or 4096 [2048]. */
  fftSize?: 1024 | 2048 | 4096;
  /** 1, 2, 3, 6, 12 or 24 [6]. */
  bandsPerOctave?: 1 | 2 | 3 | 6 | 12 | 24;
  /** One spectrum of the channels summed, or one per channel ["sum"]. */
  spectrumChannels?: 'sum' | 'each';
  /** Waveform slices per frame, 1..1024 [256]. */
  waveformSlices?: number;
}

export type AnalysisErrorReason =
  /** No plug-in, one without setAnalysis, or no answer in time. */
  | 'unavailable'
  /** The plug-in refused the settings; the message is its own. */
  | 'refused'
  /** The plug-in answered with something that is not an answer. */
  | 'bad-answer';

export class AnalysisError extends Error {
  readonly reason: AnalysisErrorReason;

  constructor(reason: AnalysisErrorReason, message: string) {
    super(message);
    this.name = 'AnalysisError';
    this.reason = reason;
  }
}

/** One frame, and when it arrived on the page clock (performance.now(), unless `now` was given). */
export type AnalysisListener = (frame: AnalysisFrame, arrivedAtMs: number) => void;

export interface AnalysisStats {
  /** Frames that reached listeners. */
  received: number;
  /** Deliveries that were not a frame. */
  rejected: number;
  /** When the newest frame arrived, on the page clock; null before the first. */
  lastArrivedAtMs: number | null;
}

export interface AnalysisClient {
  /** Starts or changes the analysis; null stops it. Rejects with an AnalysisError saying why. */
  setAnalysis(settings: AnalysisSettings | null): Promise<void>;
  /** Calls `listener` with every frame; returns a function that stops the calls. */
  subscribe(listener: AnalysisListener): () => void;
  stats(): AnalysisStats;
}

/** The window as the client sees it; a plain object stands in for it in tests. */
export type AnalysisWindow = PluginWindow;

export interface AnalysisClientOptions {
  win?: AnalysisWindow;
  /** The page clock, in milliseconds; default performance.now(). */
  now?: () => number;
  /** Loads JUCE's front-end library; only called when `window.__JUCE__` exists. */
  loadFrontend?: () => Promise<FrontendLibrary>;
  /** How long setAnalysis may take before it counts as unanswered (a hidden view drops answers). */
  timeoutMs?: number;
}

const DEFAULT_TIMEOUT_MS = 5000;

export function createAnalysisClient(options: AnalysisClientOptions = {}): AnalysisClient {
  const win: AnalysisWindow = options.win ?? (window as unknown as AnalysisWindow);
  const now = options.now ?? (() => performance.now());
  const loadFrontend =
    options.loadFrontend ?? (() => import('juce-framework-frontend') as Promise<FrontendLibrary>);
  const timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
  const listeners = new Set<AnalysisListener>();
  const stats: AnalysisStats = { received: 0, rejected: 0, lastArrivedAtMs: null };
  let library: Promise<FrontendLibrary> | undefined;
  let listening = false;

  async function setAnalysis(settings: AnalysisSettings | null): Promise<void> {
    if (typeof win.__JUCE__ !== 'object' || win.__JUCE__ === null) {
      throw new AnalysisError('unavailable', "there is no plug-in to analyse the sound: the page is not inside Quillbeat's editor");
    }
    const names = win.__JUCE__.initialisationData?.__juce__functions;
    if (!Array.isArray(names) || !names.includes(SET_ANALYSIS)) {
      throw new AnalysisError('unavailable', `the plug-in does not offer ${SET_ANALYSIS}`);
    }
    listen();
    library ??= loadFrontend();
    let timer: ReturnType<typeof setTimeout> | undefined;
    let answer: unknown;
    try {
      const lib = await library;
      answer = await Promise.race([
        lib.getNativeFunction(SET_ANALYSIS)(settings),
        new Promise<never>((_, reject) => {
          timer = setTimeout(() => reject(new AnalysisError('unavailable', `${SET_ANALYSIS} did not answer`)), timeoutMs);
        }),
      ]);
    } catch (e) {
      if (e instanceof AnalysisError) throw e;
      library = undefined;
      throw new AnalysisError('unavailable', `JUCE's front-end library did not load: ${String(e)}`);
    } finally {
      clearTimeout(timer);
    }
    if (typeof answer !== 'object' || answer === null || typeof (answer as { ok?: unknown }).ok !== 'boolean') {
      throw new AnalysisError('bad-answer', `${SET_ANALYSIS} answered ${describeValue(answer)}`);
    }
    const { ok, error } = answer as { ok: boolean; error?: unknown };
    if (!ok) throw new AnalysisError('refused', typeof error === 'string' ? error : 'refused without a reason');
  }

  // One backend listener for the page's life: the library's removeEventListener
  // cannot take one back, so subscriptions come and go on this side.
  function listen(): void {
    const backend = win.__JUCE__?.backend;
    if (listening || backend === undefined || typeof backend.addEventListener !== 'function') return;
    backend.addEventListener(ANALYSIS_FRAME, (payload) => {
      const frame = parseAnalysisFrame(payload);
      if (frame === null) {
        stats.rejected++;
        return;
      }
      const at = now();
      stats.received++;
      stats.lastArrivedAtMs = at;
      for (const listener of [...listeners]) listener(frame, at);
    });
    listening = true;
  }

  return {
    setAnalysis,
    subscribe(listener) {
      listen();
      listeners.add(listener);
      return () => {
        listeners.delete(listener);
      };
    },
    stats: () => ({ ...stats }),
  };
}

let pageClient: AnalysisClient | undefined;

/** The page's analysis client, created on first use and kept for the page's life. */
export function pageAnalysisClient(): AnalysisClient {
  pageClient ??= createAnalysisClient();
  return pageClient;
}

/** Starts, changes (settings) or stops (null) the plug-in's analysis; see AnalysisClient.setAnalysis. */
export const setAnalysis = (settings: AnalysisSettings | null): Promise<void> => pageAnalysisClient().setAnalysis(settings);
/** Hears the page's analysis frames; see AnalysisClient.subscribe. */
export const subscribeAnalysis = (listener: AnalysisListener): (() => void) => pageAnalysisClient().subscribe(listener);
