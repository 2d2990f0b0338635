#include "failed_loads.h"

#include "../nvfbc/standin/control.h"

#include <tav/nvidia/nvfbc>

#include <gtest/gtest.h>

namespace {

using tav::test::nvfbc::standin;

tav::nvidia::Result load()
{
    tav::nvidia::Result result = tav::nvidia::NvFBC::instance().loadLib();
    // The stand-in's call record would otherwise grow with every attempt.
    standin().calls.clear();
    return result;
}

// The scenario decides what the loader finds: no library, or a stand-in without NvFBCCreateInstance.
TEST(NvFBCFailedLoads, LibraryAbsentOrIncomplete)
{
    tav::test::expectFailedLoadsReleaseEverything("libnvidia-fbc.so.1", load);
}

TEST(NvFBCFailedLoads, InstanceCreationFails)
{
    standin().instanceStatus = NVFBC_ERR_INTERNAL;
    tav::test::expectFailedLoadsReleaseEverything("libnvidia-fbc.so.1", load);
}

}  // namespace
