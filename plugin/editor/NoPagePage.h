#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// The page the plug-in serves itself while no page is installed and no
// development server answers: it says where a built page goes on this
// machine and that the window follows a development server by itself.
juce::String noPagePageHtml (const juce::File& webRoot);

} // namespace quillbeat
