#include "failed_loads.h"

#include "../nvenc/standin/control.h"

#include <tav/nvidia/nvenc>

#include <gtest/gtest.h>

namespace {

using tav::test::expectFailedLoadsReleaseEverything;

tav::nvidia::Result load() { return tav::nvidia::NvEnc::instance().loadLib(); }

// The scenario decides what the loader finds: no library, or a stand-in that lacks an entry point.
TEST(NvEncFailedLoads, LibraryAbsentOrIncomplete) { expectFailedLoadsReleaseEverything("libnvidia-encode.so.1", load); }

TEST(NvEncFailedLoads, InstanceCreationFails)
{
    tav::test::nvenc::standIn().createInstanceStatus = NV_ENC_ERR_NO_ENCODE_DEVICE;
    expectFailedLoadsReleaseEverything("libnvidia-encode.so.1", load);
}

}  // namespace
