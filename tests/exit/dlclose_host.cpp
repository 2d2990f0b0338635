// A host that opens libTAVNvidia.so at run time (through a module linked against it), uses every binding, closes it
// again and exits. With the argument failing-close, every dlclose from then on reports failure, the CUDA binding's
// unload included.
#include "failing_dlclose.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <module> [failing-close]\n", argv[0]);
        return 2;
    }
    void* const module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return EXIT_FAILURE;
    }
    const auto run = reinterpret_cast<bool (*)()>(dlsym(module, "tavExitPluginRun"));
    const bool ok = run != nullptr && run();
    if (argc > 2 && std::strcmp(argv[2], "failing-close") == 0) {
        tav::test::exit::failEveryDlclose();
    }
    dlclose(module);
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
