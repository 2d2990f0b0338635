#include "alloc_failure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

// The allocator underneath: the sanitizer's when one is linked in (its memory must be freed by it), else glibc's.
// GCC announces the sanitizers by macros, clang by features.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAV_SANITIZED_ALLOCATOR
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(TAV_SANITIZED_ALLOCATOR)
#define TAV_UNDERLYING(name) __interceptor_##name
#else
#define TAV_UNDERLYING(name) __libc_##name
#endif

extern "C" {
void* TAV_UNDERLYING(malloc)(std::size_t size);
void* TAV_UNDERLYING(calloc)(std::size_t count, std::size_t size);
void* TAV_UNDERLYING(realloc)(void* pointer, std::size_t size);
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

void* malloc(std::size_t size) { return refuse() ? nullptr : TAV_UNDERLYING(malloc)(size); }

void* calloc(std::size_t count, std::size_t size) { return refuse() ? nullptr : TAV_UNDERLYING(calloc)(count, size); }

void* realloc(void* pointer, std::size_t size) { return refuse() ? nullptr : TAV_UNDERLYING(realloc)(pointer, size); }
}

// Sanitizer runtimes allocate for strdup and operator new without going through malloc; route both through the
// switch above so that it works the same in every build.
extern "C" char* strdup(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

void* operator new(std::size_t size)
{
    if (void* pointer = malloc(size != 0 ? size : 1)) {
        return pointer;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return malloc(size != 0 ? size : 1); }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return malloc(size != 0 ? size : 1); }

void operator delete(void* pointer) noexcept { free(pointer); }

void operator delete[](void* pointer) noexcept { free(pointer); }

void operator delete(void* pointer, std::size_t) noexcept { free(pointer); }

void operator delete[](void* pointer, std::size_t) noexcept { free(pointer); }
