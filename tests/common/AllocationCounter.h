#pragma once

#include <cstddef>

// Counts heap allocations made by the current thread while a ScopedAllocationCount is alive.
// The replaced global operator new lives in AllocationCounter.cpp.
class ScopedAllocationCount
{
public:
    ScopedAllocationCount();
    ~ScopedAllocationCount();
    std::size_t count() const;

    ScopedAllocationCount (const ScopedAllocationCount&) = delete;
    ScopedAllocationCount& operator= (const ScopedAllocationCount&) = delete;
};

// Makes every heap allocation of the current thread fail while alive: operator new throws
// std::bad_alloc and the nothrow forms return nullptr.
class ScopedAllocationFailure
{
public:
    ScopedAllocationFailure();
    ~ScopedAllocationFailure();

    ScopedAllocationFailure (const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator= (const ScopedAllocationFailure&) = delete;
};
