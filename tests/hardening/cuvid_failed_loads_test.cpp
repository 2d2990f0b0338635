#include "failed_loads.h"

#include <tav/nvidia/cuvid>

#include <gtest/gtest.h>

namespace {

// The scenario decides what the loader finds: no library, or a stand-in that lacks an entry point.
TEST(CuVidFailedLoads, LibraryAbsentOrIncomplete)
{
    tav::test::expectFailedLoadsReleaseEverything("libnvcuvid.so.1",
                                                  [] { return tav::nvidia::CuVid::instance().loadLib(); });
}

}  // namespace
