#include "alloc_failure.h"

#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
}

namespace {

enum class Mode { off, count, failNth, failAll };

// Plain thread-locals of the executable: reading them allocates nothing.
thread_local Mode mode = Mode::off;
thread_local std::size_t seen = 0;
thread_local std::size_t failAt = 0;

bool refuse()
{
    if (mode == Mode::off) {
        return false;
    }
    ++seen;
    if (mode == Mode::failAll || (mode == Mode::failNth && seen == failAt)) {
        errno = ENOMEM;
        return true;
    }
    return false;
}

void arm(Mode newMode, std::size_t n)
{
    seen = 0;
    failAt = n;
    mode = newMode;
}

}  // namespace

namespace tav::test {

void countAllocations() { arm(Mode::count, 0); }
void failNthAllocation(std::size_t n) { arm(Mode::failNth, n); }
void failAllAllocations() { arm(Mode::failAll, 0); }
void stopAllocationFailures() { mode = Mode::off; }
std::size_t allocationCount() { return seen; }

}  // namespace tav::test

extern "C" {

void* malloc(std::size_t size) { return refuse() ? nullptr : __libc_malloc(size); }

void* calloc(std::size_t count, std::size_t size) { return refuse() ? nullptr : __libc_calloc(count, size); }

void* realloc(void* pointer, std::size_t size) { return refuse() ? nullptr : __libc_realloc(pointer, size); }
}
