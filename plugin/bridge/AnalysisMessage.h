#pragma once

#include <analysis/AnalysisFrame.h>

#include <juce_core/juce_core.h>

#include <cstdint>

namespace quillbeat
{

// One analysis frame as an object for the page ("analysisFrame"). Every key is
// present, in a fixed order; what was not asked for is null, as is a position
// the host did not supply. Levels and bands are dBFS to 0.01 dB, never below
// the floor; waveform values are to 0.0001. The times are milliseconds on the
// playhead reading's clock; `sentTimeNs` is the moment the object is made.
juce::var buildAnalysisFrameObject (const AnalysisFrame& frame, std::int64_t sentTimeNs);

} // namespace quillbeat
