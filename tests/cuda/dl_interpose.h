// The test binary's own dlopen, dlsym, dlclose and dlerror, which the library's calls reach first: they record what
// the binding asks of the loader and can make one dlclose fail.
#pragma once

#include <string>
#include <vector>

namespace tav::test::dl {

struct Open {
    std::string file;
    int mode;
};

void reset();
// dlopen calls for names that begin with "libcuda".
std::vector<Open> cudaOpens();
// Symbols looked up with dlsym in a library handle (not the special handles).
std::vector<std::string> lookups();
int closeCount();
// The next dlclose closes the library but reports failure; dlerror then answers text once.
void failNextClose(const char* text);

}  // namespace tav::test::dl
