// A call of each binding on a machine without its driver library: the failed load, with its error, every time.
#include "benchmarks.h"
#include "driver_slot.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <string>

namespace tav::bench {

namespace {

bool cudaCall()
{
    int count = 0;
    return static_cast<bool>(nvidia::Cuda::instance().deviceGetCount(&count));
}

bool cuvidCall() { return static_cast<bool>(nvidia::CuVid::instance().ctxUnlock(nullptr, 0)); }

bool nvencCall() { return static_cast<bool>(nvidia::NvEnc::instance().unlockBitstream(nullptr, nullptr)); }

bool nvfbcCall()
{
    unsigned long handle = 0;
    NVFBC_CREATE_HANDLE_PARAMS params{};
    return static_cast<bool>(nvidia::NvFBC::instance().createHandle(&handle, &params));
}

template <auto Call>
void missingDriver(benchmark::State& state, const char* library)
{
    withdrawDrivers();
    // Only the CUDA binding can let go of its library; the others keep it once loaded.
    static_cast<void>(nvidia::Cuda::instance().unloadLib());
    if (void* const loaded = dlopen(library, RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(loaded);
        state.SkipWithError((std::string(library) + " is loaded already: run these benchmarks first").c_str());
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Call());
    }
}

template <auto Call>
void registerMissing(const char* operation, const char* library)
{
    benchmark::RegisterBenchmark((std::string("MissingDriver/") + operation).c_str(),
                                 [library](benchmark::State& state) { missingDriver<Call>(state, library); });
}

}  // namespace

void registerMissingDriver()
{
    registerMissing<&cudaCall>("Cuda.deviceGetCount", "libcuda.so");
    registerMissing<&cuvidCall>("CuVid.ctxUnlock", "libnvcuvid.so.1");
    registerMissing<&nvencCall>("NvEnc.unlockBitstream", "libnvidia-encode.so.1");
    registerMissing<&nvfbcCall>("NvFBC.createHandle", "libnvidia-fbc.so.1");
}

}  // namespace tav::bench
