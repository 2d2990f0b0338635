// Loading and unloading against the complete stand-in driver.
#include "cuda_test_support.h"

#include "alloc_failure.h"
#include "log_capture.h"

#include <dlfcn.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tav::test::cuda {
namespace {

using CudaLoader = CudaFixture;

std::vector<std::uint64_t> initFlags()
{
    std::vector<std::uint64_t> flags;
    for (const Call& call : calls(Entry::cuInit)) {
        flags.push_back(call.arguments.at(0));
    }
    return flags;
}

TEST_F(CudaLoader, LoadsOnceWithTheFirstFlagsAndWritesNoRecord)
{
    LogCapture capture;
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    ASSERT_FALSE(cuda().loadLib(5).has_error());

    EXPECT_EQ(initFlags(), std::vector<std::uint64_t>{0});
    const auto opens = dl::cudaOpens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].file, "libcuda.so");
    EXPECT_EQ(opens[0].mode, RTLD_NOW);
    std::vector<std::string> expected(std::begin(entryNames), std::end(entryNames));
    EXPECT_EQ(dl::lookups(), expected);
    EXPECT_TRUE(capture.records().empty());
}

TEST_F(CudaLoader, UnloadThenAnyOperationLoadsAgainWithFlagsZero)
{
    ASSERT_FALSE(cuda().loadLib(7).has_error());
    const int closedBefore = closeCount();
    ASSERT_FALSE(cuda().unloadLib().has_error());
    EXPECT_EQ(dl::closeCount(), 1);
    EXPECT_EQ(closeCount(), closedBefore + 1);

    CUdevice device = -1;
    ASSERT_FALSE(cuda().deviceGet(&device, 3).has_error());
    EXPECT_EQ(dl::cudaOpens().size(), 2u);
    EXPECT_EQ(initFlags(), (std::vector<std::uint64_t>{7, 0}));
    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[1].entry, Entry::cuInit);
    EXPECT_EQ(recorded[2].entry, Entry::cuDeviceGet);
    EXPECT_EQ(recorded[2].arguments, (std::vector<std::uint64_t>{bits(&device), 3}));
}

TEST_F(CudaLoader, UnloadOfAnUnloadedBindingClosesNothing)
{
    EXPECT_FALSE(cuda().unloadLib().has_error());
    EXPECT_FALSE(cuda().unloadLib().has_error());
    EXPECT_EQ(dl::closeCount(), 0);
}

TEST_F(CudaLoader, FailingInitReturnsTheCudaErrorClosesAndClearsTheTable)
{
    setStatus(Entry::cuInit, 3);
    setErrorText(TextMode::text, "initialization error");
    LogCapture capture;
    int count = -42;
    const int openedBefore = openCount();

    const Result result = cuda().deviceGetCount(&count);

    const auto* value = valueOf<cuda_error_domain>(result);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->status, 3);
    EXPECT_EQ(text(result.error().message()), "CUDA failed: initialization error");
    EXPECT_EQ(text(result.error().domain().name()), "cuda error domain");
    EXPECT_TRUE(startsWith(text(value->origin), originPrefix(87)));
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    EXPECT_EQ(records[0].text,
              creationRecord("cuda error domain", "CUDA failed: initialization error", text(value->origin)));
    EXPECT_EQ(count, -42);
    EXPECT_TRUE(calls(Entry::cuDeviceGetCount).empty());
    // The driver's text lived in the closed library: the error holds its own copy.
    EXPECT_EQ(closeCount(), openCount());
    EXPECT_EQ(dl::closeCount(), 1);

    // The table is gone with the library: no text can be fetched any more.
    const std::size_t textCalls = calls(Entry::cuGetErrorString).size();
    const Result later = cuda().wrapResult(static_cast<CUresult>(3), "src/cuvid", 9);
    EXPECT_EQ(text(later.error().message()), "CUDA failed: code 3");
    EXPECT_EQ(calls(Entry::cuGetErrorString).size(), textCalls);

    // Nothing is remembered: the next operation opens and initialises again.
    const Result again = cuda().deviceGetCount(&count);
    EXPECT_TRUE(startsWith(text(valueOf<cuda_error_domain>(again)->origin), originPrefix(87)));
    EXPECT_EQ(dl::cudaOpens().size(), 2u);
    EXPECT_EQ(openCount(), openedBefore + 2);
    EXPECT_EQ(initFlags(), (std::vector<std::uint64_t>{0, 0}));
}

