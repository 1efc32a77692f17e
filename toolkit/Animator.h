#pragma once

#include "toolkit/RepeatedActionTimer.h"

#include <functional>
#include <memory>
#include <optional>

namespace corvex {

// Runs one hand-made animation: calls a block once per frame on the main queue while a
// progress value rises from 0 to 1 over a fixed duration. The block learns the progress
// through updateProgress() and usually shapes it with one of the ease curves.
//
// An Animator runs once. It is active from creation until a frame has shown progress 1.0,
// until deactivate() or until playToEndImmediately(); an inactive Animator never runs again,
// so a new run needs a new Animator. Each scheduled frame holds the Animator and the block,
// so an animation in flight finishes even when its owner lets go; deactivate() stops it.
//
// Main thread only. Time comes from the media clock at each frame, not from a frame count,
// so an animation ends on time even when frames are late or skipped.
class Animator : public std::enable_shared_from_this<Animator>
{
public:
    using Block = std::function<void(Animator&)>;

    // A run of `duration` seconds at `frameRate` frames a second, cut to whole frames.
    static std::shared_ptr<Animator> create(float duration, float frameRate);

    Animator(const Animator&) = delete;
    Animator& operator=(const Animator&) = delete;

    // Starts the clock and schedules the first frame for the first frame boundary (about one
    // frame from now), so the first call sees about one frame's worth of progress. Never calls
    // the block from inside play. Does nothing on an inactive Animator or on one already
    // playing (a second chain of frames would call blocks twice a frame).
    void play(Block block);

    // While active: the clock's progress, also kept as the value that decides whether another
    // frame follows. Inactive: 1.0, and the kept value is left alone.
    float updateProgress();

    bool isActive() const { return mAnimationTimer.has_value(); }

    // Stops for good. A frame already scheduled ends without calling its block; no final call
    // with 1.0 is made.
    void deactivate();

    // Stops for good, then calls `block` once, at once, with updateProgress() answering 1.0
    // inside it. A frame already scheduled ends without a call.
    void playToEndImmediately(const Block& block);

    // Cubic ease curves: 0 for t <= 0 (and for NaN), 1 for t >= 1.
    static double cubicEaseIn(double t);
    static double cubicEaseOut(double t);
    // 4t^3 below 0.5, 4(t - 1)^3 + 1 from 0.5 on; both halves meet at 0.5.
    static double cubicEaseInOut(double t);

private:
    Animator(float duration, float frameRate);

    void nextAnimationCycle(const std::shared_ptr<const Block>& block);
    void scheduleFrame(float delay, std::shared_ptr<const Block> block);

    std::optional<RepeatedActionTimer> mAnimationTimer; // present exactly while active
    float mProgress = 0;                                // the last progress read from the clock
    bool mPlayed = false;
};

} // namespace corvex
