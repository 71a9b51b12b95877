// A host's own timeline, from an explicit tempo map: where its play head is
// at any moment of a scripted session (play, stop, seek, loop), in seconds
// and quarter notes, the way a DAW counts them. The tests and the benchmark
// take it as the truth the page's display is held against. It also makes the
// readings the plug-in would send from it: the audio block current at a
// moment, stamped on the plug-in's own clock.
//
// hostTimeline must stay self-contained (no imports, no outside names): the
// fake plug-in hands its source text to the browser with the page.

export interface TempoStep {
  /** Quarter notes from the start of the timeline where this tempo begins. */
  ppq: number;
  bpm: number;
}

export interface LoopSpan {
  start: number;
  end: number;
}

/** A change at `atMs` after the session's start; only the fields given change. */
export interface TimelineEvent {
  atMs: number;
  playing?: boolean;
  /** Jump to this position in quarter notes. */
  seekPpq?: number;
  loop?: LoopSpan | null;
}

export interface TimelineScript {
  /** Tempo steps in order, the first at quarter note 0 (it also holds before 0). */
  tempoMap: TempoStep[];
  timeSigNum: number;
  timeSigDen: number;
  startPpq: number;
  playing: boolean;
  loop: LoopSpan | null;
  events?: TimelineEvent[];
}

export interface HostMoment {
  playing: boolean;
  looping: boolean;
  loop: LoopSpan | null;
  bpm: number;
  ppqPosition: number;
  positionSecs: number;
}

export interface ReadingOptions {
  sampleRate: number;
  blockSize: number;
  /** The plug-in's clock at the session's start: its origin is not the page's. */
  pluginClockAtStartMs: number;
  /** What the host says the bar starts at: the right value, the bar where playing started (as Ardour 7 gets it wrong), or nothing. */
  barStart: 'right' | 'stale' | 'none';
}

/** What the plug-in sends when its timer fires, from the newest block captured by then. */
export interface PluginReadings {
  /** Session time of the captured block. */
  captureMs: number;
  /** The extended reading, keys in the plug-in's order. */
  playhead: Record<string, unknown>;
  /** Today's reading, keys in the plug-in's order. */
  transport: Record<string, unknown>;
}

export interface HostTimeline {
  /** The host's state `ms` after the session's start. */
  at(ms: number): HostMoment;
  /** Seconds from the timeline's start to quarter note `ppq`, through the tempo map. */
  secondsAt(ppq: number): number;
  ppqAt(seconds: number): number;
  bpmAt(ppq: number): number;
  /** The readings made `sentMs` after the session's start. */
  readings(sentMs: number, options: ReadingOptions): PluginReadings;
}

