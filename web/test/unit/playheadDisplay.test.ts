import { beforeEach, describe, expect, it } from 'vitest';
import { parsePlayhead, type BridgeState, type Playhead } from '@quillbeat/page-client';
import { createPlayheadDisplay, DIGITS_REFRESH_MS, type PlayheadDisplay } from '../../src/playheadDisplay';
import { mountTransportView } from '../../src/view';
import { PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8 } from '../../page-client/test/fakeJuce';

const READING = parsePlayhead({ ...PLAYHEAD_IN_LOOP, ppqLastBarStart: 32 }) as Playhead;
// Page clock minus plug-in clock: the reading was captured at page time 1000.
const OFFSET = 1000 - (READING.captureTimeMs as number);

function state(playhead: Partial<Playhead> | null, change: Partial<BridgeState> = {}): BridgeState {
  const idle = { live: false, received: 0, rejected: 0, rateHz: null };
  return {
    transport: { ...PLAYING_128_IN_7_8, bpm: 96, timeSigNum: 4, timeSigDen: 4 },
    source: 'event',
    nativeBridge: true,
    nativeCall: 'answered',
    paths: { event: idle, assignment: idle, nativeFunction: idle },
    updateRateHz: 4,
    fresh: true,
    playhead: playhead === null ? null : { ...READING, ...playhead },
    playheadArrivedAt: 1004,
    clockOffsetMs: OFFSET,
    playheadCall: 'answered',
    playheadRejected: 0,
    ...change,
  };
}

let root: HTMLElement;
let display: PlayheadDisplay;
let pending: Map<number, (t: number) => void>;
let nextHandle: number;

/** Runs the frame the display asked for, as the browser would at `t`. */
function runFrame(t: number): void {
  const frames = [...pending.entries()];
  pending.clear();
  for (const [, fn] of frames) fn(t);
}

const text = (selector: string): string => root.querySelector(selector)?.textContent ?? '';

beforeEach(() => {
  document.body.innerHTML = '<main id="app"></main>';
  root = document.getElementById('app') as HTMLElement;
  pending = new Map();
  nextHandle = 1;
  display = createPlayheadDisplay(mountTransportView(root), {
    now: () => 1004,
    requestFrame: (fn) => {
      pending.set(nextHandle, fn);
      return nextHandle++;
    },
    cancelFrame: (handle) => pending.delete(handle),
  });
});

describe('the moving play head', () => {
  it('moves at frame rate while the host plays', () => {
    display.update(state({}));
    expect(display.animating()).toBe(true);
    runFrame(1000 + 125); // 0.2 quarter notes on at 96 bpm
    expect(text('#bbt')).toBe('9.4.925');
    runFrame(1000 + 250);
    expect(text('#bbt')).toBe('10.1.157');
    expect(display.animating()).toBe(true);
  });

  it('moves the cursor every frame but changes the digits at most every DIGITS_REFRESH_MS', () => {
    const cursor = (): string => (root.querySelector('#playhead-fill') as HTMLElement).style.transform;
    display.update(state({}));
    runFrame(1125);
    const [digits, at] = [text('#bbt'), cursor()];

    runFrame(1125 + DIGITS_REFRESH_MS / 2);
    expect(text('#bbt')).toBe(digits);
    expect(cursor()).not.toBe(at);

    runFrame(1125 + DIGITS_REFRESH_MS);
    expect(text('#bbt')).not.toBe(digits);
  });

  it.each<[string, () => void]>([
    ['the host stops', () => display.update(state({ playing: false, blockCount: 1024 }))],
    ['the play state is unknown', () => display.update(state({ playing: null, blockCount: 1024 }))],
    ['readings stop coming', () => display.update(state({}, { fresh: false }))],
    ['smooth is turned off', () => display.setSmooth(false)],
    [
      'the switch is clicked',
      () => {
        const box = root.querySelector('#smooth-switch') as HTMLInputElement;
        box.click();
      },
    ],
  ])('asks for no frames once %s, and shows the reading as it is', (_, change) => {
    display.update(state({}));
    runFrame(1125);
    change();
    expect(display.animating()).toBe(false);
    expect(pending.size).toBe(0);
    expect(text('#bbt')).toBe('9.4.733');
  });

  it('starts again when smooth is turned back on while playing', () => {
    display.setSmooth(false);
    display.update(state({}));
    expect(display.animating()).toBe(false);
    expect((root.querySelector('#smooth-switch') as HTMLInputElement).checked).toBe(false);
    display.setSmooth(true);
    expect(display.smooth()).toBe(true);
    expect(display.animating()).toBe(true);
  });

  it('answers scripts with the prediction, smooth or not', () => {
    display.setSmooth(false);
    display.update(state({}));
    expect(display.predict(1125)).toMatchObject({ playing: true, bar: 9, beat: 4, tick: 925, source: 'host', held: false });
    expect(display.predict(1125).ppqPosition).toBeCloseTo(35.9635, 9);
    expect(display.predict().pageTimeMs).toBe(1004);
  });
});
