#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace corvex::bench {

// Shows every run as the command line asks (the default display reporter) and keeps the runs
// whose work failed (SkipWithError), so that the program can name them and exit non-zero:
// Google Benchmark itself exits 0 after a failed run. With repetitions and aggregates only,
// a failed repetition beside good ones is not reported to any reporter, so it is not seen.
class FailedRunReporter final : public benchmark::BenchmarkReporter
{
public:
    FailedRunReporter();
    ~FailedRunReporter() override;

    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    // 0 when `matched` benchmarks ran and none failed; else 1, after naming on stderr each
    // failed run and its reason, or saying that no benchmark ran.
    int exitStatus(std::size_t matched) const;

private:
    std::unique_ptr<benchmark::BenchmarkReporter> mDisplay;
    std::vector<std::string> mFailures;
};

} // namespace corvex::bench
