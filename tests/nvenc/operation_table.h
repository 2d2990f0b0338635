// The encoder operations as a table, for tests that run all of them alike.
#pragma once

#include <tav/nvidia/nvenc>

#include "control.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace tav::test::nvenc {

using tav::nvidia::NvEnc;
using tav::nvidia::Result;

// What a probe fills its structure with, version word included.
constexpr unsigned char pattern = 0xa5;

template <class T>
struct Identity {
    using type = T;
};

// A version word that an operation must write: where it lies in the structure passed, and its value.
struct VersionWord {
    std::size_t offset;
    std::uint32_t value;
};

// The arguments of one operation: a structure filled with a pattern (version word included), handles and
// out-parameters at known addresses. Records what it passed so that the test can compare it with what the
// library received.
class Probe {
public:
    Probe() { std::memset(structure_, pattern, sizeof(structure_)); }

    template <class Struct>
    Struct* structure()
    {
        static_assert(sizeof(Struct) <= sizeof(structure_));
        return reinterpret_cast<Struct*>(structure_);
    }

    // The structure's bytes as they must be after the call: the pattern, with the version words written.
    std::vector<unsigned char> expectedBytes(const std::vector<VersionWord>& words) const
    {
        std::vector<unsigned char> bytes(sizeof(structure_), pattern);
        for (const VersionWord& word : words) {
            std::memcpy(bytes.data() + word.offset, &word.value, sizeof(word.value));
        }
        return bytes;
    }

    std::vector<unsigned char> bytes() const { return {structure_, structure_ + sizeof(structure_)}; }

    template <class... Params>
    Result run(Result (NvEnc::*operation)(Params...) noexcept, typename Identity<Params>::type... args)
    {
        passed = describeArguments(args...);
        return (NvEnc::instance().*operation)(args...);
    }

    std::vector<std::uint64_t> passed;
    void* const encoder = reinterpret_cast<void*>(0x1000e);
    void* const handle = reinterpret_cast<void*>(0x2000b);
    const GUID codec{0x6bc82762, 0x4e63, 0x4ca4, {0xaa, 0x85, 0x1e, 0x50, 0xf3, 0x21, 0xf6, 0xbf}};
    const GUID preset{0xb2dfb705, 0x4ebd, 0x4c49, {0x9b, 0x5f, 0x24, 0xa7, 0x77, 0xd3, 0xe5, 0x87}};
    GUID guids[3]{};
    NV_ENC_BUFFER_FORMAT formats[3]{};
    unsigned int count = 0;
    int value = 0;
    void* session = nullptr;

private:
    alignas(std::max_align_t) unsigned char structure_[16384];
};

// One operation: its name, its list entry (offset in NV_ENCODE_API_FUNCTION_LIST), the version words it writes,
// the line its errors name, and a call of it with a probe's arguments.
struct Operation {
    const char* name;
    std::size_t entry;
    std::vector<VersionWord> words;
    int line;
    std::function<Result(Probe&)> call;
};

// All 35, in the order of their lines.
const std::vector<Operation>& operations();

// The values of version words, in their order.
std::vector<std::uint32_t> valuesOf(const std::vector<VersionWord>& words);

}  // namespace tav::test::nvenc
