// An allocation-failure switch: the test binary replaces malloc, calloc and realloc so that a test can make
// chosen allocations of its own thread fail. Link the tav_alloc_failure objects into the test binary.
#pragma once

#include <cstddef>

namespace tav::test {

// Counts allocations made by the calling thread from now on; none fails.
void countAllocations();
// The calling thread's n-th allocation from now on (1-based) fails, the others succeed.
void failNthAllocation(std::size_t n);
// Every allocation of the calling thread fails from now on.
void failAllAllocations();
// Back to normal; counting stops.
void stopAllocationFailures();
// Allocations made (or refused) by the calling thread since the switch was last set.
std::size_t allocationCount();

// Scoped form: fails the n-th allocation of this thread (or all, for n = 0) while alive.
class AllocationFailure {
public:
    explicit AllocationFailure(std::size_t n) { n == 0 ? failAllAllocations() : failNthAllocation(n); }
    ~AllocationFailure() { stopAllocationFailures(); }
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
};

}  // namespace tav::test
