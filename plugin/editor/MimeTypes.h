#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// The content type for a request path, by its ending (case-sensitive, first
// match); "application/octet-stream" for anything unknown.
juce::String mimeTypeForPath (const juce::String& path);

} // namespace quillbeat
