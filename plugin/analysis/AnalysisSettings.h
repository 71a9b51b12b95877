#pragma once

namespace quillbeat
{

// What a page asked to see of the audio, and how often.
struct AnalysisSettings
{
    bool levels = true, spectrum = true, waveform = true;
    int framesPerSecond = 30;        // 15..60
    int fftSize = 2048;              // 1024, 2048 or 4096
    int bandsPerOctave = 6;          // 1, 2, 3, 6, 12 or 24
    bool spectrumPerChannel = false; // one row per channel, or one for the channels' mean
    int waveformSlices = 256;        // 1..1024

    static constexpr int minFramesPerSecond = 15, maxFramesPerSecond = 60;
    static constexpr int minFftSize = 1024, maxFftSize = 4096;
    static constexpr int maxWaveformSlices = 1024;

    bool operator== (const AnalysisSettings&) const = default;
};

} // namespace quillbeat
