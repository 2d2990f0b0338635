#include <tav/nvidia/nvenc>

#include "alloc_failure.h"
#include "control.h"
#include "log_capture.h"
#include "operation_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::NvEnc;
using tav::nvidia::Result;
using tav::test::LogCapture;
using namespace tav::test::nvenc;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The result and records of a loader failure: "Failed to open nvenc" at line 38, after the loader's own
// error-level record naming what it could not load (none when it could not even allocate its record).
void expectLoaderFailure(const Result& result, const LogCapture& capture, const char* missing)
{
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(text(result.error().domain().name()), "nvcodecheader error domain");
    EXPECT_EQ(text(result.error().message()), "Failed to open nvenc");

    const auto records = capture.records();
    const std::size_t loaderRecords = missing != nullptr ? 1 : 0;
    ASSERT_EQ(records.size(), loaderRecords + 1);
    if (missing != nullptr) {
        EXPECT_EQ(records[0].level, spdlog::level::err);
        EXPECT_EQ(records[0].text, std::string("Cannot load ") + missing + "\n");
        EXPECT_TRUE(endsWith(records[0].file, "ffnvcodec/dynlink_loader.h")) << records[0].file;
        EXPECT_EQ(records[0].function, "nvenc_load_functions");
    }
    const auto& debug = records[loaderRecords];
    EXPECT_EQ(debug.level, spdlog::level::debug);
    const std::string expected = "Create error in 'nvcodecheader error domain': Failed to open nvenc [] (src/nvenc:38)\n";
    EXPECT_EQ(debug.text.substr(0, expected.size()), expected);
}

// Each load opens the library afresh and leaves it closed again.
void expectMissingSymbol(const char* symbol)
{
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        LogCapture capture;
        const Result result = NvEnc::instance().loadLib();
        expectLoaderFailure(result, capture, symbol);
        EXPECT_EQ(standIn().loads, attempt);
        EXPECT_EQ(standIn().unloads, attempt);
    }
    EXPECT_EQ(standIn().createInstanceCalls, 0);
    EXPECT_EQ(standIn().maxSupportedVersionCalls, 0);
}

TEST(NvEncMissingSymbol, NvEncodeAPICreateInstance) { expectMissingSymbol("NvEncodeAPICreateInstance"); }

TEST(NvEncMissingSymbol, NvEncodeAPIGetMaxSupportedVersion) { expectMissingSymbol("NvEncodeAPIGetMaxSupportedVersion"); }

// A machine with the encoder installed system-wide finds it whatever the search path says.
bool encoderInstalled() { return NvEnc::instance().loadLib().has_value(); }

TEST(NvEncWithoutLibrary, LoadLibFailsAndTriesAgainNextTime)
{
    if (encoderInstalled()) {
        GTEST_SKIP() << "libnvidia-encode.so.1 is installed on this machine";
    }
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        LogCapture capture;
        const Result result = NvEnc::instance().loadLib();
        expectLoaderFailure(result, capture, "libnvidia-encode.so.1");
    }
}

TEST(NvEncWithoutLibrary, NoOperationWritesAVersionWordOrCallsTheLibrary)
{
    if (encoderInstalled()) {
        GTEST_SKIP() << "libnvidia-encode.so.1 is installed on this machine";
    }
    for (const Operation& operation : operations()) {
        SCOPED_TRACE(operation.name);
        Probe probe;
        LogCapture capture;

        const Result result = operation.call(probe);

        expectLoaderFailure(result, capture, "libnvidia-encode.so.1");
        EXPECT_EQ(probe.bytes(), probe.expectedBytes({}));
    }
    EXPECT_EQ(standIn().loads, 0);
    EXPECT_TRUE(standIn().calls.empty());
}

TEST(NvEncRecordAllocation, FailureWritesNoLoaderRecordAndTheNextLoadSucceeds)
{
    {
        LogCapture capture;
        tav::test::AllocationFailure failure(1);
        const Result result = NvEnc::instance().loadLib();
        tav::test::stopAllocationFailures();
        expectLoaderFailure(result, capture, nullptr);
    }
    EXPECT_EQ(standIn().loads, 0);

    EXPECT_TRUE(NvEnc::instance().loadLib().has_value());
    EXPECT_EQ(standIn().loads, 1);
    EXPECT_EQ(standIn().createInstanceCalls, 1);
}

