// The whole life of one error of each domain, from the failing status to the destruction of the result, with the
// default logger at info and at debug, beside the floor: capturing and rendering a stack trace as deep as the
// error's.
#include "alloc_failure.h"
#include "baseline_reporter.h"
#include "benchmarks.h"
#include "driver_slot.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <benchmark/benchmark.h>
#include <boost/stacktrace.hpp>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

namespace tav::bench {

namespace {

using base::system_error2_detail::failure;
using nvidia::Result;

constexpr char benchFile[] = "src/bench";
constexpr int benchLine = 1;
constexpr int countedErrors = 100;

// Each maker creates one error of its domain the way the library does at a failing call.

Result dlError()
{
    return failure<nvidia::detail::dl_error_domain>("libcuda.so", "dlsym", "cuInit",
                                                    "libcuda.so: undefined symbol: cuInit", benchFile, benchLine,
                                                    boost::stacktrace::stacktrace());
}

Result codecHeaderError()
{
    return failure<nvidia::detail::nvcodecheader_error_domain>("cuvid", benchFile, benchLine,
                                                               boost::stacktrace::stacktrace());
}

Result cudaError()
{
    // The driver's text comes from the do-nothing driver's cuGetErrorString.
    static nvidia::Cuda& cuda = []() -> nvidia::Cuda& {
        offerDrivers();
        static_cast<void>(nvidia::Cuda::instance().loadLib(0));
        return nvidia::Cuda::instance();
    }();
    return cuda.wrapResult(static_cast<CUresult>(1), benchFile, benchLine);
}

Result nvencError() { return nvidia::NvEnc::instance().wrapStatus(NV_ENC_ERR_INVALID_PARAM, benchFile, benchLine); }

nvidia::CaptureResult nvfbcError()
{
    // With the library loaded, the error carries its last-error text for the handle.
    static const unsigned long handle = [] {
        offerDrivers();
        unsigned long created = 0;
        NVFBC_CREATE_HANDLE_PARAMS params{};
        static_cast<void>(nvidia::NvFBC::instance().createHandle(&created, &params));
        return created;
    }();
    return nvidia::NvFBC::instance().wrapStatus(handle, NVFBC_ERR_INVALID_PARAM, benchFile, benchLine);
}

// Keeps the text of the last record.
class LastRecord : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::string text;

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        text.assign(message.payload.data(), message.payload.size());
    }
    void flush_() override {}
};

// The frames of the trace in an error's debug record: the lines after the first one.
template <class Make>
std::size_t tracedFrames(Make make)
{
    const std::shared_ptr<spdlog::logger> previous = spdlog::default_logger();
    const auto sink = std::make_shared<LastRecord>();
    auto recorder = std::make_shared<spdlog::logger>("frames", sink);
    recorder->set_level(spdlog::level::debug);
    spdlog::set_default_logger(recorder);
    make();
    spdlog::set_default_logger(previous);
    const std::size_t lines = static_cast<std::size_t>(std::count(sink->text.begin(), sink->text.end(), '\n'));
    return lines > 0 ? lines - 1 : 0;
}

// Captures and renders a stack trace extra frames deeper than this function's; returns the trace's depth.
__attribute__((noinline)) std::size_t captureAndRender(int extra)
{
    if (extra > 0) {
        const std::size_t depth = captureAndRender(extra - 1);
        // Keeps the recursive call from becoming a jump, which would not add a frame.
        asm volatile("" ::: "memory");
        return depth;
    }
    const boost::stacktrace::stacktrace trace;
    const std::string text = boost::stacktrace::to_string(trace);
    benchmark::DoNotOptimize(text.data());
    return trace.size();
}

enum class Measure { floor, info, debug };

// One function for the error and its floor, so that the error made for calibration, the timed errors and the
// floor's captures start from the same frame.
template <class Make>
void errors(benchmark::State& state, Make make, Measure measure)
{
    const std::size_t frames = tracedFrames([&] { static_cast<void>(make()); });
    state.counters["frames"] = static_cast<double>(frames);

    if (measure == Measure::floor) {
        int extra = 0;
        while (captureAndRender(extra) < frames && extra < 64) {
            ++extra;
        }
        for (auto _ : state) {
            benchmark::DoNotOptimize(captureAndRender(extra));
        }
        return;
    }

    spdlog::logger& logger = *spdlog::default_logger_raw();
    logger.set_level(measure == Measure::debug ? spdlog::level::debug : spdlog::level::info);
    for (auto _ : state) {
        auto result = make();
        benchmark::DoNotOptimize(result);
    }
    test::countAllocations();
    for (int i = 0; i < countedErrors; ++i) {
        static_cast<void>(make());
    }
    state.counters["allocs_per_error"] = static_cast<double>(test::allocationCount()) / countedErrors;
    test::stopAllocationFailures();
    logger.set_level(spdlog::level::info);
}

template <auto Make>
void registerDomain(const std::string& domain)
{
    const std::string name = "Error/" + domain;
    benchmark::RegisterBenchmark((name + "/floor").c_str(),
                                 [](benchmark::State& state) { errors(state, Make, Measure::floor); });
    for (const auto& [level, measure] : {std::pair{"/info", Measure::info}, std::pair{"/debug", Measure::debug}}) {
        benchmark::RegisterBenchmark((name + level).c_str(),
                                     [measure = measure](benchmark::State& state) { errors(state, Make, measure); });
        compareWith(name + level, name + "/floor");
    }
}

}  // namespace

void registerErrors()
{
    registerDomain<&dlError>("dl_error_domain");
    registerDomain<&codecHeaderError>("nvcodecheader_error_domain");
    registerDomain<&cudaError>("cuda_error_domain");
    registerDomain<&nvencError>("nvenc_error_domain");
    registerDomain<&nvfbcError>("nvfbc_error_domain");
}

}  // namespace tav::bench
