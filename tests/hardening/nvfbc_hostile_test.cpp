// The capture binding against a stand-in library with hostile last-error texts, statuses and a null handle.
#include "../nvfbc/standin/control.h"
#include "hostile_texts.h"
#include "log_capture.h"

#include <tav/nvidia/nvfbc>

#include <gtest/gtest.h>

namespace {

using tav::nvidia::NvFBC;
using tav::test::nvfbc::standin;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return {ref.data(), ref.size()}; }

class NvFBCHostileLibrary : public ::testing::Test {
protected:
    // A library that claims success but hands out the null handle 0.
    void SetUp() override
    {
        standin().reset();
        standin().createdHandle = 0;
        _NVFBC_CREATE_HANDLE_PARAMS params{};
        handle_ = 1;
        ASSERT_FALSE(NvFBC::instance().createHandle(&handle_, &params).has_error());
    }
    void TearDown() override { standin().reset(); }

    tav::nvidia::CaptureResult grab(NVFBCSTATUS status)
    {
        standin().statuses["nvFBCToSysGrabFrame"] = status;
        _NVFBC_TOSYS_GRAB_FRAME_PARAMS params{};
        return NvFBC::instance().toSysGrabFrame(handle_, &params);
    }

    unsigned long handle_ = 0;
};

TEST_F(NvFBCHostileLibrary, NullHandleIsPassedOn)
{
    EXPECT_EQ(handle_, 0u);
    EXPECT_FALSE(grab(NVFBC_SUCCESS).has_error());
    EXPECT_EQ(standin().calls.back().entry, "nvFBCToSysGrabFrame");
    EXPECT_EQ(standin().calls.back().handle, 0u);
}

TEST_F(NvFBCHostileLibrary, LastErrorTextsReachMessageAndRecordWhole)
{
    for (const std::string& lastError : tav::test::hostileTexts()) {
        tav::test::LogCapture capture;
        standin().lastErrors[handle_] = lastError;
        const tav::nvidia::CaptureResult result = grab(NVFBC_ERR_INTERNAL);
        ASSERT_TRUE(result.has_error());
        EXPECT_TRUE(text(result.error().message()) == "NvFBC failed: Internal error - " + lastError)
            << lastError.size();
        const auto records = capture.records(spdlog::level::debug);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NE(records[0].text.find("': NvFBC failed: Internal error - " + lastError + " [] (src/nvfbc:"),
                  std::string::npos);
    }
}

TEST_F(NvFBCHostileLibrary, StatusesOutsideTheTableReadUnknown)
{
    standin().lastErrors[handle_] = "%s {}";
    for (const std::uint32_t status : tav::test::hostileStatuses) {
        tav::test::LogCapture capture;
        const tav::nvidia::CaptureResult result = grab(static_cast<NVFBCSTATUS>(status));
        ASSERT_TRUE(result.has_error());
        EXPECT_EQ(static_cast<std::uint32_t>(result.error().value().status), status);
        EXPECT_EQ(text(result.error().message()), "NvFBC failed: Unknown - %s {}");
        const auto warnings = capture.records(spdlog::level::warn);
        ASSERT_FALSE(warnings.empty());
        EXPECT_EQ(warnings[0].text.rfind("Switch unexpected value " + std::to_string(status) + " in function (", 0),
                  0u);
    }
}

}  // namespace
