#pragma once

#include <cstddef>
#include <ostream>

// What a watched thread did that an audio thread must never do.
struct RealtimeViolations
{
    std::size_t allocations = 0;   // malloc and its relatives, so operator new too
    std::size_t deallocations = 0; // free of a non-null pointer
    std::size_t locks = 0;         // mutexes, read-write locks, spin locks; try-locks count too
    std::size_t blockingCalls = 0; // condition and semaphore waits, sleeps, yields, reads, writes, polls, joins
    const char* firstCall = nullptr; // the first offending function, to say what went wrong

    bool any() const noexcept { return allocations + deallocations + locks + blockingCalls != 0; }
};

std::ostream& operator<< (std::ostream&, const RealtimeViolations&);

// While one is open, each call the current thread makes to an interposed
// function is counted into `into`. Other threads, and this thread outside the
// scope, go uncounted, so the harness around the watched code can allocate
// and lock freely. The interposers live in this test program, and replace the
// C library's functions for the whole process: they forward to the real ones.
class ScopedRealtimeWatch
{
public:
    explicit ScopedRealtimeWatch (RealtimeViolations& into) noexcept;
    ~ScopedRealtimeWatch();

    ScopedRealtimeWatch (const ScopedRealtimeWatch&) = delete;
    ScopedRealtimeWatch& operator= (const ScopedRealtimeWatch&) = delete;

private:
    RealtimeViolations* previous;
};
