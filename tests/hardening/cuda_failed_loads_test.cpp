#include "failed_loads.h"
#include "standin_control.h"

#include <tav/nvidia/cuda>

#include <gtest/gtest.h>

namespace {

using tav::nvidia::Cuda;
using tav::test::expectFailedLoadsReleaseEverything;

tav::nvidia::Result load() { return Cuda::instance().loadLib(0); }

// The scenario decides what the loader finds: no driver, or a stand-in that lacks an entry point.
TEST(CudaFailedLoads, DriverAbsentOrIncomplete) { expectFailedLoadsReleaseEverything("libcuda.so", load); }

TEST(CudaFailedLoads, InitFails)
{
    tav::test::cuda::setStatus(tav::test::cuda::Entry::cuInit, 100);
    expectFailedLoadsReleaseEverything("libcuda.so", load);
}

}  // namespace