TEST_F(CudaLoader, FailingCloseReturnsTheLoaderErrorAndForgetsTheLibrary)
{
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    dl::failNextClose("stand-in: close refused {} %s");
    LogCapture capture;

    const Result result = cuda().unloadLib();

    const auto* value = valueOf<dl_error_domain>(result);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(text(result.error().message()), "dlclose() failed: stand-in: close refused {} %s");
    EXPECT_STREQ(value->libraryName, "libcuda.so");
    EXPECT_STREQ(value->functionName, "dlclose");
    EXPECT_EQ(value->symbolName, nullptr);
    EXPECT_TRUE(startsWith(text(value->origin), originPrefix(100)));
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, creationRecord("dl error domain", "dlclose() failed: stand-in: close refused {} %s",
                                              text(value->origin)));

    // Unloaded all the same.
    EXPECT_FALSE(cuda().unloadLib().has_error());
    EXPECT_EQ(dl::closeCount(), 1);
    int count = 0;
    EXPECT_FALSE(cuda().deviceGetCount(&count).has_error());
    EXPECT_EQ(dl::cudaOpens().size(), 2u);
}

TEST_F(CudaLoader, UnloadClearsTheTableSoConversionsNeverReachTheClosedLibrary)
{
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    ASSERT_FALSE(cuda().unloadLib().has_error());
    LogCapture capture;

    const Result result = cuda().wrapResult(static_cast<CUresult>(700), "src/cuvid", 12);

    EXPECT_EQ(text(result.error().message()), "CUDA failed: code 700");
    EXPECT_TRUE(calls(Entry::cuGetErrorString).empty());
    EXPECT_EQ(capture.records().size(), 1u);
}

TEST_F(CudaLoader, ConcurrentFirstLoadOpensAndInitialisesOnce)
{
    constexpr int threadCount = 8;
    setInitDelayMilliseconds(50);
    std::atomic<int> waiting{threadCount};
    std::vector<int> counts(threadCount, -1);
    std::vector<bool> failed(threadCount, true);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0) {
            }
            failed[i] = cuda().deviceGetCount(&counts[i]).has_error();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(std::count(failed.begin(), failed.end(), true), 0);
    EXPECT_EQ(dl::cudaOpens().size(), 1u);
    EXPECT_EQ(calls(Entry::cuInit).size(), 1u);
    EXPECT_EQ(calls(Entry::cuDeviceGetCount).size(), static_cast<std::size_t>(threadCount));
}

TEST_F(CudaLoader, ConcurrentFailingFirstLoadGivesEveryCallerTheInitError)
{
    constexpr int threadCount = 4;
    setStatus(Entry::cuInit, 101);
    std::atomic<int> waiting{threadCount};
    std::vector<Result> results;
    results.reserve(threadCount);
    for (int i = 0; i < threadCount; ++i) {
        results.emplace_back(BOOST_OUTCOME_V2_NAMESPACE::success());
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0) {
            }
            results[i] = cuda().ctxSynchronize();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (const Result& result : results) {
        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->status, 101);
        EXPECT_TRUE(startsWith(text(value->origin), originPrefix(87)));
    }
    EXPECT_TRUE(calls(Entry::cuCtxSynchronize).empty());
    EXPECT_EQ(closeCount(), openCount());
}

TEST_F(CudaLoader, SuccessfulOperationAllocatesNothingAndWritesNoRecord)
{
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    LogCapture capture;
    int count = 0;
    countAllocations();
    const bool failed = cuda().deviceGetCount(&count).has_error();
    const bool wrappedFailed = cuda().wrapResult(CUDA_SUCCESS, "src/cuda", 1).has_error();
    const std::size_t allocations = allocationCount();
    stopAllocationFailures();

    EXPECT_FALSE(failed);
    EXPECT_FALSE(wrappedFailed);
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(capture.records().empty());
}

}  // namespace
}  // namespace tav::test::cuda
