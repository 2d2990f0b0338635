#include <tav/nvidia/nvfbcerrordomain>

#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::CaptureResult;
using tav::nvidia::Result;
using tav::nvidia::detail::nvfbc_error_domain;
using tav::test::LogCapture;
using tav::test::nvfbc::text;
using typed_code = system_error2::status_code<nvfbc_error_domain>;

typed_code makeCode(NVFBCSTATUS status, const char* lastError)
{
    return typed_code(system_error2::in_place, status, lastError, "src/nvfbc", 143, boost::stacktrace::stacktrace());
}

bool endsWith(const std::string& whole, const std::string& tail)
{
    return whole.size() >= tail.size() && whole.compare(whole.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(NvFBCErrorDomain, StatusTable)
{
    struct Row {
        unsigned int status;
        const char* text;
    };
    const Row rows[] = {
        {0, "Success"},
        {1, "The API versions of the client and the library are not compatible"},
        {2, "Internal error"},
        {3, "One or more invalid parameters"},
        {4, "One or more invalid pointers"},
        {5, "Invalid handle"},
        {6, "Maximum number of threaded clients of the same process has been reached"},
        {7, "Requested feature is currently not supported by the library"},
        {8, "Failed to allocate memory"},
        {9, "API call not expected"},
        {10, "X error"},
        {11, "GLX error"},
        {12, "GL error"},
        {13, "CUDA error"},
        {14, "Hardware encoder error"},
        {15, "Context error"},
        {16, "Recreate the capture session"},
    };
    LogCapture capture;
    for (const Row& row : rows) {
        EXPECT_STREQ(nvfbc_error_domain::getStatusMessage(static_cast<NVFBCSTATUS>(row.status)), row.text)
            << "status " << row.status;
    }
    EXPECT_TRUE(capture.records().empty());
}

TEST(NvFBCErrorDomain, UnknownStatusReadsUnknownAndWarnsOncePerComposition)
{
    const char* const signature =
        "static const char* tav::nvidia::detail::nvfbc_error_domain::getStatusMessage(NVFBCSTATUS)";
    for (const unsigned int status : {17u, 4294967295u}) {
        SCOPED_TRACE(status);
        LogCapture capture;
        EXPECT_STREQ(nvfbc_error_domain::getStatusMessage(static_cast<NVFBCSTATUS>(status)), "Unknown");
        const auto warnings = capture.records(spdlog::level::warn);
        ASSERT_EQ(capture.records().size(), 1u);
        ASSERT_EQ(warnings.size(), 1u);
        const tav::test::LogRecord& warning = warnings[0];
        EXPECT_TRUE(endsWith(warning.file, "include/tav/nvidia/nvfbcerrordomain")) << warning.file;
        EXPECT_EQ(warning.function, "getStatusMessage");
        EXPECT_EQ(warning.text, "Switch unexpected value " + std::to_string(status) + " in function (" +
                                    warning.file + ":" + std::to_string(warning.line) + " " + signature + ")");

        // The header's own layout fixes the line: the default branch of its switch.
        EXPECT_EQ(warning.line, 183);

        const typed_code code = makeCode(static_cast<NVFBCSTATUS>(status), "driver text");
        capture.clear();
        EXPECT_EQ(text(code.message()), "NvFBC failed: Unknown - driver text");
        EXPECT_EQ(capture.records(spdlog::level::warn).size(), 1u);
        EXPECT_EQ(text(code.message()), "NvFBC failed: Unknown - driver text");
        EXPECT_EQ(capture.records(spdlog::level::warn).size(), 2u);
        EXPECT_EQ(capture.records().size(), 2u);
    }
}

TEST(NvFBCErrorDomain, ValueCarriesStatusAndItsOwnCopyOfTheLastErrorText)
{
    struct Row {
        NVFBCSTATUS status;
        const char* lastError;
        const char* message;
    };
    const Row rows[] = {
        {NVFBC_ERR_INVALID_HANDLE, nullptr, "NvFBC failed: Invalid handle - "},
        {NVFBC_ERR_INVALID_HANDLE, "", "NvFBC failed: Invalid handle - "},
        {NVFBC_ERR_MUST_RECREATE, "mode set {} %s", "NvFBC failed: Recreate the capture session - mode set {} %s"},
    };
    for (const Row& row : rows) {
        LogCapture capture;
        std::string lastError = row.lastError != nullptr ? row.lastError : "";
        const typed_code code = makeCode(row.status, row.lastError != nullptr ? lastError.c_str() : nullptr);
        lastError.assign(lastError.size(), 'x');

        EXPECT_EQ(code.value().status, row.status);
        EXPECT_EQ(text(code.message()), row.message);
        EXPECT_EQ(text(code.value().origin).rfind("(src/nvfbc:143)\n", 0), 0u);
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, spdlog::level::debug);
        EXPECT_EQ(records[0].text, std::string("Create error in 'nvfbc error domain': ") + row.message + " [] " +
                                       text(code.value().origin));
    }
}

TEST(NvFBCErrorDomain, DefaultValueIsAnEmptySuccessAndLogsNothing)
{
    LogCapture capture;
    const nvfbc_error_domain::value_type value;
    EXPECT_EQ(value.status, NVFBC_SUCCESS);
    EXPECT_TRUE(value.lastError.empty());
    EXPECT_FALSE(typed_code(system_error2::in_place).failure());
    EXPECT_TRUE(capture.records().empty());
}

TEST(NvFBCErrorDomain, ComparesByStatusOnly)
{
    const typed_code invalid = makeCode(NVFBC_ERR_INVALID_HANDLE, "one text");
    const typed_code sameStatus = makeCode(NVFBC_ERR_INVALID_HANDLE, "another text");
    const typed_code otherStatus = makeCode(NVFBC_ERR_X, "one text");
    EXPECT_TRUE(invalid.failure());
    EXPECT_TRUE(invalid.equivalent(sameStatus));
    EXPECT_FALSE(invalid.equivalent(otherStatus));
    EXPECT_TRUE(invalid.equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(invalid.equivalent(system_error2::generic_code(system_error2::errc::invalid_argument)));
    EXPECT_EQ(nvfbc_error_domain::get().id(), 0x0c65025a3946a1c4u);
    EXPECT_EQ(text(nvfbc_error_domain::get().name()), "nvfbc error domain");
}

TEST(NvFBCErrorDomain, TypedAndErasedErrorsThrowTheCaptureDomainsException)
{
    const std::string message = "NvFBC failed: Context error - not bound";
    CaptureResult typed{makeCode(NVFBC_ERR_CONTEXT, "not bound")};
    try {
        typed.value();
        FAIL() << "no exception";
    } catch (const system_error2::status_error<nvfbc_error_domain>& error) {
        EXPECT_EQ(error.what(), message);
    }

    Result erased{make_status_code(makeCode(NVFBC_ERR_CONTEXT, "not bound"))};
    EXPECT_EQ(erased.error().domain().id(), 0xc82a79848b8af12du);
    EXPECT_EQ(text(erased.error().domain().name()), "nvfbc error domain");
    EXPECT_TRUE(erased.error().equivalent(makeCode(NVFBC_ERR_CONTEXT, nullptr)));
    try {
        erased.value();
        FAIL() << "no exception";
    } catch (const system_error2::status_error<nvfbc_error_domain>& error) {
        EXPECT_EQ(error.what(), message);
    }
}

}  // namespace
