import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import {
  createTransportBridge,
  LIVE_WINDOW_MS,
  parseTransport,
  type BridgeOptions,
  type BridgeState,
  type DeliveryPath,
  type TransportBridge,
} from '../../src/bridge';
import { parsePlayhead } from '../../src/playhead';
import { installFakeJuce, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8, removeFakeJuce, type FakeHost, type FakeTransport } from '../fakeJuce';

const PLAYING: FakeTransport = PLAYING_128_IN_7_8;

let bridge: TransportBridge | undefined;

/**
 * A bridge on the fake clock. Unless a test is about getTransport, JUCE's
 * library never finishes loading, so no call is left in flight when the
 * test's fake is taken away.
 */
function startBridge(options: BridgeOptions = {}, { withJuceLibrary = false } = {}): TransportBridge {
  const pendingForever = () => new Promise<never>(() => {});
  bridge = createTransportBridge({
    now: () => Date.now(),
    ...(withJuceLibrary ? {} : { loadFrontend: pendingForever }),
    ...options,
  });
  return bridge;
}

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

/** Host ticks every 250 ms, each 24 blocks on from the last. */
function runHost(ticks: number): void {
  for (let i = 0; i < ticks; i++) {
    const t = host().transport;
    host().transport = { ...t, debugBlockCount: t.debugBlockCount + 24 };
    host().tick();
    vi.advanceTimersByTime(250);
  }
}

async function nativeCallSettled(b: TransportBridge): Promise<BridgeState> {
  await vi.waitFor(() => expect(b.state().nativeCall).not.toBe('pending'));
  return b.state();
}

const consoleMethods = ['log', 'info', 'warn', 'error', 'debug'] as const;

function spyOnConsole() {
  return consoleMethods.map((m) => vi.spyOn(console, m).mockImplementation(() => {}));
}

beforeEach(() => {
  vi.useFakeTimers();
  // JUCE's library binds to window.__JUCE__ when it is first imported; each
  // test's fake gets a fresh copy of it.
  vi.resetModules();
});

afterEach(() => {
  bridge?.dispose();
  bridge = undefined;
  removeFakeJuce();
  vi.useRealTimers();
  vi.restoreAllMocks();
});

describe('parseTransport', () => {
  it('keeps exactly the known keys of a reading', () => {
    expect(parseTransport({ ...PLAYING, debugInfo: 'Event', extra: 1 })).toEqual({ ...PLAYING, debugInfo: 'Event' });
    expect(parseTransport(PLAYING)).toEqual(PLAYING);
  });

  it.each([
    ['the lowest block count', { debugBlockCount: -2147483648 }],
    ['the highest block count', { debugBlockCount: 2147483647 }],
    ['a zero time signature a host reported', { timeSigNum: 0, timeSigDen: 0 }],
    ['a negative position', { positionSecs: -1.5, positionFormatted: '0:-1.-500' }],
  ])('accepts %s', (_, change) => {
    expect(parseTransport({ ...PLAYING, ...change })).toEqual({ ...PLAYING, ...change });
  });

  const missingKey = Object.keys(PLAYING).map((key) => {
    const copy: Record<string, unknown> = { ...PLAYING };
    delete copy[key];
    return [`without ${key}`, copy] as [string, unknown];
  });

  it.each<[string, unknown]>([
    ['null', null],
    ['a string', 'window.__transportData'],
    ['an array', [PLAYING]],
    ['a number', 128],
    ...missingKey,
    ['connected as text', { ...PLAYING, connected: 'true' }],
    ['bpm as text', { ...PLAYING, bpm: '128.0' }],
    ['bpm not a number', { ...PLAYING, bpm: Number.NaN }],
    ['an infinite position', { ...PLAYING, positionSecs: Number.POSITIVE_INFINITY }],
    ['a fractional numerator', { ...PLAYING, timeSigNum: 3.5 }],
    ['a block count past int32', { ...PLAYING, debugBlockCount: 2 ** 31 }],
    ['a block count below int32', { ...PLAYING, debugBlockCount: -(2 ** 31) - 1 }],
    ['the position text as a number', { ...PLAYING, positionFormatted: 65.25 }],
    ['debugInfo not text', { ...PLAYING, debugInfo: 7 }],
  ])('rejects %s', (_, value) => {
    expect(parseTransport(value)).toBeNull();
  });
});