export function hostTimeline(script: TimelineScript): HostTimeline {
  const steps = script.tempoMap.length > 0 ? script.tempoMap : [{ ppq: 0, bpm: 120 }];
  const events = [...(script.events ?? [])].sort((a, b) => a.atMs - b.atMs);

  // Seconds at the start of each tempo step.
  const stepSeconds: number[] = [0];
  for (let i = 1; i < steps.length; i++) {
    const prev = steps[i - 1] as TempoStep;
    const step = steps[i] as TempoStep;
    stepSeconds.push((stepSeconds[i - 1] as number) + ((step.ppq - prev.ppq) * 60) / prev.bpm);
  }

  function stepIndexAtPpq(ppq: number): number {
    let i = 0;
    while (i + 1 < steps.length && (steps[i + 1] as TempoStep).ppq <= ppq) i++;
    return i;
  }

  function secondsAt(ppq: number): number {
    const i = stepIndexAtPpq(ppq);
    const step = steps[i] as TempoStep;
    return (stepSeconds[i] as number) + ((ppq - step.ppq) * 60) / step.bpm;
  }

  function ppqAt(seconds: number): number {
    let i = 0;
    while (i + 1 < steps.length && (stepSeconds[i + 1] as number) <= seconds) i++;
    const step = steps[i] as TempoStep;
    return step.ppq + ((seconds - (stepSeconds[i] as number)) * step.bpm) / 60;
  }

  function bpmAt(ppq: number): number {
    return (steps[stepIndexAtPpq(ppq)] as TempoStep).bpm;
  }

  /** Where a play head at `ppq` is `elapsedSecs` later, cycling in `loop` once it reaches its end. */
  function advance(ppq: number, elapsedSecs: number, loop: LoopSpan | null): number {
    let seconds = secondsAt(ppq) + elapsedSecs;
    if (loop !== null && loop.start < loop.end && ppq < loop.end) {
      const endSecs = secondsAt(loop.end);
      if (seconds >= endSecs) {
        const startSecs = secondsAt(loop.start);
        seconds = startSecs + ((seconds - endSecs) % (endSecs - startSecs));
      }
    }
    return ppqAt(seconds);
  }

  function at(ms: number): HostMoment {
    let ppq = script.startPpq;
    let playing = script.playing;
    let loop = script.loop;
    let since = 0;
    for (const e of events) {
      if (e.atMs > ms) break;
      if (playing) ppq = advance(ppq, (e.atMs - since) / 1000, loop);
      since = e.atMs;
      if (e.loop !== undefined) loop = e.loop;
      if (e.seekPpq !== undefined) ppq = e.seekPpq;
      if (e.playing !== undefined) playing = e.playing;
    }
    if (playing) ppq = advance(ppq, (ms - since) / 1000, loop);
    return { playing, looping: loop !== null, loop, bpm: bpmAt(ppq), ppqPosition: ppq, positionSecs: secondsAt(ppq) };
  }

  function formatted(seconds: number): string {
    const ms = Math.round(Math.abs(seconds) * 1000);
    const minutes = Math.floor(ms / 60000);
    const rest = ms - minutes * 60000;
    const sign = seconds < 0 && ms > 0 ? '-' : '';
    return `${sign}${minutes}:${String(Math.floor(rest / 1000)).padStart(2, '0')}.${String(rest % 1000).padStart(3, '0')}`;
  }

  function readings(sentMs: number, options: ReadingOptions): PluginReadings {
    const blockMs = (options.blockSize * 1000) / options.sampleRate;
    const blockIndex = Math.max(0, Math.floor(sentMs / blockMs));
    const captureMs = blockIndex * blockMs;
    const m = at(captureMs);
    const qnPerBar = (script.timeSigNum * 4) / script.timeSigDen;
    const barStart =
      options.barStart === 'none'
        ? null
        : Math.floor((options.barStart === 'right' ? m.ppqPosition : script.startPpq) / qnPerBar + 1e-9) * qnPerBar;
    const blockCount = blockIndex | 0;
    return {
      captureMs,
      playhead: {
        connected: true,
        blockCount,
        playing: m.playing,
        recording: false,
        looping: m.looping,
        bpm: m.bpm,
        timeSigNum: script.timeSigNum,
        timeSigDen: script.timeSigDen,
        positionSecs: m.positionSecs,
        positionSamples: Math.round(m.positionSecs * options.sampleRate),
        ppqPosition: m.ppqPosition,
        ppqLastBarStart: barStart,
        barCount: null,
        ppqLoopStart: m.loop === null ? null : m.loop.start,
        ppqLoopEnd: m.loop === null ? null : m.loop.end,
        sampleRate: options.sampleRate,
        hostTimeMs: captureMs,
        captureTimeMs: options.pluginClockAtStartMs + captureMs,
        sentTimeMs: options.pluginClockAtStartMs + sentMs,
      },
      transport: {
        connected: true,
        playing: m.playing,
        recording: false,
        bpm: m.bpm,
        timeSigNum: script.timeSigNum,
        timeSigDen: script.timeSigDen,
        positionSecs: m.positionSecs,
        positionFormatted: formatted(m.positionSecs),
        debugBlockCount: blockCount,
      },
    };
  }

  return { at, secondsAt, ppqAt, bpmAt, readings };
}
