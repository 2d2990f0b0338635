// State of the stand-in encoder library that must outlive its unloading: what tests choose it to return and
// what it saw. Linked by the test binary and by every stand-in variant, so both share one instance.
#pragma once

#include <ffnvcodec/nvEncodeAPI.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tav::test::nvenc {

// One call of a function-list entry, as the stand-in received it.
struct EntryCall {
    // The entry's offset in NV_ENCODE_API_FUNCTION_LIST.
    std::size_t entry;
    // The arguments, each as describeArguments renders it.
    std::vector<std::uint64_t> arguments;
    // The version words found in the structures passed: each structure's own, then the embedded encode
    // configuration's (preset configuration) or the API version (session parameters).
    std::vector<std::uint32_t> versionWords;
};

struct StandInState {
    // Times the stand-in library was mapped into and out of the process.
    int loads = 0;
    int unloads = 0;
    int createInstanceCalls = 0;
    int maxSupportedVersionCalls = 0;
    // The version word of the function list that instance creation was last given.
    std::uint32_t listVersionSeen = 0;
    // What instance creation returns once the list's version word is right.
    NVENCSTATUS createInstanceStatus = NV_ENC_SUCCESS;
    // What every entry returns.
    NVENCSTATUS entryStatus = NV_ENC_SUCCESS;
    // Entries (offsets in NV_ENCODE_API_FUNCTION_LIST) that a successful instance creation leaves empty.
    std::vector<std::size_t> entriesLeftEmpty;
    // Runs inside instance creation, on the thread that calls it, before it answers; null for none.
    void (*createInstanceHook)() = nullptr;
    std::vector<EntryCall> calls;
};

StandInState& standIn();

// Arguments rendered alike on both sides, so that a test compares what the library received with what it passed:
// pointers by address, numbers and enumerations by value, a GUID by its sixteen bytes.
inline void describeArgument(std::vector<std::uint64_t>& out, const GUID& guid)
{
    std::uint64_t halves[2];
    static_assert(sizeof(halves) == sizeof(GUID));
    std::memcpy(halves, &guid, sizeof(GUID));
    out.insert(out.end(), halves, halves + 2);
}

template <class T>
void describeArgument(std::vector<std::uint64_t>& out, T* pointer)
{
    out.push_back(reinterpret_cast<std::uintptr_t>(pointer));
}

template <class T, class = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
void describeArgument(std::vector<std::uint64_t>& out, T value)
{
    out.push_back(static_cast<std::uint64_t>(value));
}

template <class... Args>
std::vector<std::uint64_t> describeArguments(const Args&... args)
{
    std::vector<std::uint64_t> out;
    (describeArgument(out, args), ...);
    return out;
}

}  // namespace tav::test::nvenc
