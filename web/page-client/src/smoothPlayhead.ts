// A play head that moves at the display's frame rate, in one call: it takes
// the page's transport bridge, feeds each new reading to a predictor with the
// clock offset the bridge keeps, and runs one requestAnimationFrame chain that
// hands the page the predicted position every frame while the host plays.
//
// Nothing is scheduled while there is nothing to move: after the frame that
// shows the host stopping (or its readings ceasing), while the page is hidden,
// and while paused. A reading that moves a stopped play head (a seek while
// stopped) brings one frame. Play, a visible page or resume() start the chain
// again.

import { LIVE_WINDOW_MS, pageTransportBridge, type BridgeState, type TransportBridge } from './bridge.js';
import type { Playhead } from './playhead.js';
import { createPlayheadPredictor, type PlayheadPrediction } from './playheadPredictor.js';

export interface SmoothPlayheadFrame extends PlayheadPrediction {
  /** The reading the prediction moves on from. */
  reading: Playhead;
  /** More frames follow. False on the frame that shows the play head come to rest, and on frames for a stopped host. */
  moving: boolean;
}

/** What the play head needs of `document` to stop while the page is hidden. */
export interface VisibilitySource {
  readonly visibilityState: DocumentVisibilityState;
  addEventListener(type: 'visibilitychange', listener: () => void): void;
  removeEventListener(type: 'visibilitychange', listener: () => void): void;
}

export interface SmoothPlayheadOptions {
  /** Called once per animation frame while the host plays; `frame.pageTimeMs` is the frame's time on the page clock (performance.now()). */
  onFrame(frame: SmoothPlayheadFrame): void;
  /** Default: the page's bridge (pageTransportBridge()). Its clock must be the page clock. */
  bridge?: TransportBridge;
  /** Start without frames until resume(). */
  paused?: boolean;
  /** The page clock; default performance.now(). */
  now?: () => number;
  requestFrame?: (callback: (pageTimeMs: number) => void) => number;
  cancelFrame?: (handle: number) => void;
  /** Default: `document`, where there is one. */
  visibility?: VisibilitySource;
}

export interface SmoothPlayhead {
  /** The predicted position at `pageTimeMs` on the page clock (performance.now()); default: now. */
  predict(pageTimeMs?: number): PlayheadPrediction;
  /** Stops the frames (a page's "smooth off"); predict() still answers. */
  pause(): void;
  /** Starts the frames again where the host plays. */
  resume(): void;
  paused(): boolean;
  /** Whether a frame is requested right now. */
  running(): boolean;
  /** Stops the frames and leaves the bridge. */
  dispose(): void;
}

/** What a frame at rest shows; a stopped host repeating it brings no frame. */
function restingKey(p: PlayheadPrediction): string {
  return [p.playing, p.positionSecs, p.ppqPosition, p.bar, p.beat, p.tick].join('|');
}

export function createSmoothPlayhead(options: SmoothPlayheadOptions): SmoothPlayhead {
  const { onFrame } = options;
  const bridge = options.bridge ?? pageTransportBridge();
  const now = options.now ?? (() => performance.now());
  const requestFrame = options.requestFrame ?? ((cb) => requestAnimationFrame(cb));
  const cancelFrame = options.cancelFrame ?? ((handle) => cancelAnimationFrame(handle));
  const visibility = options.visibility ?? (typeof document === 'undefined' ? undefined : document);
  const predictor = createPlayheadPredictor();

  let latest: BridgeState | null = null;
  let fed: Playhead | null = null;
  let frame: number | null = null;
  let paused = options.paused ?? false;
  let disposed = false;
  /** What the last frame showed if it was at rest; null after a moving one, so the frame that shows the stop is always due. */
  let shownAtRest: string | null = null;

  const hidden = (): boolean => visibility?.visibilityState === 'hidden';

  function moving(atMs: number): boolean {
    const p = latest?.playhead;
    const arrived = latest?.playheadArrivedAt ?? null;
    // A reading older than this means the plug-in stopped sending (its view hidden, the host gone).
    return p != null && p.connected && p.playing === true && arrived !== null && atMs - arrived <= LIVE_WINDOW_MS;
  }

  /** Whether a frame has something to show at `atMs`. */
  function due(atMs: number): boolean {
    if (disposed || paused || hidden() || predictor.reading() === null) return false;
    return moving(atMs) || restingKey(predictor.atReading()) !== shownAtRest;
  }

  function animate(pageTimeMs: number): void {
    frame = null;
    const reading = predictor.reading();
    if (reading === null || !due(pageTimeMs)) return;
    const go = moving(pageTimeMs);
    shownAtRest = go ? null : restingKey(predictor.atReading());
    if (go) frame = requestFrame(animate);
    onFrame({ ...predictor.predict(pageTimeMs), reading, moving: go });
  }

  function schedule(): void {
    if (frame === null && due(now())) frame = requestFrame(animate);
  }

  function stopFrames(): void {
    if (frame !== null) cancelFrame(frame);
    frame = null;
  }

  function onState(state: BridgeState): void {
    latest = state;
    const p = state.playhead;
    if (p !== null && p !== fed && state.playheadArrivedAt !== null) {
      fed = p;
      predictor.update(p, state.playheadArrivedAt, state.clockOffsetMs);
    }
    schedule();
  }

  function onVisibility(): void {
    if (hidden()) stopFrames();
    else schedule();
  }

  visibility?.addEventListener('visibilitychange', onVisibility);
  const unsubscribe = bridge.subscribe(onState);

  return {
    predict: (pageTimeMs) => predictor.predict(pageTimeMs ?? now()),
    pause() {
      paused = true;
      stopFrames();
    },
    resume() {
      paused = false;
      schedule();
    },
    paused: () => paused,
    running: () => frame !== null,
    dispose() {
      disposed = true;
      stopFrames();
      unsubscribe();
      visibility?.removeEventListener('visibilitychange', onVisibility);
    },
  };
}
