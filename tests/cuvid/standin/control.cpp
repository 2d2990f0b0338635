#include "control.h"

#include <utility>

namespace tav::test::cuvid {

namespace {

int status = 0;
std::vector<Call> recorded;
int loadCount = 0;
int unloadCount = 0;
void (*loadHook)() = nullptr;

}  // namespace

void reset()
{
    status = 0;
    recorded.clear();
}

void setStatus(int newStatus) { status = newStatus; }

std::vector<Call> calls() { return recorded; }

int loads() { return loadCount; }

int unloads() { return unloadCount; }

void setLoadHook(void (*hook)()) { loadHook = hook; }

int recordCall(const char* entryPoint, std::vector<std::uint64_t> arguments)
{
    recorded.push_back(Call{entryPoint, std::move(arguments)});
    return status;
}

void libraryLoaded()
{
    ++loadCount;
    if (loadHook != nullptr) {
        loadHook();
    }
}

void libraryUnloaded() { ++unloadCount; }

}  // namespace tav::test::cuvid
