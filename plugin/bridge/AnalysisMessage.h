#pragma once

#include <analysis/AnalysisFrame.h>

#include <juce_core/juce_core.h>

#include <cstdint>

namespace quillbeat
{

// One analysis frame as the JSON text of the page's "analysisFrame" object.
// Every key is present, in a fixed order; what was not asked for is null, as
// is a position the host did not supply. Levels and bands are dBFS to 0.01 dB,
// never below the floor; waveform values are to 0.0001. The times are
// milliseconds on the playhead reading's clock; `sentTimeNs` is the moment the
// text is made. Every number is the shortest text that reads back as the same
// double, and nothing is -0, NaN or infinite.
//
// Written directly rather than through the framework's JSON writer, which
// spells each double out to 15 to 20 decimals: a frame of a thousand numbers
// cost it about 0.7 ms of the message thread, and this a tenth of that.
juce::String renderAnalysisFrame (const AnalysisFrame& frame, std::int64_t sentTimeNs);

// The script that hands that text to the page's listeners, as the framework
// sends an event ("window.__JUCE__.backend.emitByBackend", which the
// framework's own start-up script defines on every platform).
juce::String analysisFrameEventScript (const juce::String& frameJson);

} // namespace quillbeat
