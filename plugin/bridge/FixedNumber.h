#pragma once

#include <juce_core/juce_core.h>

namespace quillbeat
{

// A number in fixed notation with exactly `decimals` places, rounded to
// nearest, "." as the decimal point and no grouping, whatever locale the host
// has installed (the framework's own number formatting follows the process's
// global C++ locale, which a host may set to "1.234,5").
juce::String toFixed (double value, int decimals);

} // namespace quillbeat
