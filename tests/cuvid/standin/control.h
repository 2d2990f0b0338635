// State of the stand-in decoder library that tests set and read. It lives in a library of its own, linked by the
// tests and by the stand-in, so that it outlives every dlclose of the stand-in.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tav::test::cuvid {

struct Call {
    std::string entryPoint;
    // Every argument as a 64-bit word: pointers by address, numbers by value.
    std::vector<std::uint64_t> arguments;

    bool operator==(const Call& other) const
    {
        return entryPoint == other.entryPoint && arguments == other.arguments;
    }

    friend std::ostream& operator<<(std::ostream& out, const Call& call)
    {
        out << call.entryPoint << std::hex;
        for (const std::uint64_t argument : call.arguments) {
            out << " 0x" << argument;
        }
        return out << std::dec;
    }
};

// Forgets the calls and makes every entry point return 0 again.
void reset();
// The status every entry point returns from now on.
void setStatus(int status);
// The calls made so far, oldest first.
std::vector<Call> calls();

// How often the stand-in has been loaded into the process and unloaded from it.
int loads();
int unloads();
// Runs inside the stand-in's initialisation, on the thread that opens it; null for none.
void setLoadHook(void (*hook)());

// For the stand-in: records a call and answers the chosen status.
int recordCall(const char* entryPoint, std::vector<std::uint64_t> arguments);
void libraryLoaded();
void libraryUnloaded();

}  // namespace tav::test::cuvid
