// What an analysis frame costs the page to take in, by how it is encoded.
//
// The plug-in hands events to the page as JSON text, which JUCE's library
// reads with JSON.parse before the client parses the value. For the frame our
// page asks for (stereo, 60 bands, 64 slices), the default settings' (256
// slices) and the largest (24 bands per octave per channel, 1024 slices), it
// prints the text's size and the time per frame to read it: as the JSON
// object the plug-in sends, with and without parseAnalysisFrame, and as a
// compact array of the same numbers (positional, no keys). Times are given as
// ratios to reading the object's text alone, measured in the same run. This
// is V8 in Node: the page's engine (WebKitGTK's JavaScriptCore, WebView2's V8)
// differs in the figures, less in the ratios. It prints figures; nothing
// passes or fails on them.
//
//   npm run bench:analysis

import { it } from 'vitest';
import { parseAnalysisFrame } from '@quillbeat/page-client';
import { analysisFrame } from '../page-client/test/analysisFrames';

interface Case {
  name: string;
  bands: number;
  rows: number;
  slices: number;
}

const CASES: Case[] = [
  { name: 'our page: 60 bands, 64 slices', bands: 60, rows: 1, slices: 64 },
  { name: 'defaults: 60 bands, 256 slices', bands: 60, rows: 1, slices: 256 },
  { name: 'largest: 240 bands x 2, 1024 slices', bands: 240, rows: 2, slices: 1024 },
];

/** A frame of music-like numbers at the plug-in's rounding: dB to 0.01, samples to 0.0001. */
function frameOf(c: Case): Record<string, unknown> {
  const frame = analysisFrame({ bands: c.bands, slices: c.slices, peakDb: [-7.31, -8.02] });
  let seed = 7;
  const noise = (): number => {
    seed = (seed * 16807) % 2147483647;
    return seed / 2147483647;
  };
  const db = (): number => Math.round((-20 - noise() * 70) * 100) / 100;
  const sample = (sign: number): number => Math.round(sign * noise() * 0.8 * 1e4) / 1e4;
  frame.spectrum = { fftSize: 2048, lowHz: 20, bandsPerOctave: c.bands > 60 ? 24 : 6, db: Array.from({ length: c.rows }, () => Array.from({ length: c.bands }, db)) };
  frame.waveform = {
    min: [0, 1].map(() => Array.from({ length: c.slices }, () => sample(-1))),
    max: [0, 1].map(() => Array.from({ length: c.slices }, () => sample(1))),
  };
  return frame;
}

/** The same numbers without keys, in the object's order. */
function compactOf(frame: Record<string, unknown>): unknown[] {
  const levels = frame.levels as { peakDb: number; rmsDb: number; clipped: boolean; nonFinite: number }[];
  const spectrum = frame.spectrum as { fftSize: number; lowHz: number; bandsPerOctave: number; db: number[][] };
  const waveform = frame.waveform as { min: number[][]; max: number[][] };
  return [
    frame.blockCount,
    frame.positionSamples,
    frame.ppqPosition,
    frame.captureTimeMs,
    frame.sentTimeMs,
    frame.sampleRate,
    frame.samples,
    frame.droppedSamples,
    frame.channels,
    levels.map((l) => [l.peakDb, l.rmsDb, l.clipped ? 1 : 0, l.nonFinite]),
    [spectrum.fftSize, spectrum.lowHz, spectrum.bandsPerOctave, spectrum.db],
    [waveform.min, waveform.max],
  ];
}

/** Microseconds per call of `fn`, the median of several timed rounds. */
function timePerCall(fn: () => unknown): number {
  const rounds: number[] = [];
  let calls = 200;
  // Warm up, and find a count that takes about 20 ms.
  for (;;) {
    const start = performance.now();
    for (let i = 0; i < calls; i++) fn();
    const ms = performance.now() - start;
    if (ms > 20) break;
    calls *= 2;
  }
  for (let r = 0; r < 9; r++) {
    const start = performance.now();
    for (let i = 0; i < calls; i++) fn();
    rounds.push(((performance.now() - start) * 1000) / calls);
  }
  rounds.sort((a, b) => a - b);
  return rounds[4] as number;
}

it('prints what a frame costs the page, by encoding', () => {
  const lines: string[] = [];
  for (const c of CASES) {
    const frame = frameOf(c);
    const objectText = JSON.stringify(frame);
    const compactText = JSON.stringify(compactOf(frame));
    if (parseAnalysisFrame(JSON.parse(objectText)) === null) throw new Error(`${c.name}: the bench's frame does not parse`);

    const floor = timePerCall(() => JSON.parse(objectText));
    const parsed = timePerCall(() => parseAnalysisFrame(JSON.parse(objectText)));
    const compact = timePerCall(() => JSON.parse(compactText));
    lines.push(
      `${c.name}`,
      `  JSON object:   ${objectText.length} bytes, read ${floor.toFixed(1)} us (1.00), read and parsed ${parsed.toFixed(1)} us (${(parsed / floor).toFixed(2)})`,
      `  compact array: ${compactText.length} bytes (${(compactText.length / objectText.length).toFixed(2)} of the object), read ${compact.toFixed(1)} us (${(compact / floor).toFixed(2)})`,
      `  at 30 frames a second, object read and parsed: ${((parsed * 30) / 1e4).toFixed(3)}% of one core`,
    );
  }
  console.log(lines.join('\n'));
});
