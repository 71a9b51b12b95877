#pragma once

#include <cstdint>

namespace quillbeat
{

// The lowest and highest finite sample in each of `slices` equal runs of
// `count` samples. With fewer samples than slices, each slice holds the one
// sample under it, so samples repeat; a slice with no finite sample reads 0.
void measureWaveform (const float* samples, std::int64_t count, int slices, float* lowest, float* highest) noexcept;

} // namespace quillbeat
