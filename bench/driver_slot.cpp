#include "driver_slot.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tav::bench {

namespace {

constexpr const char slotDirectory[] = TAV_BENCH_SLOT_DIR;
constexpr const char standinDirectory[] = TAV_BENCH_STANDIN_DIR;

std::string inSlot(const char* name) { return std::string(slotDirectory) + "/" + name; }

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

}  // namespace

void searchSlotOnly(char** argv)
{
    const char* current = std::getenv("LD_LIBRARY_PATH");
    if (current != nullptr && std::strcmp(current, slotDirectory) == 0) {
        return;
    }
    setenv("LD_LIBRARY_PATH", slotDirectory, 1);
    execv("/proc/self/exe", argv);
    fail(std::string("cannot run the benchmarks again with their library search path: ") + std::strerror(errno));
}

void offerDrivers()
{
    for (const char* name : driverNames) {
        const std::string link = inSlot(name);
        const std::string target = std::string(standinDirectory) + "/" + name;
        if (symlink(target.c_str(), link.c_str()) != 0 && errno != EEXIST) {
            fail("cannot link " + link + ": " + std::strerror(errno));
        }
    }
}

void withdrawDrivers()
{
    for (const char* name : driverNames) {
        const std::string link = inSlot(name);
        if (unlink(link.c_str()) != 0 && errno != ENOENT) {
            fail("cannot remove " + link + ": " + std::strerror(errno));
        }
    }
}

void* resolve(const char* library, const char* symbol)
{
    offerDrivers();
    void* const handle = dlopen(library, RTLD_NOW);
    if (handle == nullptr) {
        fail(dlerror());
    }
    void* const entry = dlsym(handle, symbol);
    if (entry == nullptr) {
        fail(dlerror());
    }
    return entry;
}

}  // namespace tav::bench
