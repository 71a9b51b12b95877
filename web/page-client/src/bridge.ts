// The page's one connection to the plug-in's transport.
//
// The plug-in delivers the same reading three ways: it assigns
// `window.__transportData` every 250 ms, emits "transportUpdate" on
// `window.__JUCE__.backend` with it (only while the view is visible), and
// answers the native function "getTransport". This module merges all three
// into one stream of readings, keeps the newest, and reports which paths are
// delivering and how often. Listeners hear of each reading once, however many
// paths bring it.
//
// Beside it, the extended reading (playhead.ts) arrives as the
// "playheadUpdate" event and from the native function "getPlayhead"; the
// newest is kept with its arrival time, and the arrivals give the offset
// between the page's clock and the plug-in's (clockOffset.ts).

import { createClockOffsetEstimator } from './clockOffset.js';
import { parsePlayhead, type Playhead } from './playhead.js';

/** One reading of the host's transport, with the keys the plug-in sends. */
export interface Transport {
  connected: boolean;
  playing: boolean;
  recording: boolean;
  /** Quarter notes per minute; 0 while no host transport is connected. */
  bpm: number;
  timeSigNum: number;
  timeSigDen: number;
  positionSecs: number;
  /** "m:ss.mmm" as the plug-in renders it. */
  positionFormatted: string;
  /** Audio blocks processed; a 32-bit counter that wraps. */
  debugBlockCount: number;
  /** Which path carried the reading ("EvalJS", "Event", "JSONP"); absent from getTransport. */
  debugInfo?: string;
}

export type DeliveryPath = 'event' | 'assignment' | 'nativeFunction';

export const DELIVERY_PATHS: readonly DeliveryPath[] = ['event', 'assignment', 'nativeFunction'];

/** How the one-off getTransport call went. */
export type NativeCallState = 'unavailable' | 'pending' | 'answered' | 'failed';

export interface PathStatus {
  /** Delivered a valid reading within the last LIVE_WINDOW_MS (the native function: answered once). */
  live: boolean;
  /** Valid readings that arrived on this path. */
  received: number;
  /** Arrivals on this path that were not a transport reading. */
  rejected: number;
  /** Arrivals per second over the last RATE_WINDOW_MS while live; null until measurable. */
  rateHz: number | null;
}

export interface BridgeState {
  /** The newest valid reading, or null before the first one. */
  transport: Transport | null;
  /** The path that delivered `transport`. */
  source: DeliveryPath | null;
  /** Whether `window.__JUCE__` was there when the page started (false on the dev server). */
  nativeBridge: boolean;
  nativeCall: NativeCallState;
  paths: Record<DeliveryPath, PathStatus>;
  /** How often fresh readings reach the page: the fastest live path's rate. */
  updateRateHz: number | null;
  /** A valid reading arrived on some path within the last LIVE_WINDOW_MS. */
  fresh: boolean;
  /** The newest extended reading, or null before the first one. */
  playhead: Playhead | null;
  /** When `playhead` arrived, on the bridge's clock (the page clock, performance.now(), unless `now` was given). */
  playheadArrivedAt: number | null;
  /** The bridge's clock minus the plug-in's (add it to captureTimeMs); null before the first extended reading. */
  clockOffsetMs: number | null;
  /** How the one-off getPlayhead call went ('unavailable' also when the plug-in does not offer it). */
  playheadCall: NativeCallState;
  /** Extended deliveries that were not a reading. */
  playheadRejected: number;
}

export type BridgeListener = (state: BridgeState) => void;

export interface TransportBridge {
  state(): BridgeState;
  /**
   * Calls `listener` now, once per new reading (a tick's transport and
   * playhead together, however many paths bring them), and when a path goes
   * live or quiet, a native call settles or a malformed delivery is counted.
   * Returns a function that stops the calls.
   */
  subscribe(listener: BridgeListener): () => void;
  /** Stops timers and notifications and leaves `window.__transportData` a plain property. */
  dispose(): void;
}

/** The part of JUCE's front-end library the bridge uses. */
export interface FrontendLibrary {
  getNativeFunction(name: string): (...args: unknown[]) => Promise<unknown>;
}

