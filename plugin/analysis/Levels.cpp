#include "Levels.h"

#include <algorithm>
#include <cmath>

namespace quillbeat
{

double powerToDb (double power) noexcept
{
    // 1e-12 is the floor's power; below it (zero included) the floor.
    return power > 1.0e-12 ? 10.0 * std::log10 (power) : AnalysisFrame::floorDb;
}

double amplitudeToDb (double amplitude) noexcept
{
    return powerToDb (amplitude * amplitude);
}

ChannelLevels measureLevels (const float* samples, std::int64_t count) noexcept
{
    ChannelLevels levels;
    double peak = 0.0, sumOfSquares = 0.0;
    std::int64_t finite = 0;

    for (std::int64_t i = 0; i < count; ++i)
    {
        const auto s = (double) samples[i];

        if (! std::isfinite (s))
        {
            ++levels.nonFinite;
            continue;
        }

        const auto magnitude = std::abs (s);
        peak = std::max (peak, magnitude);
        sumOfSquares += s * s;
        ++finite;
    }

    levels.peakDb = amplitudeToDb (peak);
    levels.rmsDb = finite > 0 ? powerToDb (sumOfSquares / (double) finite) : AnalysisFrame::floorDb;
    levels.clipped = peak >= 1.0;
    return levels;
}

} // namespace quillbeat
