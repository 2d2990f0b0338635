// A successful call of each binding beside the same entry point called through a pointer of our own, at 1, 2 and
// 4 threads, with the allocations of each call counted.
#include "alloc_failure.h"
#include "baseline_reporter.h"
#include "benchmarks.h"
#include "driver_slot.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <benchmark/benchmark.h>

#include <string>

namespace tav::bench {

namespace {

using nvidia::Cuda;
using nvidia::CuVid;
using nvidia::NvEnc;
using nvidia::NvFBC;

constexpr int countedCalls = 1000;

// Each prepared call below returns whether it succeeded. Preparing one loads the binding or resolves the entry
// point; that happens once per process (the statics) and before the timed loop.

auto cudaRaw()
{
    static const auto entry = reinterpret_cast<CUresult (*)()>(resolve("libcuda.so", "cuCtxSynchronize"));
    return [] { return entry() == CUDA_SUCCESS; };
}

auto cudaBinding()
{
    offerDrivers();
    static Cuda& cuda = Cuda::instance();
    return [] { return static_cast<bool>(cuda.ctxSynchronize()); };
}

auto cuvidRaw()
{
    static const auto entry =
        reinterpret_cast<CUresult (*)(_CUcontextlock_st*, unsigned int)>(resolve("libnvcuvid.so.1", "cuvidCtxUnlock"));
    return [] { return entry(nullptr, 0) == CUDA_SUCCESS; };
}

auto cuvidBinding()
{
    offerDrivers();
    static CuVid& cuvid = CuVid::instance();
    return [] { return static_cast<bool>(cuvid.ctxUnlock(nullptr, 0)); };
}

auto nvencRaw()
{
    static const auto entry = [] {
        const auto create = reinterpret_cast<NVENCSTATUS(NVENCAPI*)(NV_ENCODE_API_FUNCTION_LIST*)>(
            resolve("libnvidia-encode.so.1", "NvEncodeAPICreateInstance"));
        NV_ENCODE_API_FUNCTION_LIST list{};
        list.version = NV_ENCODE_API_FUNCTION_LIST_VER;
        return create(&list) == NV_ENC_SUCCESS ? list.nvEncUnlockBitstream : nullptr;
    }();
    return [] { return entry(nullptr, nullptr) == NV_ENC_SUCCESS; };
}

auto nvencBinding()
{
    offerDrivers();
    static NvEnc& nvenc = NvEnc::instance();
    return [] { return static_cast<bool>(nvenc.unlockBitstream(nullptr, nullptr)); };
}

// A session of the capture library, created by the library's own entry points.
struct RawCapture {
    NVFBC_API_FUNCTION_LIST list{};
    NVFBC_SESSION_HANDLE handle = 0;
};

auto nvfbcRaw()
{
    static const RawCapture capture = [] {
        const auto create = reinterpret_cast<NVFBCSTATUS (*)(NVFBC_API_FUNCTION_LIST*)>(
            resolve("libnvidia-fbc.so.1", "NvFBCCreateInstance"));
        RawCapture session;
        session.list.dwVersion = 0x106;
        NVFBC_CREATE_HANDLE_PARAMS params{};
        params.dwVersion = 0x06020028;
        if (create(&session.list) != NVFBC_SUCCESS ||
            session.list.nvFBCCreateHandle(&session.handle, &params) != NVFBC_SUCCESS) {
            session.list.nvFBCToSysGrabFrame = nullptr;
        }
        return session;
    }();
    NVFBC_TOSYS_GRAB_FRAME_PARAMS grab{};
    grab.dwVersion = 0x06020018;
    return [params = grab]() mutable {
        return capture.list.nvFBCToSysGrabFrame(capture.handle, &params) == NVFBC_SUCCESS;
    };
}

auto nvfbcBinding()
{
    offerDrivers();
    static const unsigned long handle = [] {
        unsigned long created = 0;
        NVFBC_CREATE_HANDLE_PARAMS params{};
        static_cast<void>(NvFBC::instance().createHandle(&created, &params));
        return created;
    }();
    static NvFBC& nvfbc = NvFBC::instance();
    return [params = NVFBC_TOSYS_GRAB_FRAME_PARAMS{}]() mutable {
        return static_cast<bool>(nvfbc.toSysGrabFrame(handle, &params));
    };
}

// Times the prepared call, then counts the allocations of countedCalls more calls on this thread.
template <class Prepare>
void calls(benchmark::State& state, Prepare prepare)
{
    auto call = prepare();
    // Skipped runs still enter the loop, which the threads of a run pass together.
    if (!call()) {
        state.SkipWithError("the call failed");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(call());
    }
    if (state.error_occurred()) {
        return;
    }
    state.SetItemsProcessed(state.iterations());

    test::countAllocations();
    for (int i = 0; i < countedCalls; ++i) {
        call();
    }
    const std::size_t allocations = test::allocationCount();
    test::stopAllocationFailures();
    state.counters["allocs_per_call"] =
        benchmark::Counter(static_cast<double>(allocations) / countedCalls, benchmark::Counter::kAvgThreads);
}

template <auto PrepareRaw, auto PrepareBinding>
void registerPair(const std::string& operation)
{
    const std::string name = "Call/" + operation;
    benchmark::RegisterBenchmark((name + "/raw").c_str(), [](benchmark::State& state) { calls(state, PrepareRaw); })
        ->ThreadRange(1, 4)
        ->UseRealTime();
    benchmark::RegisterBenchmark((name + "/binding").c_str(),
                                 [](benchmark::State& state) { calls(state, PrepareBinding); })
        ->ThreadRange(1, 4)
        ->UseRealTime();
    compareWith(name + "/binding", name + "/raw");
}

}  // namespace

void registerCalls()
{
    registerPair<&cudaRaw, &cudaBinding>("Cuda.ctxSynchronize");
    registerPair<&cuvidRaw, &cuvidBinding>("CuVid.ctxUnlock");
    registerPair<&nvencRaw, &nvencBinding>("NvEnc.unlockBitstream");
    registerPair<&nvfbcRaw, &nvfbcBinding>("NvFBC.toSysGrabFrame");
}

}  // namespace tav::bench
