import { afterEach, beforeEach, describe, expect, it, vi } from 'vitest';
import { createTransportBridge, LIVE_WINDOW_MS, type TransportBridge } from '@quillbeat/page-client';
import { createPlayheadDisplay, DIGITS_REFRESH_MS, type PlayheadDisplay } from '../../src/playheadDisplay';
import { mountTransportView } from '../../src/view';
import { installFakeJuce, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8, removeFakeJuce, type FakeHost } from '../../page-client/test/fakeJuce';

// The plug-in's clock runs this far behind the page's; readings leave and
// arrive at once, so each is captured at its arrival in page time.
const PLUGIN_CLOCK_BEHIND_MS = 5_000_000;

let root: HTMLElement;
let bridge: TransportBridge;
let display: PlayheadDisplay;
let pending: Map<number, (t: number) => void>;
let nextHandle: number;
let blockCount: number;

function host(): FakeHost {
  const h = window.__fakeHost;
  if (h === undefined) throw new Error('no fake host installed');
  return h;
}

/** One tick of the editor: the bug report's moment in bar 9, made now. */
function send(change: Record<string, unknown> = {}): void {
  blockCount += 24;
  const pluginNow = Date.now() - PLUGIN_CLOCK_BEHIND_MS;
  host().transport = { ...host().transport, debugBlockCount: blockCount };
  host().playhead = { ...PLAYHEAD_IN_LOOP, ppqLastBarStart: 32, blockCount, captureTimeMs: pluginNow, sentTimeMs: pluginNow, ...change };
  host().tick();
}

/** Runs the frame the display asked for, as the browser would at page time `t`. */
function runFrame(t: number): void {
  const frames = [...pending.values()];
  pending.clear();
  for (const fn of frames) fn(t);
}

const text = (selector: string): string => root.querySelector(selector)?.textContent ?? '';

beforeEach(() => {
  vi.useFakeTimers();
  installFakeJuce({ transport: { ...PLAYING_128_IN_7_8, bpm: 96, timeSigNum: 4, timeSigDen: 4 }, playhead: PLAYHEAD_IN_LOOP });
  bridge = createTransportBridge({ now: () => Date.now(), loadFrontend: () => new Promise(() => {}) });
  document.body.innerHTML = '<main id="app"></main>';
  root = document.getElementById('app') as HTMLElement;
  pending = new Map();
  nextHandle = 1;
  blockCount = 1000;
  display = createPlayheadDisplay(mountTransportView(root), {
    bridge,
    now: () => Date.now(),
    requestFrame: (fn) => {
      pending.set(nextHandle, fn);
      return nextHandle++;
    },
    cancelFrame: (handle) => pending.delete(handle),
  });
});

afterEach(() => {
  display.dispose();
  bridge.dispose();
  removeFakeJuce();
  vi.useRealTimers();
});

describe('the moving play head', () => {
  it('moves at frame rate while the host plays', () => {
    send();
    const t0 = Date.now();
    expect(display.animating()).toBe(true);
    runFrame(t0 + 125); // 0.2 quarter notes on at 96 bpm
    expect(text('#bbt')).toBe('9.4.925');
    runFrame(t0 + 250);
    expect(text('#bbt')).toBe('10.1.157');
    expect(display.animating()).toBe(true);
  });

  it('moves the cursor every frame but changes the digits at most every DIGITS_REFRESH_MS', () => {
    const cursor = (): string => (root.querySelector('#playhead-fill') as HTMLElement).style.transform;
    send();
    const t0 = Date.now();
    runFrame(t0 + 125);
    const [digits, at] = [text('#bbt'), cursor()];

    runFrame(t0 + 125 + DIGITS_REFRESH_MS / 2);
    expect(text('#bbt')).toBe(digits);
    expect(cursor()).not.toBe(at);

    runFrame(t0 + 125 + DIGITS_REFRESH_MS);
    expect(text('#bbt')).not.toBe(digits);
  });

  it.each<[string, () => void]>([
    ['the host stops', () => send({ playing: false })],
    ['the play state is unknown', () => send({ playing: null })],
    ['readings stop coming', () => vi.advanceTimersByTime(LIVE_WINDOW_MS + 1)],
    ['smooth is turned off', () => display.setSmooth(false)],
    [
      'the switch is clicked',
      () => {
        const box = root.querySelector('#smooth-switch') as HTMLInputElement;
        box.click();
      },
    ],
  ])('asks for no frames once %s, and shows the reading as it is', (_, change) => {
    send();
    runFrame(Date.now() + 125);
    expect(text('#bbt')).toBe('9.4.925');
    change();
    runFrame(Date.now());
    expect(display.animating()).toBe(false);
    expect(pending.size).toBe(0);
    expect(text('#bbt')).toBe('9.4.733');
  });

  it('starts again when smooth is turned back on while playing', () => {
    display.setSmooth(false);
    send();
    expect(display.animating()).toBe(false);
    expect((root.querySelector('#smooth-switch') as HTMLInputElement).checked).toBe(false);
    display.setSmooth(true);
    expect(display.smooth()).toBe(true);
    expect(display.animating()).toBe(true);
  });

  it('answers scripts with the prediction, smooth or not', () => {
    display.setSmooth(false);
    send();
    const t0 = Date.now();
    expect(display.predict(t0 + 125)).toMatchObject({ playing: true, bar: 9, beat: 4, tick: 925, source: 'host', held: false });
    expect(display.predict(t0 + 125).ppqPosition).toBeCloseTo(35.9635, 9);
    expect(display.predict().pageTimeMs).toBe(t0);
  });
});
