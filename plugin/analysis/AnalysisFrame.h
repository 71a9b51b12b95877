#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quillbeat
{

// Figures for one channel over one frame, in dB relative to full scale.
struct ChannelLevels
{
    double peakDb = -120.0;
    double rmsDb = -120.0;    // a full-scale sine reads -3.01
    bool clipped = false;     // some finite sample had a magnitude of 1 or more
    std::int64_t nonFinite = 0;   // NaN and infinite samples, left out of every figure
};

// What the audio since the previous frame looked like, stamped with the
// newest block it covers the way the play head reading of that block is.
struct AnalysisFrame
{
    static constexpr double floorDb = -120.0;   // silence, never -inf

    // The newest block's stamps.
    std::int32_t blockCount = 0;
    std::optional<std::int64_t> positionSamples;   // the play head's, at that block's start
    std::optional<double> ppqPosition;
    std::int64_t captureTimeNs = 0;                // monotonicNanoseconds() at that block's capture
    double sampleRate = 0.0;

    std::int64_t samples = 0;          // per channel, analysed since the previous frame
    std::int64_t droppedSamples = 0;   // per channel, overwritten before they were read, since the analysis started
    int channels = 0;                  // 1 or 2

    std::vector<ChannelLevels> levels;  // one per channel; empty when not asked

    // Band i covers [lowHz * 2^(i / bandsPerOctave), lowHz * 2^((i + 1) / bandsPerOctave)),
    // up to the lower of 20 kHz and Nyquist. Empty rows when not asked.
    double lowHz = 20.0;
    int bandsPerOctave = 0;
    int fftSize = 0;
    std::vector<std::vector<float>> bandDb;   // one row for the channels' mean, or one per channel

    // Per channel, the lowest and highest sample of each slice; empty when not asked.
    std::vector<std::vector<float>> waveformMin, waveformMax;

    bool hasSpectrum() const noexcept { return ! bandDb.empty(); }
    bool hasWaveform() const noexcept { return ! waveformMin.empty(); }
};

} // namespace quillbeat
