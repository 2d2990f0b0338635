// Drives the stand-in CUDA driver and records what reaches it. Lives in a library of its own, linked by the test
// binary and by the stand-in, so that its state survives the stand-in being closed and opened again.
#pragma once

#include <tav/nvidia/cudaentrypoints>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

namespace tav::test::cuda {

enum class Entry : int {
#define TAV_TEST_CUDA_ENTRY(symbol, missingLine, parameters) symbol,
    TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_TEST_CUDA_ENTRY)
#undef TAV_TEST_CUDA_ENTRY
        count
};

// The entry points in the binding's order of resolution, by name.
extern const char* const entryNames[static_cast<int>(Entry::count)];

struct Call {
    Entry entry;
    std::vector<std::uint64_t> arguments;
};

// How the stand-in's cuGetErrorString answers.
enum class TextMode { text, null, untouched };

// An argument as the stand-in records it: pointers by address, numbers and enumerations by value.
template <class T>
std::uint64_t bits(T value)
{
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else {
        return static_cast<std::uint64_t>(value);
    }
}

// Every entry point returns 0, cuGetErrorString gives "stand-in error text", no calls are recorded.
void reset();
void setStatus(Entry entry, int status);
void setErrorText(TextMode mode, const char* text = nullptr);
// cuInit waits this long before answering, which widens the window of a race on the first load.
void setInitDelayMilliseconds(int milliseconds);
// Runs inside cuInit, on the thread that calls it, before cuInit answers; null for none.
void setInitHook(void (*hook)());
std::vector<Call> calls();
std::vector<Call> calls(Entry entry);
// How often the stand-in was loaded into and removed from the process (its constructor and destructor).
int openCount();
int closeCount();

// The stand-in's side. Recording allocates nothing, so that tests can count the binding's allocations.
int recordCall(Entry entry, std::initializer_list<std::uint64_t> arguments);
TextMode errorTextMode();
const char* errorText();
int initDelayMilliseconds();
void (*initHook())();
void noteOpened();
void noteClosed();

}  // namespace tav::test::cuda