describe('merging the three delivery paths', () => {
  it('feeds getTransport, events and assignments into one reading and reports each path live at ~4 Hz', async () => {
    const consoleSpies = spyOnConsole();
    installFakeJuce({ transport: PLAYING });
    const b = startBridge({}, { withJuceLibrary: true });

    const answered = await nativeCallSettled(b);
    expect(host().invoked).toEqual(['getTransport']);
    expect(answered.nativeCall).toBe('answered');
    expect(answered.source).toBe('nativeFunction');
    expect(answered.transport).toEqual(PLAYING);

    runHost(8);
    const s = b.state();
    expect(s.transport).toEqual({ ...PLAYING, debugBlockCount: 1000 + 8 * 24, debugInfo: 'Event' });
    // Each tick assigns, then emits: the event is the later arrival of the same reading.
    expect(s.source).toBe('event');
    expect(s.paths.event).toMatchObject({ live: true, received: 8, rejected: 0 });
    expect(s.paths.assignment).toMatchObject({ live: true, received: 8, rejected: 0 });
    expect(s.paths.nativeFunction).toMatchObject({ live: true, received: 1 });
    expect(s.paths.event.rateHz).toBeCloseTo(4, 5);
    expect(s.paths.assignment.rateHz).toBeCloseTo(4, 5);
    expect(s.updateRateHz).toBeCloseTo(4, 5);

    // The page's setter leaves the assigned value readable.
    expect(window.__transportData).toEqual({ ...PLAYING, debugBlockCount: 1192, debugInfo: 'EvalJS' });
    for (const spy of consoleSpies) expect(spy).not.toHaveBeenCalled();
  });

  it('picks up a reading assigned before it started, and keeps a setter installed earlier working', () => {
    installFakeJuce({ transport: PLAYING });
    let latest: unknown;
    let assignments = 0;
    Object.defineProperty(window, '__transportData', {
      configurable: true,
      get: () => latest,
      set(value) {
        latest = value;
        assignments++;
      },
    });
    host().assign({ ...PLAYING, debugInfo: 'EvalJS' });

    const b = startBridge();
    expect(b.state().transport).toEqual({ ...PLAYING, debugInfo: 'EvalJS' });
    expect(b.state().source).toBe('assignment');

    runHost(2);
    expect(assignments).toBe(3);
    expect(window.__transportData).toBe(latest);
    expect(b.state().paths.assignment.received).toBe(3);
  });

  it('shows the event path going quiet while the view is hidden, with assignments still live', () => {
    installFakeJuce({ transport: PLAYING });
    const b = startBridge();
    const seen: BridgeState[] = [];
    b.subscribe((s) => seen.push(s));

    runHost(4);
    host().visible = false;
    runHost(Math.ceil(LIVE_WINDOW_MS / 250) + 2);

    const s = b.state();
    expect(s.paths.event.live).toBe(false);
    expect(s.paths.event.rateHz).toBeNull();
    expect(s.paths.assignment.live).toBe(true);
    expect(s.updateRateHz).toBeCloseTo(4, 5);
    expect(s.source).toBe('assignment');
    expect(seen.at(-1)?.paths.event.live).toBe(false);
  });

  it('goes stale when every path falls silent, and fresh with the next reading', () => {
    installFakeJuce({ transport: PLAYING });
    const b = startBridge();
    const seen: BridgeState[] = [];
    b.subscribe((s) => seen.push(s));

    runHost(2);
    expect(b.state().fresh).toBe(true);
    vi.advanceTimersByTime(LIVE_WINDOW_MS + 500);
    expect(b.state().fresh).toBe(false);
    expect(seen.at(-1)?.fresh).toBe(false);

    runHost(1);
    expect(seen.at(-1)?.fresh).toBe(true);
  });

  it('registers for transport events once however many listeners come and go', () => {
    installFakeJuce({ transport: PLAYING });
    const b = startBridge();
    const kept = vi.fn();
    const dropped = vi.fn();
    b.subscribe(kept);
    const unsubscribe = b.subscribe(dropped);
    b.subscribe(vi.fn());
    unsubscribe();
    kept.mockClear();
    dropped.mockClear();

    runHost(1);
    expect(host().listenerCount('transportUpdate')).toBe(1);
    expect(kept).toHaveBeenCalledTimes(1);
    expect(dropped).not.toHaveBeenCalled();
  });
});