TEST(NvEncInstanceCreation, FailureClosesTheLibraryAndTheNextCallStartsOver)
{
    standIn().createInstanceStatus = NV_ENC_ERR_INVALID_VERSION;
    {
        LogCapture capture;
        const Result result = NvEnc::instance().loadLib();
        ASSERT_TRUE(result.has_error());
        EXPECT_EQ(text(result.error().domain().name()), "nvenc error domain");
        EXPECT_EQ(text(result.error().message()), "NvEnc failed: Invalid struct version used");
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        const std::string expected =
            "Create error in 'nvenc error domain': NvEnc failed: Invalid struct version used [] (src/nvenc:41)\n";
        EXPECT_EQ(records[0].text.substr(0, expected.size()), expected);
    }
    EXPECT_EQ(standIn().createInstanceCalls, 1);
    EXPECT_EQ(standIn().listVersionSeen, 0x71020008u);
    EXPECT_EQ(standIn().unloads, standIn().loads);

    // Still failing: the operation reports the creation failure again and calls no entry.
    NV_ENC_INITIALIZE_PARAMS params{};
    const Result again = NvEnc::instance().initializeEncoder(nullptr, &params);
    ASSERT_TRUE(again.has_error());
    EXPECT_EQ(text(again.error().message()), "NvEnc failed: Invalid struct version used");
    EXPECT_EQ(params.version, 0u);
    EXPECT_TRUE(standIn().calls.empty());
    EXPECT_EQ(standIn().createInstanceCalls, 2);
    EXPECT_EQ(standIn().loads, 2);

    standIn().createInstanceStatus = NV_ENC_SUCCESS;
    EXPECT_TRUE(NvEnc::instance().initializeEncoder(nullptr, &params).has_value());
    EXPECT_EQ(standIn().createInstanceCalls, 3);
    EXPECT_EQ(standIn().loads, 3);
    ASSERT_EQ(standIn().calls.size(), 1u);
    EXPECT_EQ(standIn().calls[0].entry, offsetof(NV_ENCODE_API_FUNCTION_LIST, nvEncInitializeEncoder));
}

// Instance creation that reports success but leaves an entry an operation needs empty: the load fails at the
// creation's line and closes the library, and the operation calls nothing.
TEST(NvEncIncompleteList, EachMissingEntryFailsTheLoadAndTheNextCallStartsOver)
{
    const std::string message = "NvEnc failed: Feature not implemented";
    for (const Operation& operation : operations()) {
        SCOPED_TRACE(operation.name);
        standIn().entriesLeftEmpty = {operation.entry};
        const int loadsBefore = standIn().loads;
        {
            LogCapture capture;
            const Result result = NvEnc::instance().loadLib();
            ASSERT_TRUE(result.has_error());
            EXPECT_EQ(text(result.error().domain().name()), "nvenc error domain");
            EXPECT_EQ(text(result.error().message()), message);
            const auto records = capture.records();
            ASSERT_EQ(records.size(), 1u);
            const std::string expected = "Create error in 'nvenc error domain': " + message + " [] (src/nvenc:41)\n";
            EXPECT_EQ(records[0].text.substr(0, expected.size()), expected);
        }
        EXPECT_EQ(standIn().unloads, standIn().loads);

        Probe probe;
        const Result again = operation.call(probe);
        ASSERT_TRUE(again.has_error());
        EXPECT_EQ(text(again.error().message()), message);
        EXPECT_TRUE(standIn().calls.empty());
        EXPECT_EQ(standIn().loads, loadsBefore + 2);
        EXPECT_EQ(standIn().unloads, standIn().loads);
    }

    standIn().entriesLeftEmpty.clear();
    Probe probe;
    const Operation& last = operations().back();
    EXPECT_TRUE(last.call(probe).has_value());
    ASSERT_EQ(standIn().calls.size(), 1u);
    EXPECT_EQ(standIn().calls[0].entry, last.entry);
}

}  // namespace
