#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// The content type for a request path, by its ending (case-sensitive, first
// match); "application/octet-stream" for anything unknown. Text types carry
// "; charset=utf-8": WebKitGTK reads a provider's text/html without a charset
// as windows-1252 whatever the page's <meta charset> says, and its style
// sheets and scripts inherit that.
juce::String contentTypeForPath (const juce::String& path);

// The type for our own text answers (the page shown while none is installed).
inline const char* const htmlContentType = "text/html; charset=utf-8";

} // namespace quillbeat
