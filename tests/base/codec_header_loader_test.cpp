#include "codecheaderloader.h"

#include <tav/nvidia/nvcodecheadererrordomain>

#include "alloc_failure.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

using tav::nvidia::detail::codecHeaderLoaderFailure;
using tav::nvidia::detail::nvcodecheader_error_domain;
using tav::test::LogCapture;
using typed_code = system_error2::status_code<nvcodecheader_error_domain>;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

TEST(CodecHeaderLoaderHook, WritesTheFormattedMessageLiterallyAtErrorLevel)
{
    LogCapture capture;
    codecHeaderLoaderFailure("dynlink_loader.h", 404, "cuvid_load_functions", "Cannot load %s\n", "lib{}%s.so");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::err);
    EXPECT_EQ(records[0].text, "Cannot load lib{}%s.so\n");
    EXPECT_EQ(records[0].file, "dynlink_loader.h");
    EXPECT_EQ(records[0].line, 404);
    EXPECT_EQ(records[0].function, "cuvid_load_functions");
}

TEST(CodecHeaderLoaderHook, ThrowsBadAllocWhenTheTextCannotBeMade)
{
    LogCapture capture;
    bool thrown = false;
    try {
        tav::test::AllocationFailure failure(1);
        codecHeaderLoaderFailure("dynlink_loader.h", 95, "nvenc_load_functions", "Cannot load %s\n", "sym");
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::info);
    EXPECT_EQ(records[0].text.rfind("Create exception std::bad_alloc() (dynlink_loader.h:95):\n", 0), 0u);
    EXPECT_EQ(records[0].function, "nvenc_load_functions");
}

TEST(NvCodecHeaderErrorDomain, MessageEquivalenceAndThrowing)
{
    LogCapture capture;
    const tav::nvidia::Result cuvid = tav::base::system_error2_detail::failure<nvcodecheader_error_domain>(
        "cuvid", "src/cuvid", 26, boost::stacktrace::stacktrace());
    const typed_code nvenc(system_error2::in_place, "nvenc", "src/nvenc", 38, boost::stacktrace::stacktrace(0, 0));

    ASSERT_EQ(capture.records().size(), 2u);
    EXPECT_EQ(capture.records()[1].text, "Create error in 'nvcodecheader error domain': Failed to open nvenc [] (src/nvenc:38)\n");

    EXPECT_EQ(text(cuvid.error().message()), "Failed to open cuvid");
    EXPECT_EQ(text(cuvid.error().domain().name()), "nvcodecheader error domain");
    EXPECT_EQ(cuvid.error().domain().id(), 0x3da88c458464d9adull);
    EXPECT_TRUE(cuvid.error().equivalent(nvenc));
    EXPECT_TRUE(nvenc.equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(nvenc.equivalent(system_error2::generic_code(system_error2::errc::io_error)));
    EXPECT_TRUE(nvenc.failure());
    EXPECT_EQ(nvenc.domain()._generic_code(nvenc), system_error2::generic_code(system_error2::errc::unknown));

    try {
        cuvid.value();
        FAIL() << "value() of a failed result must throw";
    } catch (const system_error2::status_error<nvcodecheader_error_domain>& thrown) {
        EXPECT_STREQ(thrown.what(), "Failed to open cuvid");
    }
}

}  // namespace
