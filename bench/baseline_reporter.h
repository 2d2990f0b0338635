// Puts a benchmark beside its baseline measured in the same run: a reporter that adds, to each run of a
// benchmark that has a baseline, the baseline's CPU time and the ratio and difference of the two as counters, in the
// console table and in the JSON file alike.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

namespace tav::bench {

// Runs of the benchmark named name get the counters baseline_ns, ratio and extra_ns against the runs of the
// benchmark named baseline with the same arguments and thread count. The baseline must run first.
void compareWith(const std::string& name, const std::string& baseline);

class BaselineReporter : public benchmark::BenchmarkReporter {
public:
    // Reports through reporter, which must outlive this one.
    explicit BaselineReporter(benchmark::BenchmarkReporter& reporter);

    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    benchmark::BenchmarkReporter& reporter_;
};

}  // namespace tav::bench
