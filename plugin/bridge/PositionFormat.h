#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// A play position as minutes:seconds.milliseconds, e.g. 65.25 -> "1:05.250".
// Each part truncates toward zero and keeps the sign (-1.5 -> "0:-1.-500");
// there is no hour field (3725.5 -> "62:05.500").
juce::String formatPosition (double seconds);

} // namespace quillbeat
