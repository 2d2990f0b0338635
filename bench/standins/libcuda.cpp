// A CUDA driver that does nothing: every entry point succeeds at once and records nothing, so that a benchmark
// measures the caller and not the driver.
#include <tav/nvidia/cudaentrypoints>

#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

// The only entry point with an answer to give: the text of a failing status, for the error benchmarks.
TAV_BENCH_EXPORT CUresult cuGetErrorString(CUresult, const char** text)
{
    *text = "invalid argument";
    return CUDA_SUCCESS;
}

// Keeps the table's cuGetErrorString, defined above, out of the expansion below.
#define cuGetErrorString cuGetErrorString_defined_above

#pragma GCC diagnostic ignored "-Wunused-parameter"
#define TAV_BENCH_SUCCEED(symbol, missingLine, parameters) \
    TAV_BENCH_EXPORT CUresult symbol parameters { return CUDA_SUCCESS; }
TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_BENCH_SUCCEED)
