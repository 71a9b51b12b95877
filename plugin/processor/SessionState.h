#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat
{

// What the host's project keeps for one instance: the editor's window size and
// the page-state text. Stored as UTF-8 JSON.
struct SessionState
{
    static constexpr int minWidth = 600, maxWidth = 1920;
    static constexpr int minHeight = 400, maxHeight = 1080;
    static constexpr int formatVersion = 1;

    int windowWidth = 900;
    int windowHeight = 640;
    juce::String webState;
};

// The JSON text of a state, in the framework's default JSON layout.
juce::String encodeSessionState (const SessionState& state);

// Reads a saved block. Anything that is not a UTF-8 JSON object gives nothing;
// missing or odd members convert leniently and the size comes back clamped.
std::optional<SessionState> decodeSessionState (const void* data, int sizeInBytes);

// Strict UTF-8: every sequence complete, in its shortest form, and naming a
// Unicode scalar value (so no encoded surrogates).
bool isWellFormedUtf8 (const void* data, size_t size);

// A JSON member as a whole number the way the framework's variants convert it
// (numbers truncate toward zero, text gives its leading integer, booleans 0 or
// 1, anything else 0), saturated to [lowest, highest] instead of overflowing.
int toClampedInt (const juce::var& value, int lowest, int highest);

} // namespace quillbeat
