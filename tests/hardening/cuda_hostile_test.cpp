// The CUDA binding against a stand-in driver with hostile texts, statuses and a null context.
#include "hostile_texts.h"
#include "log_capture.h"
#include "standin_control.h"

#include <tav/nvidia/cuda>

#include <gtest/gtest.h>

namespace {

using tav::nvidia::Cuda;
namespace control = tav::test::cuda;

std::string messageOf(const tav::nvidia::Result& result)
{
    const auto message = result.error().message();
    return {message.data(), message.size()};
}

class CudaHostileDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        control::reset();
        ASSERT_FALSE(Cuda::instance().loadLib(0).has_error());
    }
    void TearDown() override { control::reset(); }
};

TEST_F(CudaHostileDriver, TextsReachMessageAndRecordWhole)
{
    for (const std::string& text : tav::test::hostileTexts()) {
        tav::test::LogCapture capture;
        control::setErrorText(control::TextMode::text, text.c_str());
        control::setStatus(control::Entry::cuCtxSynchronize, 1);
        const tav::nvidia::Result result = Cuda::instance().ctxSynchronize();
        ASSERT_TRUE(result.has_error());
        EXPECT_TRUE(messageOf(result) == "CUDA failed: " + text) << text.size();
        const auto records = capture.records(spdlog::level::debug);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NE(records[0].text.find("': CUDA failed: " + text + " [] (src/cuda:"), std::string::npos);
    }
}

TEST_F(CudaHostileDriver, StatusesOutsideTheEnumerationKeepTheirValue)
{
    control::setErrorText(control::TextMode::null);
    for (const std::uint32_t status : tav::test::hostileStatuses) {
        control::setStatus(control::Entry::cuCtxSynchronize, static_cast<int>(status));
        const tav::nvidia::Result result = Cuda::instance().ctxSynchronize();
        ASSERT_TRUE(result.has_error());
        EXPECT_EQ(messageOf(result), "CUDA failed: code " + std::to_string(static_cast<std::int32_t>(status)));
    }
}

TEST_F(CudaHostileDriver, SuccessWithoutAContextPassesTheNullContextOn)
{
    CUcontext context = nullptr;
    EXPECT_FALSE(Cuda::instance().ctxCreate(&context, 0, 0).has_error());
    EXPECT_EQ(context, nullptr);
    EXPECT_FALSE(Cuda::instance().ctxDestroy(context).has_error());
    ASSERT_EQ(control::calls(control::Entry::cuCtxDestroy_v2).size(), 1u);
    EXPECT_EQ(control::calls(control::Entry::cuCtxDestroy_v2)[0].arguments, std::vector<std::uint64_t>{0});
}

}  // namespace
