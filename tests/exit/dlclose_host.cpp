// A host that opens libTAVNvidia.so at run time (through a module linked against it), uses every binding, closes it
// again and exits. With the argument failing-close, every dlclose from then on reports failure, the CUDA binding's
// unload included; with unused, the host closes the module (the library itself, say) without calling it, before
// anything could have pinned it. The library must stay mapped after the close, whichever compiler built it.
#include "failing_dlclose.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <module> [failing-close|unused]\n", argv[0]);
        return 2;
    }
    void* const module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return EXIT_FAILURE;
    }
    const char* const mode = argc > 2 ? argv[2] : "";
    const auto run = reinterpret_cast<bool (*)()>(dlsym(module, "tavExitPluginRun"));
    const bool ok = std::strcmp(mode, "unused") == 0 || (run != nullptr && run());
    if (std::strcmp(mode, "failing-close") == 0) {
        tav::test::exit::failEveryDlclose();
    }
    dlclose(module);
    if (!ok) {
        return EXIT_FAILURE;
    }
    // RTLD_NOLOAD finds the library only while it is mapped; the reference it takes is given back at once.
    void* const library = dlopen(TAV_NVIDIA_SONAME, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        std::fprintf(stderr, "%s was unmapped by the module's dlclose\n", TAV_NVIDIA_SONAME);
        return EXIT_FAILURE;
    }
    dlclose(library);
    return EXIT_SUCCESS;
}
