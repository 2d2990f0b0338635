// Handles and operations once the stand-in capture library is loaded.
#include <tav/nvidia/nvfbc>

#include "control.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using tav::nvidia::CaptureResult;
using tav::nvidia::NvFBC;
using tav::nvidia::Result;
using tav::nvidia::detail::nvfbc_error_domain;
using tav::test::LogCapture;
using tav::test::nvfbc::Call;
using tav::test::nvfbc::callersVersion;
using tav::test::nvfbc::location;
using tav::test::nvfbc::operations;
using tav::test::nvfbc::standin;
using tav::test::nvfbc::text;

constexpr std::uint32_t createHandleVersion = 0x06020028;

class NvFBCLoaded : public testing::Test {
protected:
    void SetUp() override
    {
        const Result loaded = NvFBC::instance().loadLib();
        ASSERT_TRUE(loaded) << text(loaded.error().message());
        opens = standin().opens;
        standin().reset();
    }

    int opens = 0;
};

void expectOneCreationRecord(const LogCapture& capture, const std::string& message, const std::string& origin)
{
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    EXPECT_EQ(records[0].text, "Create error in 'nvfbc error domain': " + message + " [] " + origin);
}

TEST_F(NvFBCLoaded, CreateHandleWritesItsVersionAndHandsOutTheHandleWithoutLoadingAgain)
{
    LogCapture capture;
    unsigned long handle = 1234;
    _NVFBC_CREATE_HANDLE_PARAMS params{};
    params.dwVersion = callersVersion;
    const Result result = NvFBC::instance().createHandle(&handle, &params);
    ASSERT_TRUE(result);
    EXPECT_EQ(handle, 1u);
    EXPECT_EQ(params.dwVersion, createHandleVersion);
    EXPECT_EQ(standin().calls, (std::vector<Call>{{"nvFBCCreateHandle", 0, createHandleVersion}}));
    EXPECT_EQ(standin().opens, opens);
    EXPECT_TRUE(capture.records().empty());
}

TEST_F(NvFBCLoaded, CreateHandleFailureCarriesTheLastErrorTextOfTheHandleTheLibraryLeft)
{
    struct Row {
        std::optional<unsigned long> stored;
        unsigned long expected;
    };
    // Without a stored handle the text is read for 0.
    const Row rows[] = {{std::nullopt, 0}, {77, 77}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        standin().reset();
        standin().statuses["nvFBCCreateHandle"] = NVFBC_ERR_MAX_CLIENTS;
        standin().createdHandle = row.stored;
        standin().lastErrors[row.expected] = "too many clients";
        LogCapture capture;
        unsigned long handle = 1234;
        _NVFBC_CREATE_HANDLE_PARAMS params{};
        const Result result = NvFBC::instance().createHandle(&handle, &params);
        ASSERT_FALSE(result);
        EXPECT_EQ(handle, row.expected);
        const std::string message =
            "NvFBC failed: Maximum number of threaded clients of the same process has been reached - too many clients";
        EXPECT_EQ(text(result.error().message()), message);
        EXPECT_EQ(text(result.error().domain().name()), "nvfbc error domain");
        EXPECT_EQ(standin().calls, (std::vector<Call>{{"nvFBCCreateHandle", 0, createHandleVersion},
                                                      {"nvFBCGetLastErrorStr", row.expected, 0}}));
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].text.rfind("Create error in 'nvfbc error domain': " + message + " [] " + location(84), 0),
                  0u);
        EXPECT_TRUE(result.error().equivalent(system_error2::status_code<nvfbc_error_domain>(
            system_error2::in_place, NVFBC_ERR_MAX_CLIENTS, nullptr, nullptr, 0, boost::stacktrace::stacktrace(0, 0))));
    }
}

TEST_F(NvFBCLoaded, OperationsWriteTheirVersionCallTheirEntryAndWrapItsStatus)
{
    unsigned long handle = 100;
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.name);
        ++handle;
        standin().reset();
        const std::string lastError = std::string(operation.entry) + " refused handle " + std::to_string(handle);
        standin().lastErrors[handle] = lastError;

        standin().statuses[operation.entry] = NVFBC_ERR_MUST_RECREATE;
        LogCapture capture;
        const auto failed = operation.invoke(handle);
        EXPECT_EQ(failed.version, operation.version);
        EXPECT_EQ(standin().calls, (std::vector<Call>{{operation.entry, handle, operation.version},
                                                      {"nvFBCGetLastErrorStr", handle, 0}}));
        ASSERT_FALSE(failed.result);
        const auto& value = failed.result.error().value();
        EXPECT_EQ(value.status, NVFBC_ERR_MUST_RECREATE);
        EXPECT_EQ(text(value.lastError), lastError);
        const std::string message = "NvFBC failed: Recreate the capture session - " + lastError;
        EXPECT_EQ(text(failed.result.error().message()), message);
        EXPECT_EQ(text(value.origin).rfind(location(operation.line), 0), 0u) << text(value.origin);
        expectOneCreationRecord(capture, message, text(value.origin));

        // The error keeps its own copy of the library's text.
        standin().lastErrors[handle] = "replaced";
        EXPECT_EQ(text(failed.result.error().message()), message);

        standin().calls.clear();
        capture.clear();
        standin().statuses[operation.entry] = NVFBC_SUCCESS;
        const auto succeeded = operation.invoke(handle);
        EXPECT_TRUE(succeeded.result);
        EXPECT_EQ(succeeded.version, operation.version);
        EXPECT_EQ(standin().calls, (std::vector<Call>{{operation.entry, handle, operation.version}}));
        EXPECT_TRUE(capture.records().empty());
    }
    EXPECT_EQ(standin().opens, opens);
    EXPECT_EQ(standin().closes, 0);
}

TEST_F(NvFBCLoaded, WrapStatusAsksForTheLastErrorTextOnlyOnFailure)
{
    struct Row {
        unsigned int status;
        const char* lastError;
        const char* message;
    };
    const Row rows[] = {
        {NVFBC_ERR_INVALID_HANDLE, nullptr, "NvFBC failed: Invalid handle - "},
        {NVFBC_ERR_X, "connection lost", "NvFBC failed: X error - connection lost"},
        {4294967295u, "newer status", "NvFBC failed: Unknown - newer status"},
    };
    const unsigned long handle = 42;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        standin().reset();
        if (row.lastError != nullptr) {
            standin().lastErrors[handle] = row.lastError;
        }
        LogCapture capture;
        const CaptureResult result =
            NvFBC::instance().wrapStatus(handle, static_cast<NVFBCSTATUS>(row.status), "src/caller", 7);
        ASSERT_FALSE(result);
        EXPECT_EQ(text(result.error().message()), row.message);
        EXPECT_EQ(text(result.error().value().origin).rfind("(src/caller:7)\n", 0), 0u);
        EXPECT_EQ(standin().calls, (std::vector<Call>{{"nvFBCGetLastErrorStr", handle, 0}}));
        EXPECT_EQ(capture.records(spdlog::level::debug).size(), 1u);
    }

    standin().reset();
    LogCapture capture;
    EXPECT_TRUE(NvFBC::instance().wrapStatus(handle, NVFBC_SUCCESS, "src/caller", 7));
    EXPECT_TRUE(standin().calls.empty());
    EXPECT_TRUE(capture.records().empty());
}

}  // namespace
