// LeakSanitizer names the frames of a leak after the libraries mapped when it reports, at exit. libcuda leaks a few
// hundred bytes in every failing cuInit, and the binding closes it right afterwards; opened again just before the
// report, the loader maps it where it was, so that lsan.supp can name the library. Handlers registered at exit run
// in reverse order, and the sanitizer registers its own before any constructor of the program runs.
#include <dlfcn.h>

#include <cstdlib>

namespace {

const bool registered = [] {
    return std::atexit([] { static_cast<void>(dlopen("libcuda.so.1", RTLD_LAZY)); }) == 0;
}();

}  // namespace
