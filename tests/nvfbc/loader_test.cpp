// Loading the capture library, each scenario in a process of its own: the binding keeps what it loaded until the
// process ends.
#include <tav/nvidia/nvfbc>

#include "control.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using tav::nvidia::NvFBC;
using tav::nvidia::Result;
using tav::nvidia::detail::nvfbc_error_domain;
using tav::test::LogCapture;
using tav::test::nvfbc::Call;
using tav::test::nvfbc::location;
using tav::test::nvfbc::operations;
using tav::test::nvfbc::standin;
using tav::test::nvfbc::text;

constexpr unsigned long callersHandle = 1234;
constexpr std::uint32_t createHandleVersion = 0x06020028;

// createHandle with a handle and a version word of the caller's, which a failed load must leave alone.
struct Attempt {
    unsigned long handle = callersHandle;
    _NVFBC_CREATE_HANDLE_PARAMS params{tav::test::nvfbc::callersVersion, nullptr, 0, NVFBC_FALSE, nullptr, nullptr};
    Result result = NvFBC::instance().createHandle(&handle, &params);
};

Attempt createHandle() { return Attempt{}; }

void expectLoadFailure(const Attempt& attempt, const LogCapture& capture, const char* domain, int line)
{
    ASSERT_FALSE(attempt.result);
    EXPECT_EQ(text(attempt.result.error().domain().name()), domain);
    EXPECT_EQ(attempt.handle, callersHandle);
    EXPECT_EQ(attempt.params.dwVersion, tav::test::nvfbc::callersVersion);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    const std::string message = text(attempt.result.error().message());
    EXPECT_EQ(records[0].text.rfind("Create error in '" + std::string(domain) + "': " + message + " [] " +
                                        location(line), 0), 0u)
        << records[0].text;
}

// Until a load has succeeded no operation may call through the function list: each reports instead.
void expectOperationsRefused()
{
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.name);
        LogCapture capture;
        const auto outcome = operation.invoke(7);
        ASSERT_FALSE(outcome.result);
        const auto& value = outcome.result.error().value();
        EXPECT_EQ(value.status, NVFBC_ERR_BAD_REQUEST);
        EXPECT_EQ(text(outcome.result.error().message()),
                  "NvFBC failed: API call not expected - libnvidia-fbc.so.1 is not loaded: create a handle first");
        EXPECT_EQ(text(value.origin).rfind(location(operation.line), 0), 0u) << text(value.origin);
        EXPECT_EQ(capture.records(spdlog::level::debug).size(), 1u);
    }
}

TEST(NvFBCNotLoaded, OperationsReportInsteadOfCallingThroughTheEmptyList) { expectOperationsRefused(); }

TEST(NvFBCWithoutLibrary, ReportsDlopenAndRetriesTheWholeLoadOnTheNextCall)
{
    // The loader searches this directory, empty at first; the stand-in is put there once the absence is shown.
    const std::filesystem::path directory = std::getenv("TAV_NVFBC_LATE_DIR");
    const std::filesystem::path library = directory / "libnvidia-fbc.so.1";
    std::filesystem::remove(library);

    for (int attempt = 0; attempt < 2; ++attempt) {
        LogCapture capture;
        const Attempt failed = createHandle();
        expectLoadFailure(failed, capture, "dl error domain", 36);
        EXPECT_EQ(text(failed.result.error().message()),
                  "dlopen() failed: libnvidia-fbc.so.1: cannot open shared object file: No such file or directory");
        expectOperationsRefused();
    }
    EXPECT_EQ(standin().opens, 0);

    std::filesystem::copy_file(std::getenv("TAV_NVFBC_STANDIN"), library);
    const Attempt loaded = createHandle();
    std::filesystem::remove(library);
    ASSERT_TRUE(loaded.result) << text(loaded.result.error().message());
    EXPECT_EQ(standin().opens, 1);
    EXPECT_EQ(standin().calls, (std::vector<Call>{{"NvFBCCreateInstance", 0, 0x106},
                                                  {"nvFBCCreateHandle", 0, createHandleVersion}}));
}