describe('listeners hear of each reading once', () => {
  const EXTENDED = { ...PLAYHEAD_IN_LOOP, blockCount: 1000 };

  /** Ticks as the editor's timer makes them: the block count moves on (unless `still`), each playhead sent afresh. */
  function tick(times: number, { still = false } = {}): void {
    for (let i = 0; i < times; i++) {
      const t = host().transport;
      const blocks = still ? t.debugBlockCount : t.debugBlockCount + 24;
      host().transport = { ...t, debugBlockCount: blocks };
      if (host().playhead !== null) host().playhead = { ...EXTENDED, blockCount: blocks, sentTimeMs: Date.now() };
      host().tick();
      vi.advanceTimersByTime(250);
    }
  }

  it.each<[string, { playhead: boolean; hidden?: boolean; still?: boolean }, number]>([
    ['a tick brings the transport twice and its playhead once: one call', { playhead: true }, 1],
    ['a plug-in without the playhead: one call per tick', { playhead: false }, 1],
    ['a hidden view, where only the assignment comes: one call per tick', { playhead: true, hidden: true }, 1],
    ['a host that processes no audio sends the same reading again: no call', { playhead: false, still: true }, 0],
  ])('%s', (_, { playhead, hidden = false, still = false }, perTick) => {
    installFakeJuce({ transport: PLAYING, ...(playhead ? { playhead: EXTENDED } : {}) });
    const b = startBridge();
    tick(2);
    const seen: BridgeState[] = [];
    b.subscribe((s) => seen.push(s));
    seen.length = 0;
    host().visible = !hidden;

    // Fewer ticks than it takes a path to go quiet, which is news of its own.
    tick(4, { still });
    expect(seen).toHaveLength(4 * perTick);
    if (playhead && !hidden) {
      // Each call carries its tick's transport and playhead together.
      for (const s of seen) expect(s.playhead?.blockCount).toBe(s.transport?.debugBlockCount);
    }
    if (perTick > 0) expect(new Set(seen.map((s) => s.transport?.debugBlockCount)).size).toBe(seen.length);
  });

  it('tells of a getTransport answer that repeats a pushed reading once, for the call settling', async () => {
    installFakeJuce({ transport: PLAYING });
    const b = startBridge({}, { withJuceLibrary: true });
    const seen: BridgeState[] = [];
    b.subscribe((s) => seen.push(s));
    host().emitEvent(PLAYING);

    await nativeCallSettled(b);
    expect(seen.map((s) => s.nativeCall)).toEqual(['pending', 'pending', 'answered']);
    expect(seen.at(-1)?.source).toBe('nativeFunction');
  });
});

describe('the newest reading wins', () => {
  type Step = [path: Exclude<DeliveryPath, 'nativeFunction'>, blockCount: number, atMs: number];

  it.each<[string, Step[], number, DeliveryPath]>([
    ['a reading further on replaces the shown one', [['event', 1000, 0], ['assignment', 1010, 100]], 1010, 'assignment'],
    ['a reading behind the shown one is ignored', [['event', 1000, 0], ['assignment', 990, 100]], 1000, 'event'],
    ['the same block count arriving later takes over', [['event', 1000, 0], ['assignment', 1000, 10]], 1000, 'assignment'],
    ['once the shown reading is stale, a restarted counter is believed', [['event', 50000, 0], ['event', 12, 1200]], 12, 'event'],
    ['the counter wrapping past int32 max counts as further on', [['event', 2147483647, 0], ['event', -2147483648, 250]], -2147483648, 'event'],
    ['a reading from before a wrap is behind', [['event', -2147483640, 0], ['assignment', 2147483000, 100]], -2147483640, 'event'],
  ])('%s', (_, steps, expectedCount, expectedSource) => {
    installFakeJuce();
    const b = startBridge();
    let clock = 0;
    for (const [path, blockCount, at] of steps) {
      vi.advanceTimersByTime(at - clock);
      clock = at;
      const reading = { ...PLAYING, debugBlockCount: blockCount };
      if (path === 'event') host().emitEvent(reading);
      else host().assign(reading);
    }
    expect(b.state().transport?.debugBlockCount).toBe(expectedCount);
    expect(b.state().source).toBe(expectedSource);
  });

  it('does not let a late getTransport answer undo newer pushed readings', async () => {
    installFakeJuce({ transport: PLAYING, answer: { ...PLAYING, debugBlockCount: 900 } });
    const b = startBridge({}, { withJuceLibrary: true });
    host().emitEvent({ ...PLAYING, debugBlockCount: 1000 });

    const s = await nativeCallSettled(b);
    expect(s.nativeCall).toBe('answered');
    expect(s.paths.nativeFunction.live).toBe(true);
    expect(s.transport?.debugBlockCount).toBe(1000);
    expect(s.source).toBe('event');
  });
});