interface JuceBackend {
  addEventListener(eventId: string, fn: (payload: unknown) => void): unknown;
}

/** The window as the bridge sees it; a plain object stands in for it in tests. */
export interface BridgeWindow {
  __JUCE__?: { backend?: JuceBackend; initialisationData?: { __juce__functions?: unknown } };
  __transportData?: unknown;
}

export interface BridgeOptions {
  win?: BridgeWindow;
  /** The page clock, in milliseconds; default performance.now(). Arrival times are on it. */
  now?: () => number;
  /** Loads JUCE's front-end library; only called when `window.__JUCE__` exists. */
  loadFrontend?: () => Promise<FrontendLibrary>;
  /** How long getTransport and getPlayhead may take before they count as failed. */
  nativeTimeoutMs?: number;
}

/** A path that has been silent this long is no longer live (six missed 250 ms ticks). */
export const LIVE_WINDOW_MS = 1500;
/** Rates are measured over the arrivals of this last stretch. */
export const RATE_WINDOW_MS = 3000;
/**
 * A kept reading younger than this is only replaced by one whose block count
 * is not behind it; an older one is replaced by whatever arrives (the counter
 * may have restarted with a new processor, or the host stopped processing).
 */
export const STALE_AFTER_MS = 1000;
/**
 * While playhead events are arriving, a new transport reading waits this long
 * for the playhead sent in the same tick, so that listeners hear of the two
 * together. The plug-in sends them back to back; the wait only runs out when
 * the playhead does not come (the view was just hidden).
 */
export const PLAYHEAD_PAIRING_MS = 100;

const TRANSPORT_EVENT = 'transportUpdate';
const PLAYHEAD_EVENT = 'playheadUpdate';
const PLAYHEAD_FUNCTION = 'getPlayhead';
const ASSIGNED_PROPERTY = '__transportData';
const STATUS_REFRESH_MS = 500;
const DEFAULT_NATIVE_TIMEOUT_MS = 3000;

const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;

function isInt(value: unknown, min: number, max: number): value is number {
  return typeof value === 'number' && Number.isInteger(value) && value >= min && value <= max;
}

function isFiniteNumber(value: unknown): value is number {
  return typeof value === 'number' && Number.isFinite(value);
}

/**
 * The reading inside `value`, or null when `value` is not one. Keys beyond the
 * known ones are dropped; a time signature of 0 is kept (hosts do report odd
 * ones) and left for the display to treat as unknown.
 */
export function parseTransport(value: unknown): Transport | null {
  if (typeof value !== 'object' || value === null || Array.isArray(value)) return null;
  const v = value as Record<string, unknown>;

  if (
    typeof v.connected !== 'boolean' ||
    typeof v.playing !== 'boolean' ||
    typeof v.recording !== 'boolean' ||
    !isFiniteNumber(v.bpm) ||
    !isInt(v.timeSigNum, INT32_MIN, INT32_MAX) ||
    !isInt(v.timeSigDen, INT32_MIN, INT32_MAX) ||
    !isFiniteNumber(v.positionSecs) ||
    typeof v.positionFormatted !== 'string' ||
    !isInt(v.debugBlockCount, INT32_MIN, INT32_MAX) ||
    (v.debugInfo !== undefined && typeof v.debugInfo !== 'string')
  ) {
    return null;
  }

  const reading: Transport = {
    connected: v.connected,
    playing: v.playing,
    recording: v.recording,
    bpm: v.bpm,
    timeSigNum: v.timeSigNum,
    timeSigDen: v.timeSigDen,
    positionSecs: v.positionSecs,
    positionFormatted: v.positionFormatted,
    debugBlockCount: v.debugBlockCount,
  };
  if (typeof v.debugInfo === 'string') reading.debugInfo = v.debugInfo;
  return reading;
}

/**
 * What tells one transport reading from another. The assigned script rounds
 * tempo and seconds, the event does not, so those are compared as the
 * formatted position and a tenth of a bpm.
 */
function transportIdentity(t: Transport): string {
  return [t.debugBlockCount, t.connected, t.playing, t.recording, t.timeSigNum, t.timeSigDen, t.positionFormatted, Math.round(t.bpm * 10)].join('|');
}

