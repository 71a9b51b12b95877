#pragma once

#include "AnalysisFrame.h"

namespace quillbeat
{

// dB relative to full scale of a magnitude (or of a power, for powerToDb),
// never below the frame floor.
double amplitudeToDb (double amplitude) noexcept;
double powerToDb (double power) noexcept;

// Peak, RMS, clipping and non-finite count of `count` samples.
ChannelLevels measureLevels (const float* samples, std::int64_t count) noexcept;

} // namespace quillbeat
