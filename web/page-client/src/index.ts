// The typed client for a page shown in Quillbeat's editor: the host's
// transport and play head as the plug-in sends them, the musical position
// worked out from them and moved on smoothly between readings, the page's
// own state kept in the host's project, and the sound passing through the
// plug-in: levels, spectrum and waveform, placed in the music.

export * from './bridge.js';
export * from './playhead.js';
export * from './musicalTime.js';
export * from './musicalPosition.js';
export * from './clockOffset.js';
export * from './playheadPredictor.js';
export * from './pageState.js';
export * from './smoothPlayhead.js';
export * from './analysis.js';
export * from './analysisClient.js';
export * from './meterBallistics.js';
export * from './spectrumSmoother.js';
export * from './frameMusicalPosition.js';
