#include "failing_dlclose.h"

#include <dlfcn.h>

#include <atomic>
#include <initializer_list>

namespace tav::test::exit {
namespace {

std::atomic<bool> failing{false};

using CloseFunction = int (*)(void*);

// The loader's own dlclose, found by version so that the lookup does not come back here.
CloseFunction realClose()
{
    for (const char* version : {"GLIBC_2.34", "GLIBC_2.2.5"}) {
        if (void* found = dlvsym(RTLD_NEXT, "dlclose", version)) {
            return reinterpret_cast<CloseFunction>(found);
        }
    }
    return nullptr;
}

}  // namespace

void failEveryDlclose() { failing = true; }

}  // namespace tav::test::exit

extern "C" int dlclose(void* handle)
{
    static const auto close = tav::test::exit::realClose();
    const int closed = close(handle);
    if (!tav::test::exit::failing || closed != 0) {
        return closed;
    }
    // A failed lookup leaves the loader's error text that dlerror reports next.
    static_cast<void>(dlsym(RTLD_DEFAULT, "tav_test_exit_no_such_symbol"));
    return -1;
}
