// Drives the view's play head: at the display's frame rate from the
// predictor while the host plays and "smooth" is on, otherwise only when a
// reading arrives. No frame is requested while stopped or with smooth off, so
// a page left open costs nothing between readings.

import { createPlayheadPredictor, type BridgeState, type MusicalSource, type Playhead, type PlayheadPrediction } from '@quillbeat/page-client';
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
  /** Takes a bridge state: the view shows it, and a new extended reading goes to the predictor. */
  update(state: BridgeState): void;
  /** The predicted play head at `pageTimeMs` (default: now, on performance.now()'s clock). */
  predict(pageTimeMs?: number): PlayheadSample;
  /** Turns the frame-rate display on or off (the page's switch follows). */
  setSmooth(on: boolean): void;
  smooth(): boolean;
  /** Whether frames are being requested right now. */
  animating(): boolean;
}

export interface PlayheadDisplayOptions {
  now?: () => number;
  requestFrame?: (callback: (timeMs: number) => void) => number;
  cancelFrame?: (handle: number) => void;
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
  const now = options.now ?? (() => performance.now());
  const requestFrame = options.requestFrame ?? ((cb) => requestAnimationFrame(cb));
  const cancelFrame = options.cancelFrame ?? ((handle) => cancelAnimationFrame(handle));
  const predictor = createPlayheadPredictor();

  let smooth = view.smoothSwitch.checked;
  let fed: Playhead | null = null;
  let lastState: BridgeState | null = null;
  let frame: number | null = null;
  let digitsShownAt = Number.NEGATIVE_INFINITY;

  function moves(state: BridgeState | null): boolean {
    const p = state?.playhead;
    return smooth && state !== null && state.fresh && p != null && p.connected && p.playing === true;
  }

  function onFrame(timeMs: number): void {
    frame = null;
    const reading = predictor.reading();
    if (reading === null || !moves(lastState)) return;
    const digitsDue = timeMs - digitsShownAt >= DIGITS_REFRESH_MS || timeMs < digitsShownAt;
    if (digitsDue) digitsShownAt = timeMs;
    view.showPlayhead(describePrediction(reading, predictor.predict(timeMs)), digitsDue);
    frame = requestFrame(onFrame);
  }

  function follow(state: BridgeState): void {
    if (moves(state)) {
      view.update(state);
      frame ??= requestFrame(onFrame);
    } else {
      if (frame !== null) cancelFrame(frame);
      frame = null;
      view.showPlayhead(null);
      view.update(state);
    }
  }

  view.smoothSwitch.addEventListener('change', () => api.setSmooth(view.smoothSwitch.checked));

  const api: PlayheadDisplay = {
    update(state) {
      lastState = state;
      const p = state.playhead;
      if (p !== null && p !== fed && state.playheadArrivedAt !== null) {
        fed = p;
        predictor.update(p, state.playheadArrivedAt, state.clockOffsetMs);
      }
      follow(state);
    },
    predict(pageTimeMs) {
      return sample(predictor.predict(pageTimeMs ?? now()));
    },
    setSmooth(on) {
      smooth = on;
      view.smoothSwitch.checked = on;
      if (lastState !== null) follow(lastState);
    },
    smooth: () => smooth,
    animating: () => frame !== null,
  };
  return api;
}
