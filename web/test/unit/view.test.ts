import { beforeEach, describe, expect, it } from 'vitest';
import { parsePlayhead, type BridgeState, type PathStatus, type Playhead, type Transport } from '@quillbeat/page-client';
import { mountTransportView, type TransportView } from '../../src/view';
import { DISCONNECTED_TRANSPORT, PLAYHEAD_IN_LOOP, PLAYING_128_IN_7_8 } from '../../page-client/test/fakeJuce';

const PLAYING: Transport = { ...PLAYING_128_IN_7_8, debugBlockCount: 123456, debugInfo: 'Event' };

const DISCONNECTED: Transport = { ...DISCONNECTED_TRANSPORT, debugBlockCount: 88 };

const IN_LOOP = parsePlayhead(PLAYHEAD_IN_LOOP) as Playhead;

const live = (rateHz: number): PathStatus => ({ live: true, received: 10, rejected: 0, rateHz });
const idle: PathStatus = { live: false, received: 0, rejected: 0, rateHz: null };

function state(change: Partial<BridgeState>): BridgeState {
  return {
    transport: PLAYING,
    source: 'event',
    nativeBridge: true,
    nativeCall: 'answered',
    paths: { event: live(4), assignment: live(4), nativeFunction: { ...idle, live: true, received: 1 } },
    updateRateHz: 4,
    fresh: true,
    playhead: null,
    playheadArrivedAt: null,
    clockOffsetMs: null,
    playheadCall: 'unavailable',
    playheadRejected: 0,
    ...change,
  };
}

let root: HTMLElement;
let view: TransportView;

beforeEach(() => {
  document.body.innerHTML = '<main id="app"></main>';
  root = document.getElementById('app') as HTMLElement;
  view = mountTransportView(root);
});

const text = (selector: string): string => root.querySelector(selector)?.textContent ?? '';
const bannerShown = (): boolean => !(root.querySelector('#banner') as HTMLElement).hidden;

describe('the transport display', () => {
  it.each<[string, Partial<BridgeState>, Record<string, string>]>([
    [
      'a playing host',
      {},
      { '#play-state': 'Playing', '#record-state': 'Not recording', '#tempo': '128.0 bpm', '#meter': '7/8', '#position': '1:05.250', '#bbt': '40.6.384' },
    ],
    [
      'a recording host stopped before the start',
      { transport: { ...PLAYING, playing: false, recording: true, bpm: 90.25, timeSigNum: 3, timeSigDen: 4, positionSecs: -0.5, positionFormatted: '0:-0.-500' } },
      { '#play-state': 'Stopped', '#record-state': 'Recording', '#tempo': '90.3 bpm', '#meter': '3/4', '#position': '0:-0.-500', '#bbt': '0.3.238' },
    ],
    [
      'a host without a tempo',
      { transport: { ...PLAYING, bpm: 0 } },
      { '#tempo': '\u2014 bpm', '#bbt': '\u2014', '#bbt-note': 'needs a tempo and time signature from the host' },
    ],
  ])('shows %s', (_, change, expected) => {
    view.update(state(change));
    expect(root.dataset.mode).toBe('live');
    expect(bannerShown()).toBe(false);
    for (const [selector, value] of Object.entries(expected)) expect(text(selector), selector).toBe(value);
  });

  it('says there is no host transport yet instead of showing the default values', () => {
    view.update(state({ transport: DISCONNECTED }));
    expect(root.dataset.mode).toBe('disconnected');
    expect(bannerShown()).toBe(true);
    expect(text('#banner')).toContain('No host transport yet');
    expect(text('#play-state')).toBe('Stopped');
    for (const selector of ['#position', '#bbt', '#meter']) expect(text(selector), selector).toBe('\u2014');
    expect(text('#tempo')).toBe('\u2014 bpm');
    expect(text('#diagnostics')).toContain('block 88');
  });

  it.each<[string, Partial<BridgeState>, string, string]>([
    [
      'the development server',
      { transport: null, nativeBridge: false, nativeCall: 'unavailable', paths: { event: idle, assignment: idle, nativeFunction: idle }, updateRateHz: null },
      'No native bridge',
      'no native bridge \u00b7 event idle \u00b7 assignment idle \u00b7 getTransport unavailable',
    ],
    [
      'the plug-in before its first reading',
      { transport: null, nativeCall: 'pending', paths: { event: idle, assignment: idle, nativeFunction: idle }, updateRateHz: null },
      'Waiting for the plug-in',
      'event idle \u00b7 assignment idle \u00b7 getTransport pending',
    ],
    [
      'readings that stopped coming',
      { paths: { event: idle, assignment: idle, nativeFunction: live(0) }, updateRateHz: null, fresh: false },
      'Transport updates paused',
      'event idle \u00b7 assignment idle \u00b7 getTransport answered \u00b7 block 123456',
    ],
  ])('explains %s', (_, change, banner, diagnostics) => {
    view.update(state(change));
    expect(bannerShown()).toBe(true);
    expect(text('#banner')).toContain(banner);
    expect(text('#diagnostics')).toBe(diagnostics);
  });

  it('says how getPlayhead went, and counts ignored extended readings with the others', () => {
    view.update(state({ playheadCall: 'answered', playheadRejected: 2 }));
    expect(text('#diagnostics')).toBe(
      'event 4.0/s \u00b7 assignment 4.0/s \u00b7 getTransport answered \u00b7 getPlayhead answered \u00b7 4.0 updates/s \u00b7 block 123456 \u00b7 2 malformed ignored',
    );
  });

  it('lists the live paths, their rates, the block count and ignored readings', () => {
    view.update(
      state({
        paths: { event: idle, assignment: { ...live(3.96), rejected: 2 }, nativeFunction: { ...idle, rejected: 1 } },
        nativeCall: 'failed',
        updateRateHz: 3.96,
      }),
    );
    expect(text('#diagnostics')).toBe(
      'event idle \u00b7 assignment 4.0/s \u00b7 getTransport failed \u00b7 4.0 updates/s \u00b7 block 123456 \u00b7 3 malformed ignored',
    );
  });

  it('leaves the disconnected state once the host connects', () => {
    view.update(state({ transport: DISCONNECTED }));
    view.update(state({}));
    expect(root.dataset.mode).toBe('live');
    expect(bannerShown()).toBe(false);
    expect(text('#position')).toBe('1:05.250');
  });
});

