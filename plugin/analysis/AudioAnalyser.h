#pragma once

#include "AnalysisFrame.h"
#include "AnalysisSettings.h"
#include "BandSpectrum.h"

#include <processor/AudioTap.h>

#include <memory>
#include <optional>
#include <vector>

namespace quillbeat
{

// Turns what the audio tap holds into frames for a page: the tap's one
// reader, on the message thread. Each frame covers exactly the samples
// written since the previous one; samples the ring overwrote before they
// were read are counted, not analysed. A new generation of the tap (the
// analysis started again, or a new stream format) starts it afresh.
class AudioAnalyser
{
public:
    explicit AudioAnalyser (AudioTap& tapToRead);

    // Settings out of range are brought into it. Allocates what the frames need.
    void setSettings (const AnalysisSettings& newSettings);
    const AnalysisSettings& getSettings() const noexcept { return settings; }

    // The next frame, or nothing when no block has arrived since the last one.
    std::optional<AnalysisFrame> nextFrame();

    // The same, into a frame whose storage is reused: once its vectors have
    // the sizes the settings ask for, this allocates nothing.
    bool nextFrame (AnalysisFrame& frame);

private:
    void restartFrom (const AudioTap::Stamp& stamp);

    AudioTap& tap;
    AnalysisSettings settings;

    // Where the next frame starts, which generation that belongs to, and
    // what has been lost since that generation began.
    std::optional<std::uint32_t> generation;
    std::uint64_t nextIndex = 0;
    std::int64_t dropped = 0;

    std::vector<float> scratch[AudioTap::maxChannels], fftInput;
    std::unique_ptr<BandSpectrum> spectrum;   // for the sample rate it was built for
    double spectrumSampleRate = 0.0;
};

} // namespace quillbeat