/**
 * How far `later` is ahead of `earlier` on the wrapping 32-bit block counter:
 * positive when ahead, negative when behind, taking the shorter way round.
 */
export function blockCountAhead(later: number, earlier: number): number {
  return (later - earlier) | 0;
}

interface PathRecord {
  arrivals: number[];
  received: number;
  rejected: number;
}

export function createTransportBridge(options: BridgeOptions = {}): TransportBridge {
  const win: BridgeWindow = options.win ?? (window as unknown as BridgeWindow);
  const now = options.now ?? (() => performance.now());
  const loadFrontend =
    options.loadFrontend ?? (() => import('juce-framework-frontend') as Promise<FrontendLibrary>);
  const nativeTimeoutMs = options.nativeTimeoutMs ?? DEFAULT_NATIVE_TIMEOUT_MS;

  const records: Record<DeliveryPath, PathRecord> = {
    event: { arrivals: [], received: 0, rejected: 0 },
    assignment: { arrivals: [], received: 0, rejected: 0 },
    nativeFunction: { arrivals: [], received: 0, rejected: 0 },
  };
  const listeners = new Set<BridgeListener>();
  const nativeBridge = typeof win.__JUCE__ === 'object' && win.__JUCE__ !== null;

  let current: Transport | null = null;
  let currentAt = 0;
  let source: DeliveryPath | null = null;
  let nativeCall: NativeCallState = nativeBridge ? 'pending' : 'unavailable';

  // Plug-ins from before the extended reading do not offer getPlayhead; asking
  // anyway would only make JUCE's library warn and the call time out.
  const offersPlayhead = nativeBridge && announcedFunctions(win).includes(PLAYHEAD_FUNCTION);
  let playhead: Playhead | null = null;
  let playheadAt: number | null = null;
  let playheadCall: NativeCallState = offersPlayhead ? 'pending' : 'unavailable';
  let playheadRejected = 0;
  const clockOffset = createClockOffsetEstimator();
  let playheadEventAt: number | null = null;
  let pairing: ReturnType<typeof setTimeout> | undefined;
  let disposed = false;
  let lastLiveness = '';

  function pathStatus(path: DeliveryPath, at: number): PathStatus {
    const record = records[path];
    const recent = record.arrivals.filter((t) => at - t <= RATE_WINDOW_MS);
    const last = recent[recent.length - 1];
    const live =
      path === 'nativeFunction'
        ? nativeCall === 'answered'
        : last !== undefined && at - last <= LIVE_WINDOW_MS;
    const first = recent[0];
    const span = last !== undefined && first !== undefined ? last - first : 0;
    const rateHz =
      path !== 'nativeFunction' && live && recent.length >= 2 && span > 0
        ? ((recent.length - 1) * 1000) / span
        : null;
    return { live, received: record.received, rejected: record.rejected, rateHz };
  }

  function state(): BridgeState {
    const at = now();
    const paths = {
      event: pathStatus('event', at),
      assignment: pathStatus('assignment', at),
      nativeFunction: pathStatus('nativeFunction', at),
    };
    const rates = DELIVERY_PATHS.map((p) => paths[p].rateHz).filter((r): r is number => r !== null);
    const lastArrival = Math.max(...DELIVERY_PATHS.map((p) => records[p].arrivals.at(-1) ?? -Infinity));
    return {
      transport: current,
      source,
      nativeBridge,
      nativeCall,
      paths,
      updateRateHz: rates.length > 0 ? Math.max(...rates) : null,
      fresh: at - lastArrival <= LIVE_WINDOW_MS,
      playhead,
      playheadArrivedAt: playheadAt,
      clockOffsetMs: clockOffset.offsetMs(),
      playheadCall,
      playheadRejected,
    };
  }

  function notify(): void {
    clearTimeout(pairing);
    pairing = undefined;
    if (disposed || listeners.size === 0) return;
    const snapshot = state();
    lastLiveness = livenessKey(snapshot);
    for (const listener of listeners) listener(snapshot);
  }

  function supersedes(incoming: Transport, at: number): boolean {
    if (current === null || at - currentAt > STALE_AFTER_MS) return true;
    return blockCountAhead(incoming.debugBlockCount, current.debugBlockCount) >= 0;
  }

  /** Takes a playhead delivery; true when listeners were told. */
  function arrivePlayhead(raw: unknown, byEvent: boolean): boolean {
    if (disposed) return false;
    const at = now();
    const reading = parsePlayhead(raw);
    if (reading === null) {
      playheadRejected++;
      notify();
      return true;
    }
    // Even a reading that loses to a newer one says how late deliveries are.
    clockOffset.add(at, reading.sentTimeMs);
    if (byEvent) playheadEventAt = at;
    const newer =
      playhead === null ||
      playheadAt === null ||
      at - playheadAt > STALE_AFTER_MS ||
      blockCountAhead(reading.blockCount, playhead.blockCount) >= 0;
    const unseen = playhead === null || reading.blockCount !== playhead.blockCount || reading.sentTimeMs !== playhead.sentTimeMs;
    if (newer) {
      playhead = reading;
      playheadAt = at;
    }
    // A transport reading waiting for this one is told now either way.
    if ((newer && unseen) || pairing !== undefined) {
      notify();
      return true;
    }
    return false;
  }

  /** Takes a transport delivery; true when listeners were told (or will be, with the tick's playhead). */
  function arrive(path: DeliveryPath, raw: unknown): boolean {
    if (disposed) return false;
    const at = now();
    const record = records[path];
    const reading = parseTransport(raw);

    if (reading === null) {
      record.rejected++;
      notify();
      return true;
    }
    record.received++;
    record.arrivals.push(at);
    while (record.arrivals.length > 0 && at - (record.arrivals[0] ?? at) > RATE_WINDOW_MS) record.arrivals.shift();

    if (!supersedes(reading, at)) return false;
    const unseen = current === null || transportIdentity(reading) !== transportIdentity(current);
    current = reading;
    currentAt = at;
    source = path;
    if (!unseen) return false;

    // Pushed readings come with a playhead right behind them while its events flow.
    const playheadDue = path !== 'nativeFunction' && playheadEventAt !== null && at - playheadEventAt <= LIVE_WINDOW_MS;
    if (!playheadDue) notify();
    else pairing ??= setTimeout(notify, PLAYHEAD_PAIRING_MS);
    return true;
  }

  // Assignments: a setter on the window sees each one while the value stays
  // readable as before. A setter another script installed first keeps working.
  const restoreAssignments = interceptAssignments(win, (value) => arrive('assignment', value));

  // Events: registered once for the page's life, since the library's
  // removeEventListener cannot take a listener back.
  let eventsRegistered = false;
  function registerEvents(): void {
    const backend = win.__JUCE__?.backend;
    if (eventsRegistered || backend === undefined || typeof backend.addEventListener !== 'function') return;
    backend.addEventListener(TRANSPORT_EVENT, (payload) => arrive('event', payload));
    backend.addEventListener(PLAYHEAD_EVENT, (payload) => arrivePlayhead(payload, true));
    eventsRegistered = true;
  }

  if (nativeBridge) {
    registerEvents();
    void callNativeFunctions();
  }

  async function callNativeFunctions(): Promise<void> {
    let library: FrontendLibrary;
    try {
      library = await loadFrontend();
    } catch {
      nativeCall = 'failed';
      if (offersPlayhead) playheadCall = 'failed';
      notify();
      return;
    }
    registerEvents();
    await Promise.all([
      // The call's outcome is news even when the answer repeats a pushed reading.
      callNative(library, 'getTransport', (answer) => {
        nativeCall = parseTransport(answer) === null ? 'failed' : 'answered';
        if (!arrive('nativeFunction', answer)) notify();
      }, () => {
        nativeCall = 'failed';
      }),
      offersPlayhead
        ? callNative(library, PLAYHEAD_FUNCTION, (answer) => {
            playheadCall = parsePlayhead(answer) === null ? 'failed' : 'answered';
            if (!arrivePlayhead(answer, false)) notify();
          }, () => {
            playheadCall = 'failed';
          })
        : Promise.resolve(),
    ]);
  }

  async function callNative(
    library: FrontendLibrary,
    name: string,
    onAnswer: (answer: unknown) => void,
    onFailure: () => void,
  ): Promise<void> {
    let timer: ReturnType<typeof setTimeout> | undefined;
    try {
      const answer = await Promise.race([
        library.getNativeFunction(name)(),
        new Promise<never>((_, reject) => {
          timer = setTimeout(() => reject(new Error(`${name} did not answer`)), nativeTimeoutMs);
        }),
      ]);
      if (!disposed) onAnswer(answer);
    } catch {
      onFailure();
      notify();
    } finally {
      clearTimeout(timer);
    }
  }

  // Paths fall silent without any arrival to say so (events stop while the
  // view is hidden), so liveness is looked at again on a timer.
  const refresh = setInterval(() => {
    if (listeners.size > 0 && livenessKey(state()) !== lastLiveness) notify();
  }, STATUS_REFRESH_MS);

  return {
    state,
    subscribe(listener) {
      listeners.add(listener);
      if (!disposed) {
        const snapshot = state();
        // The first listener starts from what it was shown; later ones must not hide a change from earlier ones.
        if (listeners.size === 1) lastLiveness = livenessKey(snapshot);
        listener(snapshot);
      }
      return () => {
        listeners.delete(listener);
      };
    },
    dispose() {
      disposed = true;
      listeners.clear();
      clearInterval(refresh);
      clearTimeout(pairing);
      restoreAssignments();
    },
  };
}

