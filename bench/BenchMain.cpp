// Shared main of the benchmarks. With CORVEX_BENCH_TINY=1 (the test script's smoke run)
// every benchmark runs once on its smallest input, so benchmarks keep building and
// running without costing CI time.

#include "bench/BenchSupport.h"
#include "bench/FailedRunReporter.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#ifdef CORVEX_BENCH_GUI
#include <QGuiApplication>
#endif
#ifdef CORVEX_BENCH_WIDGETS
#include <QApplication>
#endif
#include <cstdlib>

namespace corvex::bench {

bool tiny()
{
    const char* value = std::getenv("CORVEX_BENCH_TINY");
    return value != nullptr && value[0] == '1';
}

bool large()
{
    const char* value = std::getenv("CORVEX_BENCH_LARGE");
    return !tiny() && value != nullptr && value[0] == '1';
}

std::vector<std::int64_t> sizes(std::initializer_list<std::int64_t> full, std::int64_t tinySize,
                                std::initializer_list<std::int64_t> largeSizes)
{
    if (tiny())
        return {tinySize};
    std::vector<std::int64_t> all(full);
    if (large())
        all.insert(all.end(), largeSizes);
    return all;
}

} // namespace corvex::bench

int main(int argc, char** argv)
{
#if defined(CORVEX_BENCH_WIDGETS)
    // Interface benchmarks with real Qt widgets (text fields), offscreen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#elif defined(CORVEX_BENCH_GUI)
    // Drawing benchmarks (fonts, text layout) need a GUI application; no display is used.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    std::vector<char*> args(argv, argv + argc);
    static char minTime[] = "--benchmark_min_time=0.000001";
    if (corvex::bench::tiny())
        args.push_back(minTime);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    corvex::bench::registerAll();
    // A run whose work failed makes the whole program fail, naming it.
    corvex::bench::FailedRunReporter reporter;
    const std::size_t matched = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.exitStatus(matched);
}
