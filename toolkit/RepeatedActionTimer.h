#pragma once

#include <cstdint>

namespace corvex {

// A clock of equally spaced frames: `repetitions` frames `delta` seconds apart, counted on
// the media clock from start(). It schedules nothing itself; the Animator asks it where the
// next frame falls and how far the run has come.
//
// A timer without a positive, finite duration (zero or negative repetitions, a frame rate
// that is not a positive number) is over as soon as it starts: its progress is 1.0 once
// started, never a division by zero.
class RepeatedActionTimer
{
public:
    // Stores both; the timer is not started.
    RepeatedActionTimer(std::int64_t repetitions, float delta);

    // repetitions = totalDuration x frameRate in single precision, truncated toward zero,
    // and delta = 1 / frameRate: a run lasts whole frames (0.35 s at 60 fps is 21 frames).
    // A frame rate that is not a positive finite number gives zero repetitions.
    static RepeatedActionTimer withFrameRate(float frameRate, float totalDuration);

    // Marks the current media time as the start; calling it again restarts the run.
    void start();
    bool isStarted() const { return mStart > 0; }

    // 0 before start; then the elapsed share of the total duration, at most 1.0. Within a
    // hair of the end (see timeToNextAction) it is 1.0.
    float progress() const;

    // Seconds to the next frame boundary on the grid start + k x delta; 0 once the total
    // duration has passed (or when there is none). A clock reading a hair before a boundary
    // (a ten-thousandth of a frame) counts as on it, so a frame scheduled for a boundary that
    // arrives a rounding error early is not followed by a second frame at the same boundary.
    // Before start, the time from the start to the first frame.
    float timeToNextAction() const;

    std::int64_t repetitions() const { return mRepetitions; }
    float delta() const { return mDelta; }
    // repetitions x delta, formed in single precision.
    float totalDuration() const;
    // The media time of start(); 0 before.
    double startTime() const { return mStart; }

private:
    // False when the total duration is not a positive finite span of positive frames.
    bool hasDuration() const;
    double elapsed() const;
    double boundarySlack() const;

    std::int64_t mRepetitions;
    float mDelta;
    double mStart = 0;
};

} // namespace corvex
