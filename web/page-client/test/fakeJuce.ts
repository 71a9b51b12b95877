// A stand-in for the plug-in's side of the bridge, installed on `window`
// before the page's scripts run. It injects what JUCE's native side injects
// (`window.__JUCE__` with postMessage, initialisation data and a backend that
// dispatches `emitByBackend` events), answers the native function
// "getTransport" the way JUCE completes native calls, and pushes readings
// the way the editor's timer does: an assignment to `window.__transportData`
// and a "transportUpdate" event while the view is visible. Given a playhead
// reading or a scripted host timeline (hostTimeline.ts), it also offers
// "getPlayhead" and emits "playheadUpdate" after each "transportUpdate".
// Given a page state, it keeps one as the plug-in does: "getPageState" and
// "setPageState" with the plug-in's rules, "pageStateLoaded" when the host
// loads one, and a count of the changes the host was told of.
// Given `analysis`, it offers "setAnalysis" with the plug-in's rules and keeps
// the settings in force; frames are the test's to emit (emitAnalysis).
//
// installFakeJuce must stay self-contained (no outside names at run time but
// its second argument, the timeline maker): the browser test hands its source
// text to the page as an init script (fakeJuceInitScript).

import { hostTimeline, type HostMoment, type HostTimeline, type ReadingOptions, type TimelineScript } from './hostTimeline';

export interface FakeTransport {
  connected: boolean;
  playing: boolean;
  recording: boolean;
  bpm: number;
  timeSigNum: number;
  timeSigDen: number;
  positionSecs: number;
  positionFormatted: string;
  debugBlockCount: number;
}

/** What the plug-in sends before any host transport has reached it. */
export const DISCONNECTED_TRANSPORT: FakeTransport = {
  connected: false,
  playing: false,
  recording: false,
  bpm: 0,
  timeSigNum: 4,
  timeSigDen: 4,
  positionSecs: 0,
  positionFormatted: '0:00.000',
  debugBlockCount: 0,
};

/** A host playing at 128 bpm in 7/8, 65.25 s in: the reading the tests mostly look at. */
export const PLAYING_128_IN_7_8: FakeTransport = {
  connected: true,
  playing: true,
  recording: false,
  bpm: 128,
  timeSigNum: 7,
  timeSigDen: 8,
  positionSecs: 65.25,
  positionFormatted: '1:05.250',
  debugBlockCount: 1000,
};

/** A host session the fake plays out in real time, with readings sent on the editor's timer. */
export interface FakeTimeline extends Partial<ReadingOptions> {
  script: TimelineScript;
  /** The editor's timer period. */
  tickMs?: number;
  /**
   * Each reading is made up to this late after its timer's due time, and
   * reaches the page up to this late again (uniformly, from a fixed seed).
   */
  jitterMs?: number;
  seed?: number;
}

/** The bug report's moment as the plug-in sends it: bar 9 of a 4/4 loop over bars 9 and 10, at 96 bpm. */
export const PLAYHEAD_IN_LOOP: Record<string, unknown> = {
  connected: true,
  blockCount: 1000,
  playing: true,
  recording: false,
  looping: true,
  bpm: 96,
  timeSigNum: 4,
  timeSigDen: 4,
  positionSecs: 17.353,
  positionSamples: 832944,
  ppqPosition: 35.7635,
  ppqLastBarStart: 24,
  barCount: null,
  ppqLoopStart: 32,
  ppqLoopEnd: 40,
  sampleRate: 48000,
  hostTimeMs: 5000,
  captureTimeMs: 86_405_000,
  sentTimeMs: 86_405_004,
};

export interface FakeJuceOptions {
  /** The reading the host starts with. */
  transport?: FakeTransport;
  /** An extended reading sent after each transport tick, and getPlayhead's answer. */
  playhead?: Record<string, unknown>;
  /** Replace getPlayhead's answer. */
  playheadAnswer?: unknown;
  /** Play a scripted session: both readings come from it, on a timer of their own. */
  timeline?: FakeTimeline;
  /** Native functions the backend knows; "getTransport", and "getPlayhead" with a playhead or timeline. */
  functions?: string[];
  /** Replace getTransport's answer (a malformed one, say). */
  answer?: unknown;
  /** getTransport never completes. */
  neverAnswer?: boolean;
  /** Push a reading every this many ms from install on, advancing block count and position. */
  tickMs?: number;
  /** Blocks processed per tick when ticking on a timer. */
  blocksPerTick?: number;
  /** Assign one reading before the page's scripts run, as a pushed one may land early. */
  assignBeforePage?: boolean;
  /** The page state the plug-in holds; offers "getPageState" and "setPageState". */
  pageState?: string;
  /** Offer "setAnalysis". */
  analysis?: boolean;
}

