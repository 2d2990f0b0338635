#include <tav/nvidia/nvenc>

#include "control.h"
#include "log_capture.h"
#include "operation_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using tav::nvidia::NvEnc;
using tav::nvidia::Result;
using tav::test::LogCapture;
using namespace tav::test::nvenc;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

// The one debug record of an error made at line of src/nvenc, with its message.
void expectErrorRecord(const LogCapture& capture, const std::string& message, int line)
{
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    const std::string expected =
        "Create error in 'nvenc error domain': " + message + " [] (src/nvenc:" + std::to_string(line) + ")\n";
    EXPECT_EQ(records[0].text.substr(0, expected.size()), expected);
}

TEST(NvEncOperations, EachCallsItsEntryWithItsVersionWordsAndWrapsItsStatus)
{
    ASSERT_EQ(operations().size(), 35u);
    for (const Operation& operation : operations()) {
        for (const NVENCSTATUS status : {NV_ENC_SUCCESS, NV_ENC_ERR_INVALID_PARAM}) {
            SCOPED_TRACE(std::string(operation.name) + " returning " + std::to_string(status));
            standIn().entryStatus = status;
            standIn().calls.clear();
            Probe probe;
            LogCapture capture;

            const Result result = operation.call(probe);

            ASSERT_EQ(standIn().calls.size(), 1u);
            const auto& call = standIn().calls[0];
            EXPECT_EQ(call.entry, operation.entry);
            EXPECT_EQ(call.arguments, probe.passed);
            EXPECT_EQ(call.versionWords, valuesOf(operation.words));
            EXPECT_EQ(probe.bytes(), probe.expectedBytes(operation.words));
            if (status == NV_ENC_SUCCESS) {
                EXPECT_TRUE(result.has_value());
                EXPECT_TRUE(capture.records().empty());
            } else {
                ASSERT_TRUE(result.has_error());
                EXPECT_EQ(text(result.error().domain().name()), "nvenc error domain");
                EXPECT_EQ(text(result.error().message()), "NvEnc failed: One or more invalid parameters");
                expectErrorRecord(capture, "NvEnc failed: One or more invalid parameters", operation.line);
            }
        }
    }
    standIn().entryStatus = NV_ENC_SUCCESS;
}

TEST(NvEncOperations, EncodePictureCountsNeedMoreInputAtEndOfStreamAsSuccess)
{
    struct Case {
        NVENCSTATUS status;
        std::uint32_t flags;
        const char* error;  // null for success
    };
    const char* const needMoreInput = "NvEnc failed: Encode driver requires more input to produce an output";
    const Case cases[] = {
        {NV_ENC_ERR_NEED_MORE_INPUT, NV_ENC_PIC_FLAG_EOS, nullptr},
        {NV_ENC_ERR_NEED_MORE_INPUT, ~0u, nullptr},
        {NV_ENC_ERR_NEED_MORE_INPUT, 0, needMoreInput},
        {NV_ENC_ERR_NEED_MORE_INPUT, ~static_cast<std::uint32_t>(NV_ENC_PIC_FLAG_EOS), needMoreInput},
        {NV_ENC_SUCCESS, 0, nullptr},
        {NV_ENC_SUCCESS, NV_ENC_PIC_FLAG_EOS, nullptr},
        {NV_ENC_SUCCESS, ~0u, nullptr},
        {NV_ENC_ERR_ENCODER_BUSY, NV_ENC_PIC_FLAG_EOS, "NvEnc failed: Hardware encoder busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status) + ", flags " + std::to_string(c.flags));
        standIn().entryStatus = c.status;
        NV_ENC_PIC_PARAMS params{};
        params.encodePicFlags = c.flags;
        LogCapture capture;

        const Result result = NvEnc::instance().encodePicture(nullptr, &params);

        if (c.error == nullptr) {
            EXPECT_TRUE(result.has_value());
            EXPECT_TRUE(capture.records().empty());
        } else {
            ASSERT_TRUE(result.has_error());
            EXPECT_EQ(text(result.error().message()), c.error);
            expectErrorRecord(capture, c.error, 200);
        }
    }
    standIn().entryStatus = NV_ENC_SUCCESS;
}

TEST(NvEncOperations, LoadOnceThenCallOnlyTheEntry)
{
    ASSERT_TRUE(NvEnc::instance().loadLib().has_value());
    const auto before = standIn();
    EXPECT_EQ(before.loads, 1);
    EXPECT_EQ(before.createInstanceCalls, 1);
    EXPECT_EQ(before.listVersionSeen, 0x71020008u);

    EXPECT_TRUE(NvEnc::instance().loadLib().has_value());
    EXPECT_TRUE(NvEnc::instance().destroyEncoder(nullptr).has_value());

    EXPECT_EQ(standIn().loads, 1);
    EXPECT_EQ(standIn().unloads, 0);
    EXPECT_EQ(standIn().createInstanceCalls, 1);
    EXPECT_EQ(standIn().maxSupportedVersionCalls, 0);
    EXPECT_EQ(standIn().calls.size(), before.calls.size() + 1);
}

}  // namespace
