// What every real-driver case shares: turning results into assertions, and a CUDA context on the first device that
// skips the case, with the driver's own reason, where there is none to be had.
#pragma once

#include <tav/nvidia/cuda>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tav::test::gpu {

// The driver's parameter structures start out all zero, as their documentation asks.
template <class T>
T zeroed()
{
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

template <class Outcome>
std::string messageOf(const Outcome& outcome)
{
    const auto message = outcome.error().message();
    return std::string(message.data(), message.size());
}

// Success, or a failure that shows the library's message: ASSERT_TRUE(succeeded(cuda.memAlloc(...))).
template <class Outcome>
::testing::AssertionResult succeeded(const Outcome& outcome)
{
    if (!outcome.has_error()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << messageOf(outcome);
}

// The name of the domain of a failed outcome, through the erasure.
template <class Outcome>
std::string domainOf(const Outcome& outcome)
{
    const auto name = outcome.error().domain().name();
    return std::string(name.data(), name.size());
}

// Why the CUDA driver cannot run these cases here, or empty when device 0 can.
std::string cudaUnavailable();

// A fresh CUDA context on device 0, current on the test's thread for the whole case.
class CudaContextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    CUdevice device_ = 0;
    CUcontext context_ = nullptr;
};

}  // namespace tav::test::gpu
