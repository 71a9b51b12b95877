#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <optional>

class QuillbeatProcessor;

namespace quillbeat
{

// Answers the page's requests under the browser's resource-provider root:
// any path containing "transport.js" or "api/transport" gets the current
// transport as a script; the start page, while no page is installed, is the
// plug-in's own page saying what to do; anything else is a file from the web
// root, or nothing (the page sees the request fail). Message thread.
std::optional<juce::WebBrowserComponent::Resource> serveResource (const juce::File& webRoot,
                                                                  const QuillbeatProcessor& processor,
                                                                  const juce::String& path);

} // namespace quillbeat
