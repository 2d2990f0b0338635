// With a stand-in decoder library that lacks the optional cuvidGetDecoderCaps.
#include <tav/nvidia/cuvid>

#include "control.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

namespace {

using tav::nvidia::CuVid;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

TEST(CuVidOptionalEntryPoint, LoadsWithoutItAndLogsNoProgress)
{
    LogCapture capture;
    CuVid& binding = CuVid::instance();
    EXPECT_TRUE(binding.loadLib().has_value());
    EXPECT_EQ(cuvid::loads(), 1);
    // The loader reports the library opened, every entry point found and the optional one missing; none of it
    // reaches the log, at any level.
    EXPECT_TRUE(capture.records().empty());

    const cuvid::Operation& operation = cuvid::operations().front();
    EXPECT_TRUE(operation.invoke(binding).has_value());
    EXPECT_EQ(cuvid::calls(), (std::vector<cuvid::Call>{{operation.entryPoint, operation.arguments}}));
}

}  // namespace
