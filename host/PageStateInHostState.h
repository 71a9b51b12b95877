#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat::host
{

// The page-state text inside a state block as this host's VST3 hosting saves
// it (the framework's XML with the plug-in component's bytes in base64; those
// bytes are Quillbeat's JSON followed by the framework's private trailer).
// Nothing when the block holds no such state, e.g. another plug-in's.
std::optional<juce::String> pageStateIn (const juce::MemoryBlock& hostState);

// The same block with its page-state text replaced and everything else (window
// size, the framework's trailer, the controller's part) kept; nothing when the
// block holds no Quillbeat state.
std::optional<juce::MemoryBlock> withPageState (const juce::MemoryBlock& hostState, const juce::String& pageState);

} // namespace quillbeat::host
