// Drives the view's play head from the client's smooth play head: at the
// display's frame rate while the host plays and "smooth" is on, otherwise at
// reading rate through the view's own updates. No frame is requested while
// stopped, hidden or with smooth off, so a page left open costs nothing
// between readings.

import {
  createSmoothPlayhead,
  pageTransportBridge,
  type BridgeState,
  type MusicalSource,
  type PlayheadPrediction,
  type SmoothPlayheadOptions,
  type TransportBridge,
} from '@quillbeat/page-client';
import { describePrediction, type TransportView } from './view';

/** What scripts (and the benchmarks) read from the page's play head. */
export interface PlayheadSample {
  pageTimeMs: number;
  positionSecs: number | null;
  ppqPosition: number | null;
  playing: boolean;
  bar: number | null;
  beat: number | null;
  tick: number | null;
  source: MusicalSource | null;
  held: boolean;
}

export interface PlayheadDisplay {
  /** The predicted play head at `pageTimeMs` (default: now, on performance.now()'s clock). */
  predict(pageTimeMs?: number): PlayheadSample;
  /** Turns the frame-rate display on or off (the page's switch follows). */
  setSmooth(on: boolean): void;
  smooth(): boolean;
  /** Whether frames are being requested right now. */
  animating(): boolean;
  dispose(): void;
}

export interface PlayheadDisplayOptions extends Pick<SmoothPlayheadOptions, 'now' | 'requestFrame' | 'cancelFrame' | 'visibility'> {
  /** Default: the page's bridge. */
  bridge?: TransportBridge;
}

/**
 * While the play head moves at the display's rate, its digits change at most
 * this often. Faster is unreadable, and every change repaints large text: in
 * WebKitGTK without a GPU, digits at 60 Hz cost the engine about a third of a
 * core more than digits at 10 Hz, while the bar's cursor costs little.
 */
export const DIGITS_REFRESH_MS = 100;

function sample(p: PlayheadPrediction): PlayheadSample {
  return {
    pageTimeMs: p.pageTimeMs,
    positionSecs: p.positionSecs,
    ppqPosition: p.ppqPosition,
    playing: p.playing,
    bar: p.bar,
    beat: p.beat,
    tick: p.tick,
    source: p.musical?.source ?? null,
    held: p.held,
  };
}

export function createPlayheadDisplay(view: TransportView, options: PlayheadDisplayOptions = {}): PlayheadDisplay {
  const { bridge = pageTransportBridge(), ...frameOptions } = options;
  let latest: BridgeState | null = null;
  let digitsShownAt = Number.NEGATIVE_INFINITY;

  // The view shows readings as they are whenever the play head is not moving.
  function rest(): void {
    view.showPlayhead(null);
    if (latest !== null) view.update(latest);
  }

  const playhead = createSmoothPlayhead({
    ...frameOptions,
    bridge,
    paused: !view.smoothSwitch.checked,
    onFrame(frame) {
      if (!frame.moving) {
        rest();
        return;
      }
      const t = frame.pageTimeMs;
      const digitsDue = t - digitsShownAt >= DIGITS_REFRESH_MS || t < digitsShownAt;
      if (digitsDue) digitsShownAt = t;
      view.showPlayhead(describePrediction(frame.reading, frame), digitsDue);
    },
  });
  // Subscribed after the play head, which so has each reading first.
  const unsubscribe = bridge.subscribe((state) => {
    latest = state;
    view.update(state);
  });

  view.smoothSwitch.addEventListener('change', () => api.setSmooth(view.smoothSwitch.checked));

  const api: PlayheadDisplay = {
    predict: (pageTimeMs) => sample(playhead.predict(pageTimeMs)),
    setSmooth(on) {
      view.smoothSwitch.checked = on;
      if (on === !playhead.paused()) return;
      if (on) {
        playhead.resume();
      } else {
        playhead.pause();
        rest();
      }
    },
    smooth: () => !playhead.paused(),
    animating: () => playhead.running(),
    dispose() {
      unsubscribe();
      playhead.dispose();
    },
  };
  return api;
}
