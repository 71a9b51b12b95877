import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { createTransportBridge, LIVE_WINDOW_MS, type TransportBridge } from '../../src/bridge';
import { createSmoothPlayhead, type SmoothPlayhead, type SmoothPlayheadFrame, type VisibilitySource } from '../../src/smoothPlayhead';
import { installFakeJuce, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8, removeFakeJuce, type FakeHost } from '../fakeJuce';

// The plug-in's clock is this far behind the page's; readings leave at once
// and arrive without delay, so a reading's capture is its arrival in page time.
const PLUGIN_CLOCK_BEHIND_MS = 5_000_000;
// 96 bpm: a quarter note every 625 ms.
const QN_PER_MS = 96 / 60000;

let bridge: TransportBridge;
let playhead: SmoothPlayhead | undefined;
let frames: SmoothPlayheadFrame[];
let pending: Map<number, (t: number) => void>;
let requested: number;
let blockCount: number;
let page: VisibilitySource & { visibilityState: DocumentVisibilityState; show(state: DocumentVisibilityState): void };

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

/** One tick of the editor with a fresh playhead reading, made now. */
function send(change: Record<string, unknown> = {}): void {
  blockCount += 24;
  const pluginNow = Date.now() - PLUGIN_CLOCK_BEHIND_MS;
  host().transport = { ...host().transport, debugBlockCount: blockCount };
  host().playhead = { ...PLAYHEAD_IN_LOOP, blockCount, captureTimeMs: pluginNow, sentTimeMs: pluginNow, ...change };
  host().tick();
}

/** Runs the frame the play head asked for, as the browser would at page time `t`. */
function runFrame(t: number): void {
  const due = [...pending.values()];
  pending.clear();
  for (const fn of due) fn(t);
}

function start(options: { paused?: boolean } = {}): SmoothPlayhead {
  playhead = createSmoothPlayhead({
    onFrame: (f) => frames.push(f),
    bridge,
    now: () => Date.now(),
    requestFrame: (fn) => {
      requested++;
      pending.set(requested, fn);
      return requested;
    },
    cancelFrame: (handle) => pending.delete(handle),
    visibility: page,
    ...options,
  });
  return playhead;
}

beforeEach(() => {
  vi.useFakeTimers();
  installFakeJuce({ transport: PLAYING_128_IN_7_8, playhead: PLAYHEAD_IN_LOOP });
  bridge = createTransportBridge({ now: () => Date.now(), loadFrontend: () => new Promise(() => {}) });
  frames = [];
  pending = new Map();
  requested = 0;
  blockCount = 1000;
  const listeners = new Set<() => void>();
  page = {
    visibilityState: 'visible',
    addEventListener: (_, fn) => listeners.add(fn),
    removeEventListener: (_, fn) => listeners.delete(fn),
    show(state) {
      page.visibilityState = state;
      for (const fn of listeners) fn();
    },
  };
});

afterEach(() => {
  playhead?.dispose();
  playhead = undefined;
  bridge.dispose();
  removeFakeJuce();
  vi.useRealTimers();
});

describe('the smooth play head while the host plays', () => {
  it('hands over one predicted position per animation frame, from one chain of frame requests', () => {
    start();
    send();
    const sentAt = Date.now();
    expect(pending.size).toBe(1);

    for (const after of [16, 33, 50]) {
      runFrame(sentAt + after);
      expect(pending.size).toBe(1);
    }
    expect(frames.map((f) => f.pageTimeMs)).toEqual([sentAt + 16, sentAt + 33, sentAt + 50]);
    expect(frames.every((f) => f.moving && f.playing)).toBe(true);
    expect(frames[2]?.ppqPosition).toBeCloseTo(35.7635 + 50 * QN_PER_MS, 9);
    expect(frames[2]).toMatchObject({ bar: 9, beat: 4, tick: 810 });
    expect(frames[2]?.reading.blockCount).toBe(blockCount);

    // Further readings feed the same chain.
    vi.advanceTimersByTime(250);
    send({ ppqPosition: 35.7635 + 250 * QN_PER_MS });
    expect(pending.size).toBe(1);
    expect(requested).toBe(4);
  });

  it('predicts on the page clock, now by default, the same as its frames', () => {
    const p = start();
    send();
    const sentAt = Date.now();
    runFrame(sentAt + 100);
    expect(p.predict(sentAt + 100).ppqPosition).toBe(frames[0]?.ppqPosition);
    vi.advanceTimersByTime(200);
    expect(p.predict().pageTimeMs).toBe(sentAt + 200);
    expect(p.predict().ppqPosition).toBeCloseTo(35.7635 + 200 * QN_PER_MS, 9);
  });
});

