import { beforeEach, describe, expect, it } from 'vitest';
import type { BridgeState, PathStatus, Transport } from '../../src/bridge';
import { mountTransportView, type TransportView } from '../../src/view';
import { DISCONNECTED_TRANSPORT, PLAYING_128_IN_7_8 } from '../fakeJuce';

const PLAYING: Transport = { ...PLAYING_128_IN_7_8, debugBlockCount: 123456, debugInfo: 'Event' };

const DISCONNECTED: Transport = { ...DISCONNECTED_TRANSPORT, debugBlockCount: 88 };

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
