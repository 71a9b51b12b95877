#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// The answer of a native function that changes something for the page:
// { "ok": true }, or { "ok": false, "error": reason } when it changed nothing.
juce::var okOrError (const juce::String& error);

// What kind of value a page sent, for refusals ("a number", "an array", ...).
juce::String describeValueType (const juce::var& value);

} // namespace quillbeat
