#include "bench/FailedRunReporter.h"

#include <cstdio>

namespace corvex::bench {

FailedRunReporter::FailedRunReporter() : mDisplay(benchmark::CreateDefaultDisplayReporter()) {}

FailedRunReporter::~FailedRunReporter() = default;

bool FailedRunReporter::ReportContext(const Context& context)
{
    return mDisplay->ReportContext(context);
}

void FailedRunReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.error_occurred)
            mFailures.push_back(run.benchmark_name() + ": " + run.error_message);
    }
    mDisplay->ReportRuns(runs);
}

void FailedRunReporter::Finalize()
{
    mDisplay->Finalize();
}

int FailedRunReporter::exitStatus(std::size_t matched) const
{
    if (matched == 0) {
        std::fprintf(stderr, "no benchmark ran\n");
        return 1;
    }
    if (mFailures.empty())
        return 0;
    std::fprintf(stderr, "%zu benchmark run(s) failed:\n", mFailures.size());
    for (const std::string& failure : mFailures)
        std::fprintf(stderr, "  %s\n", failure.c_str());
    return 1;
}

} // namespace corvex::bench
