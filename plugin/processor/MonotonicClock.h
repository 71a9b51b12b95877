#pragma once

#include <chrono>
#include <cstdint>

namespace quillbeat
{

// Nanoseconds on the system's monotonic clock (CLOCK_MONOTONIC on Linux, read
// in user space through the vDSO; QueryPerformanceCounter on Windows). The
// audio thread stamps its captures with it and the message thread its
// messages, so a page can tell how old a reading is.
inline std::int64_t monotonicNanoseconds() noexcept
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace quillbeat
