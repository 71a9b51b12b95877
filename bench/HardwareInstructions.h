#pragma once

// The CPU's own count of instructions retired in user space by this thread,
// through perf_event_open. Virtual machines often hide the counters; then
// available() is false and callgrind's counts stand alone.

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace bench
{

class HardwareInstructions
{
public:
    HardwareInstructions()
    {
        perf_event_attr attributes {};
        attributes.type = PERF_TYPE_HARDWARE;
        attributes.size = sizeof (attributes);
        attributes.config = PERF_COUNT_HW_INSTRUCTIONS;
        attributes.disabled = 1;
        attributes.exclude_kernel = 1;
        attributes.exclude_hv = 1;
        descriptor = (int) syscall (SYS_perf_event_open, &attributes, 0, -1, -1, 0);
    }

    ~HardwareInstructions()
    {
        if (descriptor >= 0)
            close (descriptor);
    }

    HardwareInstructions (const HardwareInstructions&) = delete;
    HardwareInstructions& operator= (const HardwareInstructions&) = delete;

    bool available() const noexcept { return descriptor >= 0; }

    void start() const noexcept
    {
        ioctl (descriptor, PERF_EVENT_IOC_RESET, 0);
        ioctl (descriptor, PERF_EVENT_IOC_ENABLE, 0);
    }

    std::uint64_t stop() const noexcept
    {
        ioctl (descriptor, PERF_EVENT_IOC_DISABLE, 0);
        std::uint64_t count = 0;
        return read (descriptor, &count, sizeof (count)) == (ssize_t) sizeof (count) ? count : 0;
    }

private:
    int descriptor = -1;
};

} // namespace bench
