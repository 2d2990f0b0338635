// What each branch of NVIDIA's driver answers the cases, measured on a machine without a GPU, an X display or a
// Vulkan loader: one row per branch that scripts/fetch-nvidia-driver fetches. What a branch cannot do is an answer
// like any other, expected exactly.
#pragma once

#include <cstdint>
#include <string>

namespace tav::test::driver {

struct Branch {
    int number;
    // cuInit(0): the driver's status and the binding's message.
    int initStatus;
    const char* initMessage;
    // Whether cuInit opens libcuda once more and never closes it, so that it stays mapped after the binding closes
    // it.
    bool initKeepsLibcudaOpen;
    // The first decoder entry point that the library lacks, which the codec-header loader names; null when the
    // decoder loads.
    const char* cuvidMissing;
    // The encoder: NvEncodeAPICreateInstance's status for a list at API 8.1, the first entry point the codec-header
    // loader misses (null when the encoder loads), and the highest API that the library says it supports.
    int nvenc81Status;
    const char* nvencMissing;
    std::uint32_t nvencHighestMajor;
    std::uint32_t nvencHighestMinor;
    // Capture: NvFBCCreateInstance's status for a list at API 1.6; where that succeeds, createHandle's status and
    // the binding's message.
    int nvfbcInstanceStatus;
    int createHandleStatus;
    const char* createHandleMessage;
};

// The row of the branch that run-case names in TAV_DRIVER_BRANCH; a case for a branch without one fails.
const Branch& branch();

// The release of the branch's libraries, which their file names carry (libcuda.so.535.261.03).
std::string release();

}  // namespace tav::test::driver
