#include "dl_interpose.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace tav::test::dl {
namespace {

using OpenFunction = void* (*)(const char*, int);
using SymbolFunction = void* (*)(void*, const char*);
using CloseFunction = int (*)(void*);
using ErrorFunction = char* (*)();

// The loader's own functions, found by version so that looking them up does not come back here.
template <class Function>
Function real(const char* name)
{
    for (const char* version : {"GLIBC_2.34", "GLIBC_2.2.5"}) {
        if (void* found = dlvsym(RTLD_NEXT, name, version)) {
            return reinterpret_cast<Function>(found);
        }
    }
    return nullptr;
}

// All four are looked up together on first use: a lookup resets the loader's error state, so doing it lazily in
// dlerror would lose the very text being asked for.
struct Real {
    OpenFunction open = real<OpenFunction>("dlopen");
    SymbolFunction lookup = real<SymbolFunction>("dlsym");
    CloseFunction close = real<CloseFunction>("dlclose");
    ErrorFunction error = real<ErrorFunction>("dlerror");
};

const Real& loader()
{
    static const Real functions;
    return functions;
}

struct State {
    std::mutex mutex;
    std::vector<Open> opens;
    std::vector<std::string> lookups;
    int closes = 0;
    std::atomic<const char*> pendingError{nullptr};
    std::atomic<const char*> closeFailure{nullptr};
};

State& state()
{
    static State s;
    return s;
}

}  // namespace

void reset()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.opens.clear();
    s.lookups.clear();
    s.closes = 0;
    s.pendingError = nullptr;
    s.closeFailure = nullptr;
}

std::vector<Open> cudaOpens()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.opens;
}

std::vector<std::string> lookups()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.lookups;
}

int closeCount()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.closes;
}

void failNextClose(const char* text) { state().closeFailure = text; }

}  // namespace tav::test::dl

using tav::test::dl::loader;
using tav::test::dl::state;
using SymbolFunction = void* (*)(void*, const char*);

namespace {

__attribute__((noinline)) void* recordedLookup(void* handle, const char* symbol)
{
    {
        const std::lock_guard<std::mutex> lock(state().mutex);
        state().lookups.emplace_back(symbol);
    }
    return loader().lookup(handle, symbol);
}

}  // namespace

extern "C" {

void* dlopen(const char* file, int mode)
{
    if (file != nullptr && std::strncmp(file, "libcuda", 7) == 0) {
        const std::lock_guard<std::mutex> lock(state().mutex);
        state().opens.push_back({file, mode});
    }
    return loader().open(file, mode);
}

// Lookups in the special handles go straight on by a tail call that touches no memory of this program: the loader
// then sees the original caller, which RTLD_NEXT is relative to. Sanitizer runtimes look up the functions they
// intercept this way while they start, before any of this program's code may run; GCC's runtime is a shared
// library, and a lookup that came back relative to this program would find its own interceptors and loop in them.
// So the call must be a jump in a -O0 build too, which GCC makes when this one function is optimised. (Clang links
// its runtime into this program, which RTLD_NEXT skips either way.)
#ifdef __clang__
#define TAV_TEST_TAIL_CALLER
#else
#define TAV_TEST_TAIL_CALLER __attribute__((optimize("O2")))
#endif
__attribute__((no_sanitize("address", "undefined", "thread"))) TAV_TEST_TAIL_CALLER void* dlsym(void* handle,
                                                                                                const char* symbol)
{
    if (handle == RTLD_NEXT || handle == RTLD_DEFAULT) {
        return reinterpret_cast<SymbolFunction>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"))(handle, symbol);
    }
    return recordedLookup(handle, symbol);
}

int dlclose(void* handle)
{
    {
        const std::lock_guard<std::mutex> lock(state().mutex);
        ++state().closes;
    }
    const int result = loader().close(handle);
    if (const char* failure = state().closeFailure.exchange(nullptr)) {
        state().pendingError = failure;
        return -1;
    }
    return result;
}

char* dlerror()
{
    if (const char* pending = state().pendingError.exchange(nullptr)) {
        return const_cast<char*>(pending);
    }
    return loader().error();
}
}
