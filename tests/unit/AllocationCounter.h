#pragma once

#include <cstddef>

// Counts heap allocations made by the current thread while a scope is open.
// The test binary replaces the global allocation functions to do the counting.
class ScopedAllocationCounter
{
public:
    ScopedAllocationCounter();
    ~ScopedAllocationCounter();

    std::size_t count() const;

    ScopedAllocationCounter (const ScopedAllocationCounter&) = delete;
    ScopedAllocationCounter& operator= (const ScopedAllocationCounter&) = delete;
};