function announcedFunctions(win: BridgeWindow): unknown[] {
  const names = win.__JUCE__?.initialisationData?.__juce__functions;
  return Array.isArray(names) ? names : [];
}

function livenessKey(s: BridgeState): string {
  return DELIVERY_PATHS.map((p) => (s.paths[p].live ? '1' : '0')).join('') + s.nativeCall + String(s.fresh);
}

/**
 * Puts a setter on `win.__transportData` that passes each assigned value to
 * `onAssign`, hands over a value already there, and returns a function that
 * turns the property back into a plain one. Where the property cannot be
 * redefined, it is read on a timer instead.
 */
function interceptAssignments(win: BridgeWindow, onAssign: (value: unknown) => void): () => void {
  const previous = Object.getOwnPropertyDescriptor(win, ASSIGNED_PROPERTY);

  if (previous !== undefined && previous.configurable === false) {
    let seen = win.__transportData;
    if (seen !== undefined) onAssign(seen);
    const poll = setInterval(() => {
      const value = win.__transportData;
      if (value !== seen) {
        seen = value;
        onAssign(value);
      }
    }, 100);
    return () => clearInterval(poll);
  }

  const previousGet = previous?.get;
  const previousSet = previous?.set;
  let stored: unknown = previous !== undefined && 'value' in previous ? previous.value : undefined;
  let active = true;

  const read = (): unknown => (previousGet ? previousGet.call(win) : stored);

  Object.defineProperty(win, ASSIGNED_PROPERTY, {
    configurable: true,
    enumerable: true,
    get: read,
    set(value: unknown) {
      if (previousSet) previousSet.call(win, value);
      else stored = value;
      if (active) onAssign(value);
    },
  });

  const existing = read();
  if (existing !== undefined) onAssign(existing);

  return () => {
    active = false;
    if (previous !== undefined && (previousGet || previousSet)) {
      Object.defineProperty(win, ASSIGNED_PROPERTY, previous);
    } else {
      Object.defineProperty(win, ASSIGNED_PROPERTY, {
        configurable: true,
        enumerable: true,
        writable: true,
        value: read(),
      });
    }
  };
}

let pageBridge: TransportBridge | undefined;

/** The page's bridge, created on first use and kept for the page's life. */
export function pageTransportBridge(): TransportBridge {
  pageBridge ??= createTransportBridge();
  return pageBridge;
}

/** Subscribes to the page's bridge; see TransportBridge.subscribe. */
export function subscribeTransport(listener: BridgeListener): () => void {
  return pageTransportBridge().subscribe(listener);
}
