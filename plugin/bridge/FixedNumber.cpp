#include "FixedNumber.h"

#include <charconv>

namespace quillbeat
{

juce::String toFixed (double value, int decimals)
{
    // Room for the largest double written out in full with its decimals.
    char buffer[512];
    const auto result = std::to_chars (std::begin (buffer), std::end (buffer), value, std::chars_format::fixed, decimals);

    if (result.ec != std::errc {})
        return "0";

    return juce::String (buffer, (size_t) (result.ptr - buffer));
}

} // namespace quillbeat
