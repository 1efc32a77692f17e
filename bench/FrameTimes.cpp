#include "bench/FrameTimes.h"

#include "bench/BenchSupport.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <ctime>

namespace corvex::bench {

namespace {

double clockSeconds(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Nearest rank, in milliseconds.
double quantileOf(std::vector<double> times, double q)
{
    if (times.empty())
        return 0;
    std::sort(times.begin(), times.end());
    const double rank = std::ceil(std::clamp(q, 0.0, 1.0) * double(times.size()));
    const std::size_t index = std::size_t(std::max(rank, 1.0)) - 1;
    return times[std::min(index, times.size() - 1)] * 1000.0;
}

} // namespace

int FrameTimes::measuredFrames()
{
    return tiny() ? 20 : 1000;
}

void FrameTimes::start()
{
    mWallStart = clockSeconds(CLOCK_MONOTONIC);
    mCpuStart = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double FrameTimes::stop()
{
    const double cpu = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - mCpuStart;
    const double wall = clockSeconds(CLOCK_MONOTONIC) - mWallStart;
    if (mFirst < 0) {
        mFirst = cpu;
    } else {
        mTimes.push_back(cpu);
        mWallTimes.push_back(wall);
    }
    return cpu;
}

int FrameTimes::count() const
{
    return int(mTimes.size());
}

double FrameTimes::quantileMs(double q) const
{
    return quantileOf(mTimes, q);
}

void FrameTimes::report(benchmark::State& state) const
{
    state.counters["median_ms"] = quantileMs(0.5);
    state.counters["p99_ms"] = quantileMs(0.99);
    state.counters["p99_9_ms"] = quantileMs(0.999);
    state.counters["worst_ms"] = quantileMs(1.0);
    state.counters["over_16_7ms"] =
        double(std::count_if(mTimes.begin(), mTimes.end(), [](double t) { return t > 1.0 / 60.0; }));
    state.counters["frames"] = double(mTimes.size());
    state.counters["first_frame_ms"] = mFirst > 0 ? mFirst * 1000.0 : 0;
    state.counters["wall_p99_ms"] = quantileOf(mWallTimes, 0.99);
    state.counters["wall_worst_ms"] = quantileOf(mWallTimes, 1.0);
}

} // namespace corvex::bench