/** One extended reading the page was sent, in page time. */
export interface FakeDelivery {
  capturedAt: number;
  sentAt: number;
  deliveredAt: number;
  blockCount: number;
}

export interface FakeHost {
  transport: FakeTransport;
  playhead: Record<string, unknown> | null;
  visible: boolean;
  /** The page time (performance.now()) the timeline started at. */
  startedAt: number;
  /** With a timeline: the host's true state at page time `pageMs`. */
  truthAt(pageMs: number): HostMoment | null;
  /** With a timeline: every extended reading delivered so far. */
  deliveries: FakeDelivery[];
  /** Names of native functions the page invoked. */
  invoked: string[];
  /** The page state the plug-in holds (with the pageState option). */
  pageState: string;
  /** Times the plug-in told the host its state changed: once per accepted set. */
  stateChanges: number;
  /** The host loads a state: the text changes and the page gets "pageStateLoaded". */
  loadPageState(text: string): void;
  /** The analysis settings in force (every key, defaults filled in); null while stopped. */
  analysis: Record<string, unknown> | null;
  /** The arguments of every setAnalysis call, refused ones too. */
  analysisCalls: unknown[][];
  /** One "analysisFrame" event, sent only while the view is visible, as the plug-in does. */
  emitAnalysis(payload: unknown): void;
  /** Listener counts per event id on the backend. */
  listenerCount(eventId: string): number;
  /** One timer tick of the editor: assignment, then event if visible. */
  tick(): void;
  /** Raw deliveries on one path, for malformed payloads. */
  emitEvent(payload: unknown): void;
  emitPlayhead(payload: unknown): void;
  assign(value: unknown): void;
  stop(): void;
}

declare global {
  interface Window {
    __fakeHost?: FakeHost;
    __juceConnected?: boolean;
    __transportData?: unknown;
  }
}

