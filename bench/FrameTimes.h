#pragma once

#include <vector>

namespace benchmark {
class State;
}

namespace corvex::bench {

// The times of a run of frames, for benchmarks that judge each frame against the 16.7 ms a
// frame has at 60 Hz: a median hides the slow frame a user feels, so the tail is reported
// too. A frame is timed on the process's processor clock (every thread of it, which on one
// pinned core is the frame's cost there), so that other programs taking the core meanwhile
// do not count; the wall clock's tail is reported beside it. The first frame is kept apart
// (it fills caches the others reuse).
class FrameTimes
{
public:
    // The frames a frame benchmark measures after the first: 1,000, or 20 in the smoke run.
    static int measuredFrames();

    // Starts timing a frame.
    void start();
    // Ends the frame started last; answers its processor time in seconds.
    double stop();
    // Frames added after the first.
    int count() const;
    // The q-quantile (0 to 1) of the frames after the first by nearest rank, in milliseconds;
    // 0 without frames.
    double quantileMs(double q) const;

    // Counters: median_ms, p99_ms, p99_9_ms, worst_ms, over_16_7ms (frames over 16.7 ms),
    // frames (after the first), first_frame_ms, and the wall clock's wall_p99_ms and
    // wall_worst_ms.
    void report(benchmark::State& state) const;

private:
    double mCpuStart = 0;
    double mWallStart = 0;
    double mFirst = -1;
    std::vector<double> mTimes;
    std::vector<double> mWallTimes;
};

} // namespace corvex::bench
