#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvencerrordomain>

#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::NvEnc;
using tav::nvidia::Result;
using tav::nvidia::detail::nvenc_error_domain;
using tav::test::LogCapture;
using typed_code = system_error2::status_code<nvenc_error_domain>;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

typed_code makeCode(unsigned int status, int line = 148)
{
    return typed_code(system_error2::in_place, static_cast<NVENCSTATUS>(status), "src/nvenc", line,
                      boost::stacktrace::stacktrace(0, 0));
}

TEST(NvEncErrorDomain, EveryStatusHasItsText)
{
    const char* const texts[] = {
        "Success",
        "No encode capable devices detected",
        "Device is not supported",
        "Supplied encoder device is not valid",
        "Invalid device",
        "Device no longer available and needs to be reinitialized",
        "One or more invalid pointers",
        "Completion event passed is invalid",
        "One or more invalid parameters",
        "API call not expected",
        "Failed to allocate memory",
        "Encoder not initialized",
        "Unsupported parameter",
        "Lock output buffer failed",
        "Buffer size is insufficient",
        "Invalid struct version used",
        "Map provided input resource failed",
        "Encode driver requires more input to produce an output",
        "Hardware encoder busy",
        "Completion event not registered",
        "Unknown internal error",
        "Feature not available",
        "Feature not implemented",
        "Register resource failed",
        "Unregister resource failed",
        "Unmap resource failed",
    };
    LogCapture capture;
    for (unsigned int status = 0; status < std::size(texts); ++status) {
        SCOPED_TRACE(status);
        EXPECT_STREQ(nvenc_error_domain::getStatusMessage(static_cast<NVENCSTATUS>(status)), texts[status]);
        EXPECT_EQ(text(makeCode(status).message()), std::string("NvEnc failed: ") + texts[status]);
    }
    EXPECT_TRUE(capture.records(spdlog::level::warn).empty());
}

TEST(NvEncErrorDomain, UnknownStatusWarnsOnEveryComposition)
{
    for (const unsigned int status : {26u, 4294967295u}) {
        SCOPED_TRACE(status);
        LogCapture capture;
        const typed_code code = makeCode(status);
        // The debug record of the new error composed the message once.
        ASSERT_EQ(capture.records(spdlog::level::warn).size(), 1u);
        EXPECT_EQ(text(code.message()), "NvEnc failed: Unknown");
        EXPECT_EQ(text(code.message()), "NvEnc failed: Unknown");

        const auto warnings = capture.records(spdlog::level::warn);
        ASSERT_EQ(warnings.size(), 3u);
        for (const auto& warning : warnings) {
            EXPECT_EQ(warning.text, "Switch unexpected value " + std::to_string(status) + " in function (" +
                                        warning.file +
                                        ":198 static const char* "
                                        "tav::nvidia::detail::nvenc_error_domain::getStatusMessage(NVENCSTATUS))");
            EXPECT_EQ(warning.file.substr(warning.file.size() - std::string("/tav/nvidia/nvencerrordomain").size()),
                      "/tav/nvidia/nvencerrordomain");
            EXPECT_EQ(warning.line, 198);
            EXPECT_EQ(warning.function, "getStatusMessage");
        }
        EXPECT_STREQ(nvenc_error_domain::getStatusMessage(static_cast<NVENCSTATUS>(status)), "Unknown");
        EXPECT_EQ(capture.records(spdlog::level::warn).size(), 4u);
    }
}

TEST(NvEncErrorDomain, CodesCompareByStatusAndThrowTheirMessage)
{
    LogCapture capture;
    EXPECT_TRUE(makeCode(13, 213).equivalent(makeCode(13, 41)));
    EXPECT_FALSE(makeCode(13).equivalent(makeCode(18)));
    EXPECT_TRUE(makeCode(13).equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(makeCode(13).equivalent(system_error2::generic_code(system_error2::errc::resource_unavailable_try_again)));
    EXPECT_TRUE(makeCode(26).failure());
    EXPECT_FALSE(makeCode(0).failure());
    EXPECT_EQ(nvenc_error_domain::get().id(), 0x1c7ad7b86ed230b1ull);

    const Result result = NvEnc::instance().wrapStatus(NV_ENC_ERR_ENCODER_BUSY, "src/nvenc", 200);
    EXPECT_TRUE(result.error().equivalent(makeCode(18)));
    try {
        result.value();
        FAIL() << "value() of a failed result must throw";
    } catch (const system_error2::status_error<nvenc_error_domain>& thrown) {
        EXPECT_STREQ(thrown.what(), "NvEnc failed: Hardware encoder busy");
        EXPECT_EQ(thrown.code().value().status, NV_ENC_ERR_ENCODER_BUSY);
    }
}

TEST(NvEncWrapStatus, SuccessMakesNothing)
{
    LogCapture capture;
    EXPECT_TRUE(NvEnc::instance().wrapStatus(NV_ENC_SUCCESS, "src/nvenc", 148).has_value());
    EXPECT_TRUE(capture.records().empty());
}

TEST(NvEncWrapStatus, FailureIsAnEncoderErrorAtTheGivenLocation)
{
    LogCapture capture;
    const Result result = NvEnc::instance().wrapStatus(NV_ENC_ERR_INVALID_PARAM, "src/nvenc", 148);
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(text(result.error().message()), "NvEnc failed: One or more invalid parameters");
    EXPECT_EQ(text(result.error().domain().name()), "nvenc error domain");
    EXPECT_EQ(result.error().domain().id(), 0xd835ac66dc1e6058ull);

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    const std::string expected =
        "Create error in 'nvenc error domain': NvEnc failed: One or more invalid parameters [] (src/nvenc:148)\n";
    EXPECT_EQ(records[0].text.substr(0, expected.size()), expected);
    EXPECT_GT(records[0].text.size(), expected.size()) << "the stack trace follows the location";
}

}  // namespace
