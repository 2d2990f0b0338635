// With the complete stand-in decoder library and the CUDA binding's stand-in driver, which the test loads.
#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>

#include "control.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::CuVid;
using tav::nvidia::Result;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

// What the stand-in CUDA driver's cuGetErrorString answers.
constexpr char kDriverText[] = "stand-in error text";

std::string message(const Result& result) { return std::string(result.error().message().c_str()); }

TEST(CuVidWithCudaLoaded, ErrorsCarryTheDriversText)
{
    CuVid& binding = CuVid::instance();
    cuvid::setStatus(700);

    // The decoder binding converts its statuses without loading the CUDA driver, although it is available.
    const Result beforeCuda = cuvid::operations().front().invoke(binding);
    ASSERT_TRUE(beforeCuda.has_error());
    EXPECT_EQ(message(beforeCuda), "CUDA failed: code 700");

    ASSERT_TRUE(tav::nvidia::Cuda::instance().loadLib(0).has_value());
    for (const cuvid::Operation& operation : cuvid::operations()) {
        SCOPED_TRACE(operation.name);
        LogCapture capture;
        const Result failed = operation.invoke(binding);
        ASSERT_TRUE(failed.has_error());
        EXPECT_EQ(message(failed), std::string("CUDA failed: ") + kDriverText);
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        const std::string expected = std::string("Create error in 'cuda error domain': CUDA failed: ") + kDriverText +
                                     " [] (src/cuvid:" + std::to_string(operation.line) + ")\n";
        EXPECT_EQ(records[0].text.rfind(expected, 0), 0u) << records[0].text;
    }
}

}  // namespace
