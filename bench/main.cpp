// Runs the benchmarks against the do-nothing driver libraries, with every run compared with its baseline.
#include "baseline_reporter.h"
#include "benchmarks.h"
#include "driver_slot.h"

#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool writesFile(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_out=", 16) == 0) {
            return true;
        }
    }
    return std::getenv("BENCHMARK_OUT") != nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    tav::bench::searchSlotOnly(argv);

    // The library's records go to a logger that discards them, so that no benchmark measures output. The level is
    // the usual production one; the error benchmarks choose their own.
    auto logger = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::info);
    spdlog::set_default_logger(logger);

    tav::bench::registerMissingDriver();
    tav::bench::registerErrors();
    tav::bench::registerCalls();

    const bool file = writesFile(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    tav::bench::BaselineReporter display(*benchmark::CreateDefaultDisplayReporter());
    // The file is always JSON.
    benchmark::JSONReporter jsonReporter;
    tav::bench::BaselineReporter json(jsonReporter);
    benchmark::RunSpecifiedBenchmarks(&display, file ? &json : nullptr);
    benchmark::Shutdown();
    return 0;
}
