// A module that a host program opens with dlopen: it links libTAVNvidia.so, so opening it opens the library.
#include "use_every_binding.h"

extern "C" __attribute__((visibility("default"))) bool tavExitPluginRun()
{
    return tav::test::exit::useEveryBinding();
}
