#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace quillbeat
{

// Hosts may report any double. What goes to the page must stay valid
// JavaScript and JSON and truncate to 32 bits without overflow, so a value
// that is not a number becomes 0, and infinities and values beyond the 32-bit
// range of whole numbers become the nearest end of that range. Every other
// value passes unchanged.
inline double toRenderableNumber (double value) noexcept
{
    constexpr auto lowest = (double) std::numeric_limits<std::int32_t>::min();
    constexpr auto highest = (double) std::numeric_limits<std::int32_t>::max();

    if (std::isnan (value))
        return 0.0;

    // Anything below highest + 1 still truncates to a value that fits.
    if (value >= highest + 1.0)
        return highest;

    if (value <= lowest - 1.0)
        return lowest;

    return value;
}

} // namespace quillbeat
