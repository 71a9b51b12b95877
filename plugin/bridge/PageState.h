#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace quillbeat
{

// The names the page keeps its own state on, beside today's messages.
inline constexpr const char* getPageStateFunctionName = "getPageState";
inline constexpr const char* setPageStateFunctionName = "setPageState";
inline constexpr const char* pageStateLoadedEventName = "pageStateLoaded";

// The most a page may store, in UTF-8 bytes: far above what a page keeps,
// low enough that a runaway page cannot bloat the host's project file.
inline constexpr size_t maxPageStateBytes = 1024 * 1024;

// Why these bytes cannot be the page state, or nothing when they can: at
// most maxPageStateBytes, well-formed UTF-8, and no NUL (the saved state
// could not carry one).
std::optional<juce::String> pageStateRefusal (const void* utf8, size_t numBytes);

// What a "setPageState" call asks for: the text to store, or why not.
struct PageStateRequest
{
    std::optional<juce::String> text;
    juce::String error;
};

// Reads the native function's arguments. The first one is the text; a value
// that is not a string is refused rather than converted.
PageStateRequest readPageStateRequest (const juce::Array<juce::var>& arguments);

// The answer to "setPageState": { "ok": true }, or { "ok": false, "error": reason }.
juce::var pageStateSetResult (const juce::String& error);

} // namespace quillbeat
