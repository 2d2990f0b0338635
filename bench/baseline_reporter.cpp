#include "baseline_reporter.h"

#include <map>

namespace tav::bench {

namespace {

// Benchmark name to its baseline's name.
std::map<std::string, std::string>& baselines()
{
    static std::map<std::string, std::string> names;
    return names;
}

// CPU time per iteration in nanoseconds of every run reported so far, by full run name. CPU time, not real time:
// on a shared machine it leaves out the time this process waited for a core. Both reporters see the
// same runs, so they record the same values.
std::map<std::string, double>& measured()
{
    static std::map<std::string, double> times;
    return times;
}

// Also the mean or median of the repetitions, for their aggregate runs.
double nanosecondsPerIteration(const benchmark::BenchmarkReporter::Run& run)
{
    return run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
}

// Iterations and the mean and median of repetitions compare with their like; a spread does not.
bool comparable(const benchmark::BenchmarkReporter::Run& run)
{
    if (run.error_occurred || run.iterations == 0) {
        return false;
    }
    return run.run_type == benchmark::BenchmarkReporter::Run::RT_Iteration || run.aggregate_name == "mean" ||
           run.aggregate_name == "median";
}

void addComparison(benchmark::BenchmarkReporter::Run& run)
{
    const std::string name = run.benchmark_name();
    const double time = nanosecondsPerIteration(run);
    measured()[name] = time;

    const std::string& function = run.run_name.function_name;
    const auto baseline = baselines().find(function);
    if (baseline == baselines().end()) {
        return;
    }
    // The same arguments and thread count, under the baseline's name.
    const auto baselineRun = measured().find(baseline->second + name.substr(function.size()));
    if (baselineRun == measured().end()) {
        return;
    }
    run.counters["baseline_ns"] = baselineRun->second;
    run.counters["ratio"] = time / baselineRun->second;
    run.counters["extra_ns"] = time - baselineRun->second;
}

}  // namespace

void compareWith(const std::string& name, const std::string& baseline) { baselines()[name] = baseline; }

BaselineReporter::BaselineReporter(benchmark::BenchmarkReporter& reporter) : reporter_(reporter) {}

bool BaselineReporter::ReportContext(const Context& context)
{
    // The benchmark library points this reporter at the file; the wrapped one writes there.
    reporter_.SetOutputStream(&GetOutputStream());
    reporter_.SetErrorStream(&GetErrorStream());
    return reporter_.ReportContext(context);
}

void BaselineReporter::ReportRuns(const std::vector<Run>& runs)
{
    std::vector<Run> compared = runs;
    for (Run& run : compared) {
        if (comparable(run)) {
            addComparison(run);
        }
    }
    reporter_.ReportRuns(compared);
}

void BaselineReporter::Finalize() { reporter_.Finalize(); }

}  // namespace tav::bench
