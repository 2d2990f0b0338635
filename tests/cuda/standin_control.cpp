#include "standin_control.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <string>

namespace tav::test::cuda {

const char* const entryNames[static_cast<int>(Entry::count)] = {
#define TAV_TEST_CUDA_ENTRY_NAME(symbol, missingLine, parameters) #symbol,
    TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_TEST_CUDA_ENTRY_NAME)
#undef TAV_TEST_CUDA_ENTRY_NAME
};

namespace {

constexpr std::size_t maxArguments = 6;
constexpr std::size_t maxCalls = 4096;

struct StoredCall {
    Entry entry;
    std::size_t argumentCount;
    std::array<std::uint64_t, maxArguments> arguments;
};

// Fixed storage: the stand-in records from the binding's calling thread, whose allocations tests count.
struct State {
    std::mutex mutex;
    std::array<int, static_cast<int>(Entry::count)> statuses{};
    std::array<StoredCall, maxCalls> calls{};
    std::size_t callCount = 0;
    TextMode textMode = TextMode::text;
    std::string text = "stand-in error text";
    std::atomic<int> initDelay{0};
    std::atomic<void (*)()> initHook{nullptr};
    std::atomic<int> opened{0};
    std::atomic<int> closed{0};
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
    s.statuses.fill(0);
    s.callCount = 0;
    s.textMode = TextMode::text;
    s.text = "stand-in error text";
    s.initDelay = 0;
    s.initHook = nullptr;
}

void setStatus(Entry entry, int status)
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.statuses[static_cast<int>(entry)] = status;
}

void setErrorText(TextMode mode, const char* text)
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.textMode = mode;
    s.text = text != nullptr ? text : "";
}

void setInitDelayMilliseconds(int milliseconds) { state().initDelay = milliseconds; }

void setInitHook(void (*hook)()) { state().initHook = hook; }

std::vector<Call> calls()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<Call> result;
    for (std::size_t i = 0; i < s.callCount; ++i) {
        const StoredCall& stored = s.calls[i];
        result.push_back({stored.entry, std::vector<std::uint64_t>(stored.arguments.begin(),
                                                                   stored.arguments.begin() + stored.argumentCount)});
    }
    return result;
}

std::vector<Call> calls(Entry entry)
{
    std::vector<Call> all = calls();
    all.erase(std::remove_if(all.begin(), all.end(), [entry](const Call& call) { return call.entry != entry; }),
              all.end());
    return all;
}

int openCount() { return state().opened; }
int closeCount() { return state().closed; }

int recordCall(Entry entry, std::initializer_list<std::uint64_t> arguments)
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (s.callCount < maxCalls) {
        StoredCall& stored = s.calls[s.callCount++];
        stored.entry = entry;
        stored.argumentCount = std::min(arguments.size(), maxArguments);
        std::copy_n(arguments.begin(), stored.argumentCount, stored.arguments.begin());
    }
    return s.statuses[static_cast<int>(entry)];
}

TextMode errorTextMode()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.textMode;
}

const char* errorText()
{
    State& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    return s.text.c_str();
}

int initDelayMilliseconds() { return state().initDelay; }
void (*initHook())() { return state().initHook; }
void noteOpened() { ++state().opened; }
void noteClosed() { ++state().closed; }

}  // namespace tav::test::cuda
