#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace quillbeat::host
{

// Writes what a top-level window shows on the X display, the plug-in's
// embedded web view included, as a PNG. False if it could not.
bool writeWindowScreenshot (juce::Component& window, const juce::File& pngFile);

} // namespace quillbeat::host