describe('the smooth play head at rest', () => {
  it('shows the stop in one frame, then asks for none while the host stays stopped', () => {
    start();
    send();
    runFrame(Date.now() + 16);
    vi.advanceTimersByTime(250);
    send({ playing: false, ppqPosition: 36.1 });
    runFrame(Date.now() + 16);

    expect(frames.at(-1)).toMatchObject({ moving: false, playing: false, ppqPosition: 36.1 });
    expect(pending.size).toBe(0);
    const before = requested;
    for (let i = 0; i < 8; i++) {
      vi.advanceTimersByTime(250);
      send({ playing: false, ppqPosition: 36.1 });
    }
    expect(requested).toBe(before);

    // A seek while stopped moves what is shown: one frame.
    send({ playing: false, ppqPosition: 4 });
    runFrame(Date.now());
    expect(frames.at(-1)).toMatchObject({ moving: false, ppqPosition: 4, bar: 2, beat: 1, tick: 0 });
    expect(pending.size).toBe(0);
  });

  it('shows a stopped host as soon as the first reading comes, once', () => {
    start();
    send({ playing: false });
    runFrame(Date.now());
    send({ playing: false });
    expect(frames).toHaveLength(1);
    expect(frames[0]).toMatchObject({ moving: false, ppqPosition: 35.7635 });
    expect(pending.size).toBe(0);
  });

  it('comes to rest when readings stop coming, and moves again with the next', () => {
    start();
    send();
    const sentAt = Date.now();
    runFrame(sentAt + 16);
    runFrame(sentAt + LIVE_WINDOW_MS + 1);
    expect(frames.at(-1)?.moving).toBe(false);
    expect(pending.size).toBe(0);

    vi.advanceTimersByTime(LIVE_WINDOW_MS + 1);
    send();
    expect(pending.size).toBe(1);
  });

  it.each<[string, (p: SmoothPlayhead) => void, (p: SmoothPlayhead) => void]>([
    ['the page is hidden', () => page.show('hidden'), () => page.show('visible')],
    ['it is paused', (p) => p.pause(), (p) => p.resume()],
  ])('asks for no frames while %s, whatever arrives, and starts again after', (_, stop, again) => {
    const p = start();
    send();
    runFrame(Date.now() + 16);
    stop(p);
    expect(p.running()).toBe(false);
    expect(pending.size).toBe(0);

    const before = requested;
    for (let i = 0; i < 4; i++) {
      vi.advanceTimersByTime(250);
      send({ ppqPosition: 36 + i * 0.4 });
    }
    expect(requested).toBe(before);

    again(p);
    expect(p.running()).toBe(true);
    runFrame(Date.now() + 16);
    expect(frames.at(-1)?.moving).toBe(true);
    expect(frames.at(-1)?.ppqPosition).toBeCloseTo(37.2 + 16 * QN_PER_MS, 9);
  });

  it('stays quiet when started paused, and after dispose leaves the bridge', () => {
    const p = start({ paused: true });
    send();
    expect(p.paused()).toBe(true);
    expect(pending.size).toBe(0);
    p.resume();
    p.dispose();
    expect(pending.size).toBe(0);
    send();
    page.show('visible');
    expect(requested).toBe(1);
    expect(frames).toEqual([]);
  });
});