describe('malformed deliveries', () => {
  it.each<[string, 'event' | 'assignment', unknown]>([
    ['an event with connected as text', 'event', { ...PLAYING, connected: 'yes' }],
    ['an empty event', 'event', null],
    ['an event carrying text', 'event', 'transportUpdate'],
    ['an assigned string', 'assignment', 'hello'],
    ['an assigned reading with bpm as text', 'assignment', { ...PLAYING, bpm: 'fast' }],
    ['an assigned empty object', 'assignment', {}],
  ])('ignores %s and keeps the last good reading', (_, path, payload) => {
    installFakeJuce();
    const b = startBridge();
    host().emitEvent(PLAYING);

    expect(() => (path === 'event' ? host().emitEvent(payload) : host().assign(payload))).not.toThrow();
    const s = b.state();
    expect(s.transport).toEqual(PLAYING);
    expect(s.paths[path].rejected).toBe(1);
    if (path === 'assignment') expect(window.__transportData).toEqual(payload);

    host().emitEvent({ ...PLAYING, debugBlockCount: 1024 });
    expect(b.state().transport?.debugBlockCount).toBe(1024);
  });

  it.each<[string, Parameters<typeof installFakeJuce>[0], BridgeState['nativeCall'], number]>([
    ['a reading', {}, 'answered', 0],
    ['something that is not a reading', { answer: { bogus: true } }, 'failed', 1],
    ['null', { answer: null }, 'failed', 1],
    ['nothing, ever', { neverAnswer: true }, 'failed', 0],
    ['nothing, as the function is unknown to the backend', { functions: [] }, 'failed', 0],
  ])('reports getTransport answering %s', async (_, options, expected, rejected) => {
    spyOnConsole(); // JUCE's library warns about a function the backend does not know
    installFakeJuce({ transport: PLAYING, ...options });
    const b = startBridge({ nativeTimeoutMs: 500 }, { withJuceLibrary: true });

    const s = await nativeCallSettled(b);
    expect(s.nativeCall).toBe(expected);
    expect(s.paths.nativeFunction.live).toBe(expected === 'answered');
    expect(s.paths.nativeFunction.rejected).toBe(rejected);
    expect(s.transport).toEqual(expected === 'answered' ? PLAYING : null);
  });
});

describe('outside the plug-in (development server)', () => {
  it('reports no native bridge without loading JUCE or logging, and still takes assignments', async () => {
    const consoleSpies = spyOnConsole();
    const b = startBridge({}, { withJuceLibrary: true });

    const s = b.state();
    expect(s.nativeBridge).toBe(false);
    expect(s.nativeCall).toBe('unavailable');
    expect(s.transport).toBeNull();
    expect(Object.values(s.paths).map((p) => p.live)).toEqual([false, false, false]);

    await vi.advanceTimersByTimeAsync(1000);
    // JUCE's library would have put a placeholder here, with a warning.
    expect((window as { __JUCE__?: unknown }).__JUCE__).toBeUndefined();
    for (const spy of consoleSpies) expect(spy).not.toHaveBeenCalled();

    window.__transportData = PLAYING;
    expect(b.state().transport).toEqual(PLAYING);
    expect(b.state().paths.assignment.live).toBe(true);
  });
});

