// Driver libraries that lack an entry point, exist only under their versioned name, or do not exist at all. Each
// scenario runs in a process of its own, whose loader search path holds that variant.
#include "operation_table.h"

#include "log_capture.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>

namespace tav::test::cuda {
namespace {

// Whether the loader finds a library of this name outside the stand-ins, which makes the scenario meaningless.
bool installedDriver(const char* name)
{
    void* handle = dlopen(name, RTLD_NOW);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

// The loader's complaint about a name it cannot find.
std::string openError(const char* name)
{
    EXPECT_EQ(dlopen(name, RTLD_NOW), nullptr);
    const char* error = dlerror();
    return error != nullptr ? error : "";
}

using CudaMissingSymbol = CudaFixture;

TEST_F(CudaMissingSymbol, LoadFailsWithTheSymbolAndItsLineAndLeavesNothingBehind)
{
    const char* symbol = std::getenv("TAV_TEST_MISSING_SYMBOL");
    ASSERT_NE(symbol, nullptr) << "the scenario names the symbol its stand-in lacks";
    const std::map<std::string, int> lines = {{"cuMemcpy3DPeerAsync", 76}, {"cuInit", 80}, {"cuDriverGetVersion", 84}};
    const int line = lines.at(symbol);
    std::vector<std::string> expectedLookups;
    for (const char* name : entryNames) {
        expectedLookups.emplace_back(name);
        if (expectedLookups.back() == symbol) {
            break;
        }
    }
    LogCapture capture;
    int count = -42;

    const Result result = cuda().deviceGetCount(&count);

    const auto* value = valueOf<dl_error_domain>(result);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->functionName, "dlsym");
    EXPECT_STREQ(value->symbolName, symbol);
    EXPECT_STREQ(value->libraryName, "libcuda.so");
    EXPECT_NE(text(value->errorText).find(symbol), std::string::npos) << text(value->errorText);
    EXPECT_EQ(text(result.error().message()),
              "dlsym(" + std::string(symbol) + ") failed: " + text(value->errorText));
    EXPECT_TRUE(startsWith(text(value->origin), originPrefix(line)));
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, creationRecord("dl error domain", text(result.error().message()), text(value->origin)));

    EXPECT_EQ(count, -42);
    EXPECT_EQ(dl::lookups(), expectedLookups);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(closeCount(), openCount());

    // The table was cleared: entries resolved before the missing one are not used.
    const Result converted = cuda().wrapResult(static_cast<CUresult>(2), "src/cuvid", 5);
    EXPECT_EQ(text(converted.error().message()), "CUDA failed: code 2");
    EXPECT_TRUE(calls().empty());

    const Result again = cuda().deviceGetCount(&count);
    EXPECT_STREQ(valueOf<dl_error_domain>(again)->symbolName, symbol);
    EXPECT_EQ(dl::cudaOpens().size(), 2u);
}

using CudaWithoutDriver = CudaFixture;

TEST_F(CudaWithoutDriver, FirstOperationReportsTheUnversionedOpenAndTriesAgainNextTime)
{
    if (installedDriver("libcuda.so") || installedDriver("libcuda.so.1")) {
        GTEST_SKIP() << "a CUDA driver is installed on this machine";
    }
    const std::string loaderText = openError("libcuda.so");
    dl::reset();
    LogCapture capture;
    int count = -42;

    const Result result = cuda().deviceGetCount(&count);

    const auto* value = valueOf<dl_error_domain>(result);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->libraryName, "libcuda.so");
    EXPECT_STREQ(value->functionName, "dlopen");
    EXPECT_EQ(value->symbolName, nullptr);
    EXPECT_EQ(text(value->errorText), loaderText);
    EXPECT_EQ(text(result.error().message()), "dlopen() failed: " + loaderText);
    EXPECT_EQ(text(result.error().domain().name()), "dl error domain");
    EXPECT_TRUE(startsWith(text(value->origin), originPrefix(61)));
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text,
              creationRecord("dl error domain", "dlopen() failed: " + loaderText, text(value->origin)));
    EXPECT_EQ(count, -42);

    const auto opens = dl::cudaOpens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].file, "libcuda.so");
    EXPECT_EQ(opens[1].file, "libcuda.so.1");
    EXPECT_EQ(opens[0].mode, RTLD_NOW);
    EXPECT_EQ(opens[1].mode, RTLD_NOW);
    EXPECT_TRUE(dl::lookups().empty());

    EXPECT_TRUE(cuda().deviceGetCount(&count).has_error());
    EXPECT_EQ(dl::cudaOpens().size(), 4u);
    EXPECT_FALSE(cuda().unloadLib().has_error());
    EXPECT_EQ(dl::closeCount(), 0);
}

TEST_F(CudaWithoutDriver, EveryOperationReturnsTheLoadErrorAndLeavesOutParametersAlone)
{
    if (installedDriver("libcuda.so") || installedDriver("libcuda.so.1")) {
        GTEST_SKIP() << "a CUDA driver is installed on this machine";
    }
    OutParameters out;
    std::memset(&out, 0xa5, sizeof out);
    OutParameters untouched;
    std::memcpy(&untouched, &out, sizeof out);
    for (const Operation& op : operations(out)) {
        SCOPED_TRACE(op.name);
        const Result result = op.call(cuda());
        const auto* value = valueOf<dl_error_domain>(result);
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value->functionName, "dlopen");
        EXPECT_TRUE(startsWith(text(value->origin), originPrefix(61)));
    }
    EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
}

using CudaVersionedOnly = CudaFixture;

TEST_F(CudaVersionedOnly, FallsBackToTheVersionedNameQuietly)
{
    if (installedDriver("libcuda.so")) {
        GTEST_SKIP() << "a CUDA driver with the unversioned name is installed on this machine";
    }
    dl::reset();
    LogCapture capture;
    int count = 0;

    EXPECT_FALSE(cuda().deviceGetCount(&count).has_error());

    const auto opens = dl::cudaOpens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].file, "libcuda.so");
    EXPECT_EQ(opens[1].file, "libcuda.so.1");
    EXPECT_EQ(calls(Entry::cuInit).size(), 1u);
    EXPECT_EQ(calls(Entry::cuDeviceGetCount).size(), 1u);
    EXPECT_TRUE(capture.records().empty());

    // Later errors name the file that was actually opened.
    dl::failNextClose("refused");
    const Result closed = cuda().unloadLib();
    const auto* value = valueOf<dl_error_domain>(closed);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->libraryName, "libcuda.so.1");
    EXPECT_EQ(text(closed.error().message()), "dlclose() failed: refused");
}

}  // namespace
}  // namespace tav::test::cuda
