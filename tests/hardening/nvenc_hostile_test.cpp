// The encoder binding against a stand-in library with hostile statuses and a null encoder session.
#include "../nvenc/standin/control.h"
#include "hostile_texts.h"
#include "log_capture.h"

#include <tav/nvidia/nvenc>

#include <gtest/gtest.h>

namespace {

using tav::nvidia::NvEnc;
using tav::test::nvenc::standIn;

TEST(NvEncHostileLibrary, StatusesOutsideTheTableReadUnknown)
{
    for (const std::uint32_t status : tav::test::hostileStatuses) {
        tav::test::LogCapture capture;
        standIn().entryStatus = static_cast<NVENCSTATUS>(status);
        unsigned int count = 0;
        const tav::nvidia::Result result = NvEnc::instance().getEncodeGUIDCount(nullptr, &count);
        ASSERT_TRUE(result.has_error());
        const auto message = result.error().message();
        EXPECT_EQ(std::string(message.data(), message.size()), "NvEnc failed: Unknown");
        const auto warnings = capture.records(spdlog::level::warn);
        ASSERT_FALSE(warnings.empty());
        EXPECT_EQ(warnings[0].text.rfind("Switch unexpected value " + std::to_string(status) + " in function (", 0),
                  0u);
        const auto debug = capture.records(spdlog::level::debug);
        ASSERT_EQ(debug.size(), 1u);
        EXPECT_EQ(debug[0].text.rfind("Create error in 'nvenc error domain': NvEnc failed: Unknown [] (src/nvenc:", 0),
                  0u);
    }
    standIn().entryStatus = NV_ENC_SUCCESS;
}

TEST(NvEncHostileLibrary, SuccessWithoutASessionPassesTheNullEncoderOn)
{
    _NV_ENC_OPEN_ENCODE_SESSIONEX_PARAMS params{};
    void* encoder = nullptr;
    EXPECT_FALSE(NvEnc::instance().openEncodeSessionEx(&params, &encoder).has_error());
    EXPECT_EQ(encoder, nullptr);
    unsigned int count = 0;
    EXPECT_FALSE(NvEnc::instance().getEncodeGUIDCount(encoder, &count).has_error());
    EXPECT_EQ(standIn().calls.back().arguments.front(), 0u);
}

}  // namespace
