#include "WaveformSlices.h"

#include <algorithm>
#include <cmath>

namespace quillbeat
{

void measureWaveform (const float* samples, std::int64_t count, int slices, float* lowest, float* highest) noexcept
{
    for (int k = 0; k < slices; ++k)
    {
        if (count <= 0)
        {
            lowest[k] = highest[k] = 0.0f;
            continue;
        }

        const auto begin = (std::int64_t) k * count / slices;
        const auto end = std::max ((std::int64_t) (k + 1) * count / slices, begin + 1);
        auto low = 0.0f, high = 0.0f;
        auto any = false;

        for (auto i = begin; i < end; ++i)
        {
            const auto s = samples[i];

            if (! std::isfinite (s))
                continue;

            low = any ? std::min (low, s) : s;
            high = any ? std::max (high, s) : s;
            any = true;
        }

        lowest[k] = low;
        highest[k] = high;
    }
}

} // namespace quillbeat