describe('the extended reading', () => {
  const READING = { ...PLAYHEAD_IN_LOOP, blockCount: 1000 };
  const at = (blockCount: number, sentTimeMs = 86_405_004) => ({ ...READING, blockCount, sentTimeMs });

  it('asks getPlayhead once, takes "playheadUpdate" events, and keeps the newest with its arrival time', async () => {
    const consoleSpies = spyOnConsole();
    installFakeJuce({ transport: PLAYING, playhead: READING });
    const b = startBridge({}, { withJuceLibrary: true });

    await vi.waitFor(() => expect(b.state().playheadCall).toBe('answered'));
    expect(host().invoked.sort()).toEqual(['getPlayhead', 'getTransport']);
    expect(b.state().playhead).toEqual(parsePlayhead(READING));

    vi.advanceTimersByTime(250);
    host().emitPlayhead(at(1024));
    const s = b.state();
    expect(s.playhead?.blockCount).toBe(1024);
    expect(s.playheadArrivedAt).toBe(Date.now());
    expect(host().listenerCount('playheadUpdate')).toBe(1);
    // Today's reading is handled as before, untouched by the extended one.
    expect(s.paths.event.received).toBe(0);
    expect(s.transport).toEqual(PLAYING);
    for (const spy of consoleSpies) expect(spy).not.toHaveBeenCalled();
  });

  it.each<[string, [blockCount: number, atMs: number][], number]>([
    ['a reading further on replaces the kept one', [[1000, 0], [1010, 100]], 1010],
    ['a reading behind the kept one is ignored', [[1000, 0], [990, 100]], 1000],
    ['once the kept reading is stale, a restarted counter is believed', [[50000, 0], [12, 1200]], 12],
    ['the counter wrapping past int32 max counts as further on', [[2147483647, 0], [-2147483648, 250]], -2147483648],
  ])('%s', (_, steps, expected) => {
    installFakeJuce();
    const b = startBridge();
    let clock = 0;
    for (const [blockCount, atMs] of steps) {
      vi.advanceTimersByTime(atMs - clock);
      clock = atMs;
      host().emitPlayhead(at(blockCount));
    }
    expect(b.state().playhead?.blockCount).toBe(expected);
  });

  it("estimates the plug-in's clock from the least-delayed of recent arrivals, late losers included", () => {
    installFakeJuce();
    const b = startBridge();
    const t0 = Date.now();
    // Sent on the plug-in's clock every 250 ms; delivered 12, 3 and 30 ms late.
    const plugin0 = 1_000_000;
    const deliveries: [blockCount: number, sent: number, delay: number][] = [
      [1000, 0, 12],
      [990, 250, 3], // behind the kept reading, but still a delivery
      [1048, 500, 30],
    ];
    for (const [blockCount, sent, delay] of deliveries) {
      vi.setSystemTime(t0 + sent + delay);
      host().emitPlayhead(at(blockCount, plugin0 + sent));
    }
    expect(b.state().clockOffsetMs).toBe(t0 + 3 - plugin0);
    expect(b.state().playhead?.blockCount).toBe(1048);
  });

  it('counts malformed extended readings and keeps the last good one', () => {
    installFakeJuce();
    const b = startBridge();
    host().emitPlayhead(READING);
    for (const bad of [null, 'playheadUpdate', { ...READING, sentTimeMs: 'now' }, { ...READING, connected: undefined }, PLAYING]) {
      expect(() => host().emitPlayhead(bad)).not.toThrow();
    }
    expect(b.state().playheadRejected).toBe(5);
    expect(b.state().playhead?.blockCount).toBe(1000);
  });

  it.each<[string, Parameters<typeof installFakeJuce>[0], BridgeState['playheadCall'], boolean]>([
    ['a plug-in without getPlayhead is not asked (and JUCE does not warn)', { transport: PLAYING }, 'unavailable', false],
    ['an answer that is not a reading', { transport: PLAYING, playhead: READING, playheadAnswer: { connected: true } }, 'failed', true],
    ['no answer', { transport: PLAYING, playhead: READING, functions: ['getTransport', 'getPlayhead'], neverAnswer: true }, 'failed', true],
  ])('reports %s', async (_, options, expected, asked) => {
    const consoleSpies = spyOnConsole();
    installFakeJuce(options);
    const b = startBridge({ nativeTimeoutMs: 500 }, { withJuceLibrary: true });
    await vi.waitFor(() => expect(b.state().nativeCall).not.toBe('pending'));
    await vi.waitFor(() => expect(b.state().playheadCall).not.toBe('pending'));
    expect(b.state().playheadCall).toBe(expected);
    expect(host().invoked.includes('getPlayhead')).toBe(asked);
    for (const spy of consoleSpies) expect(spy).not.toHaveBeenCalled();
  });
});
