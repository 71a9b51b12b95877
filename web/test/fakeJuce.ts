// A stand-in for the plug-in's side of the bridge, installed on `window`
// before the page's scripts run. It injects what JUCE's native side injects
// (`window.__JUCE__` with postMessage, initialisation data and a backend that
// dispatches `emitByBackend` events), answers the native function
// "getTransport" the way JUCE completes native calls, and pushes readings
// the way the editor's timer does: an assignment to `window.__transportData`
// and a "transportUpdate" event while the view is visible.
//
// installFakeJuce must stay self-contained (no imports, no outside names):
// the browser test hands its source text to the page as an init script.

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

export interface FakeJuceOptions {
  /** The reading the host starts with. */
  transport?: FakeTransport;
  /** Native functions the backend knows; "getTransport" by default. */
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
}

export interface FakeHost {
  transport: FakeTransport;
  visible: boolean;
  /** Names of native functions the page invoked. */
  invoked: string[];
  /** Listener counts per event id on the backend. */
  listenerCount(eventId: string): number;
  /** One timer tick of the editor: assignment, then event if visible. */
  tick(): void;
  /** Raw deliveries on one path, for malformed payloads. */
  emitEvent(payload: unknown): void;
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

export function installFakeJuce(options: FakeJuceOptions = {}): void {
  type Listener = (payload: unknown) => void;
  const w = window as unknown as Record<string, unknown>;
  const listeners = new Map<string, Map<number, Listener>>();
  let nextListenerId = 0;
  const functions = options.functions ?? ['getTransport'];

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
    listenerCount: (eventId) => listeners.get(eventId)?.size ?? 0,
    tick() {
      host.assign({ ...ordered(host.transport), debugInfo: 'EvalJS' });
      if (host.visible) host.emitEvent({ ...ordered(host.transport), debugInfo: 'Event' });
    },
    emitEvent(payload) {
      backend.emitByBackend('transportUpdate', JSON.stringify(payload));
    },
    assign(value) {
      w.__transportData = value;
    },
    stop() {
      if (timer !== undefined) clearInterval(timer);
    },
  };

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
      const result = 'answer' in options ? options.answer : ordered(host.transport);
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
  if (options.assignBeforePage) host.assign({ ...ordered(host.transport), debugInfo: 'EvalJS' });
}

/** Takes the fake and everything the page hung on `window` away again. */
export function removeFakeJuce(): void {
  const w = window as unknown as Record<string, unknown>;
  window.__fakeHost?.stop();
  for (const key of ['__JUCE__', '__fakeHost', '__juceConnected', '__transportData']) delete w[key];
}