describe('the play head from the extended reading', () => {
  const withPlayhead = (change: Partial<Playhead>): Partial<BridgeState> => ({
    transport: { ...PLAYING, bpm: 96, timeSigNum: 4, timeSigDen: 4 },
    playhead: { ...IN_LOOP, ...change },
    playheadArrivedAt: 0,
  });

  it.each<[string, Partial<Playhead>, Record<string, string>]>([
    [
      'the reported case: bars counted from the signature, as the bar start is wrong',
      {},
      { '#bbt': '9.4.733', '#bbt-note': 'host position, bars counted from the time signature \u00b7 960 ticks per beat', '#loop-state': 'Loop 9.1 \u2013 11.1', '#position': '0:17.353' },
    ],
    ["the host's own bar start", { ppqLastBarStart: 32 }, { '#bbt': '9.4.733', '#bbt-note': 'from the host \u00b7 960 ticks per beat' }],
    [
      'no quarter notes: the estimate, and that it is one',
      { ppqPosition: null, positionSecs: 65.25, bpm: 128, timeSigNum: 7, timeSigDen: 8 },
      { '#bbt': '40.6.384', '#bbt-note': 'estimate assuming a constant tempo \u00b7 960 ticks per beat' },
    ],
    ['a 0/0 signature', { timeSigNum: 0, timeSigDen: 0 }, { '#bbt': '\u2014', '#bbt-note': 'needs a tempo and time signature from the host' }],
    ['a loop ending off the beat', { ppqLoopEnd: 39.5 }, { '#loop-state': 'Loop 9.1 \u2013 10.4.480' }],
    ['the loop off', { looping: false }, { '#loop-state': 'Loop off' }],
    ['an inverted loop', { ppqLoopStart: 40, ppqLoopEnd: 32 }, { '#loop-state': 'Loop on' }],
    ['no loop state from the host', { looping: null }, { '#loop-state': 'Loop \u2014' }],
    ['a position before the start', { positionSecs: -1.5, ppqPosition: -2.4 }, { '#position': '-0:01.500', '#bbt': '0.2.576' }],
  ])('shows %s', (_, change, expected) => {
    view.update(state(withPlayhead(change)));
    for (const [selector, value] of Object.entries(expected)) expect(text(selector), selector).toBe(value);
  });

  it('draws a cell per beat and fills the bar up to the play head', () => {
    view.update(state(withPlayhead({ timeSigNum: 7, timeSigDen: 8, ppqPosition: 1.75, ppqLastBarStart: 0 })));
    expect(root.querySelectorAll('#beat-grid .beats span')).toHaveLength(7);
    expect((root.querySelector('#playhead-fill') as HTMLElement).style.transform).toBe('scaleX(0.5000)');
  });

  it('leaves the position to the moving play head while it is shown, and takes it back after', () => {
    view.update(state(withPlayhead({})));
    view.showPlayhead({ position: '0:17.400', bbt: '9.4.808', bbtNote: 'moving', beatsPerBar: 4, barFraction: 0.95 });
    view.update(state(withPlayhead({ blockCount: 1024 })));
    expect(text('#bbt')).toBe('9.4.808');
    expect(text('#position')).toBe('0:17.400');
    view.showPlayhead(null);
    view.update(state(withPlayhead({})));
    expect(text('#bbt')).toBe('9.4.733');
  });
});