TEST(NvFBCMissingCreateInstance, ReportsDlsymClosesTheLibraryAndRetriesOnTheNextCall)
{
    for (int attempt = 1; attempt <= 2; ++attempt) {
        LogCapture capture;
        const Attempt failed = createHandle();
        expectLoadFailure(failed, capture, "dl error domain", 50);
        const std::string message = text(failed.result.error().message());
        EXPECT_EQ(message.rfind("dlsym(NvFBCCreateInstance) failed: ", 0), 0u) << message;
        EXPECT_NE(message.find("undefined symbol: NvFBCCreateInstance"), std::string::npos) << message;
        // Opened again on every call, and closed again after the failure.
        EXPECT_EQ(standin().opens, attempt);
        EXPECT_EQ(standin().closes, attempt);
        expectOperationsRefused();
    }
}

TEST(NvFBCInstanceFailure, ReportsTheStatusClosesTheLibraryAndRetriesOnTheNextCall)
{
    standin().instanceStatus = NVFBC_ERR_API_VERSION;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        standin().calls.clear();
        LogCapture capture;
        const Attempt failed = createHandle();
        expectLoadFailure(failed, capture, "nvfbc error domain", 60);
        EXPECT_EQ(text(failed.result.error().message()),
                  "NvFBC failed: The API versions of the client and the library are not compatible - Failed to "
                  "create NvFBC instance");
        EXPECT_TRUE(failed.result.error().equivalent(system_error2::status_code<nvfbc_error_domain>(
            system_error2::in_place, NVFBC_ERR_API_VERSION, nullptr, nullptr, 0, boost::stacktrace::stacktrace(0, 0))));
        // No session exists whose last-error text could be asked for.
        EXPECT_EQ(standin().calls, (std::vector<Call>{{"NvFBCCreateInstance", 0, 0x106}}));
        EXPECT_EQ(standin().opens, attempt);
        EXPECT_EQ(standin().closes, attempt);
        // The failed creation filled the list with entries into a library that is closed again.
        expectOperationsRefused();
        EXPECT_EQ(standin().calls.size(), 1u);
    }

    standin().reset();
    const Attempt loaded = createHandle();
    ASSERT_TRUE(loaded.result) << text(loaded.result.error().message());
    EXPECT_EQ(loaded.handle, 1u);
    EXPECT_EQ(standin().opens, 3);
    EXPECT_EQ(standin().closes, 2);
    EXPECT_EQ(standin().calls, (std::vector<Call>{{"NvFBCCreateInstance", 0, 0x106},
                                                  {"nvFBCCreateHandle", 0, createHandleVersion}}));

    standin().reset();
    const Attempt again = createHandle();
    ASSERT_TRUE(again.result);
    EXPECT_EQ(again.handle, 1u);
    EXPECT_EQ(standin().opens, 3);
    EXPECT_EQ(standin().calls, (std::vector<Call>{{"nvFBCCreateHandle", 0, createHandleVersion}}));
}

// Instance creation that reports success but leaves empty an entry the binding calls: the load fails at the
// creation's line, naming the entry, the library is closed again and the next call repeats the whole load.
TEST(NvFBCIncompleteList, EachMissingEntryFailsTheLoadAndTheNextCallStartsOver)
{
    std::vector<std::string> entries = {"nvFBCGetLastErrorStr", "nvFBCCreateHandle"};
    for (const auto& operation : operations) {
        entries.emplace_back(operation.entry);
    }
    int attempts = 0;
    for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        standin().reset();
        standin().entriesLeftEmpty = {entry};
        LogCapture capture;

        const Attempt failed = createHandle();

        expectLoadFailure(failed, capture, "nvfbc error domain", 60);
        EXPECT_EQ(text(failed.result.error().message()),
                  "NvFBC failed: Requested feature is currently not supported by the library - NvFBCCreateInstance "
                  "left " + entry + " empty");
        EXPECT_EQ(standin().calls, (std::vector<Call>{{"NvFBCCreateInstance", 0, 0x106}}));
        ++attempts;
        EXPECT_EQ(standin().opens, attempts);
        EXPECT_EQ(standin().closes, attempts);
        expectOperationsRefused();
        EXPECT_EQ(standin().calls.size(), 1u);
    }

    standin().reset();
    const Attempt loaded = createHandle();
    ASSERT_TRUE(loaded.result) << text(loaded.result.error().message());
    EXPECT_EQ(loaded.handle, 1u);
    EXPECT_EQ(standin().opens, attempts + 1);
}

}  // namespace