export function installFakeJuce(options: FakeJuceOptions = {}, makeTimeline: typeof hostTimeline = hostTimeline): void {
  type Listener = (payload: unknown) => void;
  const w = window as unknown as Record<string, unknown>;
  const listeners = new Map<string, Map<number, Listener>>();
  let nextListenerId = 0;
  const extended = options.playhead !== undefined || options.timeline !== undefined;
  const stateFunctions = options.pageState === undefined ? [] : ['getPageState', 'setPageState'];
  const analysisFunctions = options.analysis === true ? ['setAnalysis'] : [];
  const functions =
    options.functions ?? [...(extended ? ['getTransport', 'getPlayhead'] : ['getTransport']), ...stateFunctions, ...analysisFunctions];
  const startedAt = performance.now();
  const script = options.timeline?.script;
  const timeline: HostTimeline | null = script === undefined ? null : makeTimeline(script);
  const readingOptions: ReadingOptions = {
    sampleRate: options.timeline?.sampleRate ?? 48000,
    blockSize: options.timeline?.blockSize ?? 512,
    // Some origin far from the page's, as the plug-in's clock has.
    pluginClockAtStartMs: options.timeline?.pluginClockAtStartMs ?? 86_400_000.25,
    barStart: options.timeline?.barStart ?? 'right',
  };

  const dispatch = (eventId: string, payload: unknown): void => {
    const forEvent = listeners.get(eventId);
    if (forEvent) for (const fn of [...forEvent.values()]) fn(payload);
  };

  // The same order of keys as the plug-in's messages.
  const ordered = (t: FakeTransport): FakeTransport => ({
    connected: t.connected,
    playing: t.playing,
    recording: t.recording,
    bpm: t.bpm,
    timeSigNum: t.timeSigNum,
    timeSigDen: t.timeSigDen,
    positionSecs: t.positionSecs,
    positionFormatted: t.positionFormatted,
    debugBlockCount: t.debugBlockCount,
  });

  const backend = {
    addEventListener(eventId: string, fn: Listener): [string, number] {
      if (!listeners.has(eventId)) listeners.set(eventId, new Map());
      const id = nextListenerId++;
      listeners.get(eventId)?.set(id, fn);
      return [eventId, id];
    },
    removeEventListener([eventId, id]: [string, number]): void {
      listeners.get(eventId)?.delete(id);
    },
    emitEvent(eventId: string, payload: unknown): void {
      (w.__JUCE__ as { postMessage(m: string): void }).postMessage(JSON.stringify({ eventId, payload }));
    },
    // Native code hands events over as JSON text.
    emitByBackend(eventId: string, json: string): void {
      dispatch(eventId, JSON.parse(json));
    },
  };

  const host: FakeHost = {
    playhead: options.playhead ?? null,
    startedAt,
    deliveries: [],
    truthAt: (pageMs) => (timeline === null ? null : timeline.at(pageMs - startedAt)),
    transport: options.transport ?? {
      connected: false,
      playing: false,
      recording: false,
      bpm: 0,
      timeSigNum: 4,
      timeSigDen: 4,
      positionSecs: 0,
      positionFormatted: '0:00.000',
      debugBlockCount: 0,
    },
    visible: true,
    invoked: [],
    pageState: options.pageState ?? '',
    stateChanges: 0,
    loadPageState(text) {
      host.pageState = text;
      if (host.visible) backend.emitByBackend('pageStateLoaded', JSON.stringify(text));
    },
    analysis: null,
    analysisCalls: [],
    emitAnalysis(payload) {
      if (host.visible) backend.emitByBackend('analysisFrame', JSON.stringify(payload));
    },
    listenerCount: (eventId) => listeners.get(eventId)?.size ?? 0,
    tick() {
      host.assign({ ...ordered(host.transport), debugInfo: 'EvalJS' });
      if (host.visible) host.emitEvent({ ...ordered(host.transport), debugInfo: 'Event' });
      if (host.visible && host.playhead !== null) host.emitPlayhead(host.playhead);
    },
    emitEvent(payload) {
      backend.emitByBackend('transportUpdate', JSON.stringify(payload));
    },
    emitPlayhead(payload) {
      backend.emitByBackend('playheadUpdate', JSON.stringify(payload));
    },
    assign(value) {
      w.__transportData = value;
    },
    stop() {
      if (timer !== undefined) clearInterval(timer);
      if (timelineTimer !== undefined) clearTimeout(timelineTimer);
      stopped = true;
    },
  };

  let stopped = false;
  let timelineTimer: ReturnType<typeof setTimeout> | undefined;
  // A small fixed-seed generator (mulberry32), so a run's jitter repeats.
  let seed = (options.timeline?.seed ?? 1) >>> 0;
  const random = (): number => {
    seed = (seed + 0x6d2b79f5) >>> 0;
    let t = seed;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  // The plug-in's rules for setAnalysis, in its words: the refusal names the key and the rule, and changes nothing.
  const analysisDefaults: Record<string, unknown> = {
    levels: true,
    spectrum: true,
    waveform: true,
    framesPerSecond: 30,
    fftSize: 2048,
    bandsPerOctave: 6,
    spectrumChannels: 'sum',
    waveformSlices: 256,
  };
  const kindOf = (v: unknown): string =>
    v === null || v === undefined ? 'nothing' : Array.isArray(v) ? 'an array' : typeof v === 'object' ? 'an object' : `a ${typeof v}`;
  const whole = (v: unknown, low: number, high: number): boolean => Number.isInteger(v) && (v as number) >= low && (v as number) <= high;
  const analysisRules: Record<string, [string, (v: unknown) => boolean]> = {
    levels: ['must be true or false', (v) => typeof v === 'boolean'],
    spectrum: ['must be true or false', (v) => typeof v === 'boolean'],
    waveform: ['must be true or false', (v) => typeof v === 'boolean'],
    framesPerSecond: ['must be a whole number from 15 to 60', (v) => whole(v, 15, 60)],
    fftSize: ['must be one of 1024, 2048, 4096', (v) => v === 1024 || v === 2048 || v === 4096],
    bandsPerOctave: ['must be one of 1, 2, 3, 6, 12, 24', (v) => [1, 2, 3, 6, 12, 24].includes(v as number)],
    spectrumChannels: ['must be "sum" or "each"', (v) => v === 'sum' || v === 'each'],
    waveformSlices: ['must be a whole number from 1 to 1024', (v) => whole(v, 1, 1024)],
  };
  const setAnalysis = (params: unknown[]): { ok: boolean; error?: string } => {
    host.analysisCalls.push(params);
    if (params.length !== 1) {
      return { ok: false, error: `setAnalysis takes one argument, an object of settings or null to stop; it got ${params.length}` };
    }
    const settings = params[0];
    if (settings === null) {
      host.analysis = null;
      return { ok: true };
    }
    if (typeof settings !== 'object' || Array.isArray(settings)) {
      return { ok: false, error: `the settings must be an object, or null to stop (got ${kindOf(settings)})` };
    }
    const given = settings as Record<string, unknown>;
    for (const [key, value] of Object.entries(given)) {
      const rule = analysisRules[key];
      if (rule === undefined) return { ok: false, error: `unknown key "${key}"; the keys are ${Object.keys(analysisRules).join(', ')}` };
      if (!rule[1](value)) return { ok: false, error: `${key} ${rule[0]} (got ${kindOf(value)})` };
    }
    const next = { ...analysisDefaults, ...given };
    host.analysis = next.levels || next.spectrum || next.waveform ? next : null;
    return { ok: true };
  };

  const readingsNow = () => (timeline === null ? null : timeline.readings(performance.now() - startedAt, readingOptions));

  w.__juceConnected = true;
  w.__JUCE__ = {
    postMessage(message: string) {
      const { eventId, payload } = JSON.parse(message) as {
        eventId: string;
        payload: { name: string; params: unknown[]; resultId: number };
      };
      if (eventId !== '__juce__invoke') return;
      host.invoked.push(payload.name);
      if (!functions.includes(payload.name) || options.neverAnswer) return;
      let result: unknown;
      if (payload.name === 'setPageState') {
        const text = payload.params[0];
        // The framework's JSON reader fails on a lone surrogate or NUL and drops the call unanswered.
        if (typeof text === 'string' && /\0|[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/.test(text)) return;
        const kind = text === null || text === undefined ? 'nothing' : Array.isArray(text) ? 'an array' : typeof text === 'object' ? 'an object' : `a ${typeof text}`;
        const bytes = typeof text === 'string' ? new TextEncoder().encode(text).length : 0;
        if (typeof text !== 'string') result = { ok: false, error: `the page state must be a string, not ${kind}` };
        else if (bytes > 1048576) result = { ok: false, error: `the page state is ${bytes} bytes in UTF-8; the limit is 1048576` };
        else {
          host.pageState = text;
          host.stateChanges++;
          result = { ok: true };
        }
      } else if (payload.name === 'setAnalysis') {
        result = setAnalysis(payload.params);
      } else if (payload.name === 'getPageState') {
        result = host.pageState;
      } else if (payload.name === 'getPlayhead') {
        result = 'playheadAnswer' in options ? options.playheadAnswer : (readingsNow()?.playhead ?? host.playhead);
      } else {
        result = 'answer' in options ? options.answer : ordered(host.transport);
      }
      setTimeout(() => {
        backend.emitByBackend('__juce__complete', JSON.stringify({ promiseId: payload.resultId, result }));
      }, 0);
    },
    initialisationData: {
      __juce__platform: ['linux'],
      __juce__functions: functions,
      __juce__registeredGlobalEventIds: [],
      __juce__sliders: [],
      __juce__toggles: [],
      __juce__comboBoxes: [],
    },
    backend,
  };
  w.__fakeHost = host;

  let timer: ReturnType<typeof setInterval> | undefined;
  if (options.tickMs !== undefined) {
    const blocks = options.blocksPerTick ?? 24;
    timer = setInterval(() => {
      const t = host.transport;
      host.transport = { ...t, debugBlockCount: (t.debugBlockCount + blocks) | 0 };
      host.tick();
    }, options.tickMs);
  }
  if (timeline !== null) {
    const tickMs = options.timeline?.tickMs ?? 250;
    const jitterMs = options.timeline?.jitterMs ?? 0;
    const deliver = (made: NonNullable<ReturnType<typeof readingsNow>>, sentAt: number): void => {
      if (stopped) return;
      host.transport = made.transport as unknown as FakeTransport;
      host.playhead = made.playhead;
      host.deliveries.push({
        capturedAt: startedAt + made.captureMs,
        sentAt,
        deliveredAt: performance.now(),
        blockCount: made.playhead.blockCount as number,
      });
      host.tick();
    };
    const schedule = (k: number): void => {
      const due = startedAt + k * tickMs + random() * jitterMs;
      timelineTimer = setTimeout(() => {
        const sentAt = performance.now();
        const made = readingsNow();
        if (made === null) return;
        const late = random() * jitterMs;
        if (late > 0) setTimeout(() => deliver(made, sentAt), late);
        else deliver(made, sentAt);
        schedule(k + 1);
      }, Math.max(0, due - performance.now()));
    };
    schedule(1);
  }
  if (options.assignBeforePage) host.assign({ ...ordered(host.transport), debugInfo: 'EvalJS' });
}

/** The fake as an init script for a browser page, with the timeline maker it needs. */
export function fakeJuceInitScript(options: FakeJuceOptions): string {
  return `(${installFakeJuce.toString()})(${JSON.stringify(options)}, ${hostTimeline.toString()});`;
}

/** Takes the fake and everything the page hung on `window` away again. */
export function removeFakeJuce(): void {
  const w = window as unknown as Record<string, unknown>;
  window.__fakeHost?.stop();
  for (const key of ['__JUCE__', '__fakeHost', '__juceConnected', '__transportData']) delete w[key];
}
