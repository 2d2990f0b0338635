// Sixteen threads make their first call of a binding at the same moment: one load happens (or, when it fails, each
// attempt cleans up after itself) and every thread gets the same outcome. Run under ThreadSanitizer, this also
// shows that publishing the loaded table is properly ordered with its use.
#include "../cuda/standin_control.h"
#include "../cuvid/standin/control.h"
#include "../nvenc/standin/control.h"
#include "../nvfbc/standin/control.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::NvFBC;
using tav::nvidia::Result;

constexpr int threadCount = 16;

// Runs call on threadCount threads released together, and returns what each got.
template <class Call>
std::vector<Result> raceFirstCalls(Call call)
{
    std::atomic<int> waiting{threadCount};
    std::vector<std::optional<Result>> outcomes(threadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0) {
                std::this_thread::yield();
            }
            outcomes[i].emplace(call());
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<Result> results;
    for (std::optional<Result>& outcome : outcomes) {
        results.push_back(std::move(*outcome));
    }
    return results;
}

void expectAllSucceeded(const std::vector<Result>& results)
{
    for (const Result& result : results) {
        EXPECT_FALSE(result.has_error()) << result.error().message().c_str();
    }
}

// Every thread got an error of one domain with one message; returns it.
std::string commonMessage(const std::vector<Result>& results)
{
    std::vector<std::string> messages;
    for (const Result& result : results) {
        if (!result.has_error()) {
            ADD_FAILURE() << "a thread succeeded";
            return {};
        }
        EXPECT_EQ(&result.error().domain(), &results.front().error().domain());
        messages.emplace_back(result.error().message().c_str());
    }
    EXPECT_EQ(std::count(messages.begin(), messages.end(), messages.front()), threadCount);
    return messages.front();
}

// With every stand-in driver offered.

TEST(FirstUse, CudaOpensAndInitialisesOnce)
{
    namespace standin = tav::test::cuda;
    // A slow cuInit keeps the other threads arriving while the load is under way.
    standin::setInitDelayMilliseconds(20);
    int counts[threadCount] = {};
    std::atomic<int> next{0};
    const std::vector<Result> results = raceFirstCalls([&] { return Cuda::instance().deviceGetCount(&counts[next++]); });

    expectAllSucceeded(results);
    EXPECT_EQ(standin::openCount(), 1);
    EXPECT_EQ(standin::calls(standin::Entry::cuInit).size(), 1u);
    EXPECT_EQ(standin::calls(standin::Entry::cuDeviceGetCount).size(), static_cast<std::size_t>(threadCount));
}

TEST(FirstUse, CuVidLoadsOnce)
{
    expectAllSucceeded(raceFirstCalls([] { return CuVid::instance().loadLib(); }));
    EXPECT_EQ(tav::test::cuvid::loads(), 1);
    EXPECT_EQ(tav::test::cuvid::unloads(), 0);
}

TEST(FirstUse, NvEncLoadsAndCreatesOneInstance)
{
    expectAllSucceeded(raceFirstCalls([] { return NvEnc::instance().loadLib(); }));
    EXPECT_EQ(tav::test::nvenc::standIn().loads, 1);
    EXPECT_EQ(tav::test::nvenc::standIn().unloads, 0);
    EXPECT_EQ(tav::test::nvenc::standIn().createInstanceCalls, 1);
}

TEST(FirstUse, NvFBCLoadsAndCreatesOneInstance)
{
    expectAllSucceeded(raceFirstCalls([] { return NvFBC::instance().loadLib(); }));
    const tav::test::nvfbc::Standin& standin = tav::test::nvfbc::standin();
    EXPECT_EQ(standin.opens, 1);
    EXPECT_EQ(standin.closes, 0);
    ASSERT_EQ(standin.calls.size(), 1u);
    EXPECT_EQ(standin.calls[0].entry, "NvFBCCreateInstance");
}

// With drivers whose load fails after the library was opened: each thread's attempt closes what it opened.

TEST(FirstUseFailing, CudaInitialisation)
{
    namespace standin = tav::test::cuda;
    standin::setStatus(standin::Entry::cuInit, 100);
    const std::vector<Result> results = raceFirstCalls([] { return Cuda::instance().ctxSynchronize(); });

    EXPECT_EQ(commonMessage(results), "CUDA failed: stand-in error text");
    EXPECT_EQ(standin::openCount(), threadCount);
    EXPECT_EQ(standin::closeCount(), threadCount);
}

TEST(FirstUseFailing, CuVidMissingEntryPoint)
{
    const std::vector<Result> results = raceFirstCalls([] { return CuVid::instance().destroyDecoder(nullptr); });

    EXPECT_EQ(commonMessage(results), "Failed to open cuvid");
    EXPECT_EQ(tav::test::cuvid::loads(), threadCount);
    EXPECT_EQ(tav::test::cuvid::unloads(), threadCount);
}

TEST(FirstUseFailing, NvEncInstanceCreation)
{
    tav::test::nvenc::standIn().createInstanceStatus = NV_ENC_ERR_INVALID_VERSION;
    const std::vector<Result> results = raceFirstCalls([] { return NvEnc::instance().destroyEncoder(nullptr); });

    EXPECT_EQ(commonMessage(results), "NvEnc failed: Invalid struct version used");
    EXPECT_EQ(tav::test::nvenc::standIn().loads, threadCount);
    EXPECT_EQ(tav::test::nvenc::standIn().unloads, threadCount);
    EXPECT_EQ(tav::test::nvenc::standIn().createInstanceCalls, threadCount);
}

TEST(FirstUseFailing, NvFBCInstanceCreation)
{
    tav::test::nvfbc::standin().instanceStatus = NVFBC_ERR_API_VERSION;
    const std::vector<Result> results = raceFirstCalls([] {
        unsigned long handle = 0;
        _NVFBC_CREATE_HANDLE_PARAMS params{};
        return NvFBC::instance().createHandle(&handle, &params);
    });

    EXPECT_EQ(commonMessage(results), "NvFBC failed: The API versions of the client and the library are not compatible - "
                                     "Failed to create NvFBC instance");
    EXPECT_EQ(tav::test::nvfbc::standin().opens, threadCount);
    EXPECT_EQ(tav::test::nvfbc::standin().closes, threadCount);
}

// Without any driver.

TEST(FirstUseAbsent, EveryBindingGivesEveryThreadTheSameError)
{
    EXPECT_EQ(commonMessage(raceFirstCalls([] { return Cuda::instance().ctxSynchronize(); }))
                  .rfind("dlopen() failed: libcuda.so: ", 0),
              0u);
    EXPECT_EQ(commonMessage(raceFirstCalls([] { return CuVid::instance().destroyDecoder(nullptr); })),
              "Failed to open cuvid");
    EXPECT_EQ(commonMessage(raceFirstCalls([] { return NvEnc::instance().destroyEncoder(nullptr); })),
              "Failed to open nvenc");
    const std::vector<Result> capture = raceFirstCalls([] {
        unsigned long handle = 0;
        _NVFBC_CREATE_HANDLE_PARAMS params{};
        return NvFBC::instance().createHandle(&handle, &params);
    });
    EXPECT_EQ(commonMessage(capture).rfind("dlopen() failed: libnvidia-fbc.so.1: ", 0), 0u);
}

}  // namespace
