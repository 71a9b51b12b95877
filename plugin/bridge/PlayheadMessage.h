#pragma once

#include <processor/TransportSnapshot.h>

#include <juce_core/juce_core.h>

#include <cstdint>

namespace quillbeat
{

// The names the extended reading travels on, beside today's transport messages.
inline constexpr const char* playheadEventName = "playheadUpdate";
inline constexpr const char* playheadFunctionName = "getPlayhead";

// One playhead reading as an object for the page. Every key is present, in a
// fixed order; what the host did not supply for the newest block is null.
// `sentTimeNs` is the moment the object is made, on the same monotonic clock
// as the capture, so the page can tell how old the reading is.
juce::var buildPlayheadObject (const PlayheadReading& reading, std::int64_t sentTimeNs);

} // namespace quillbeat
