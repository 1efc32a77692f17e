#pragma once

#include "platform/core/UniqueFunction.h"

#include <memory>
#include <vector>

namespace corvex {

class Layer;

// Steps every running layer animation on the current Scheduler: about 60 times a second
// while anything animates (and exactly at each animation's end), it ends the animations
// whose time is over, asks the trees they are in for a frame (so that compositors keep
// painting while anything moves), and then runs the completions that became due. It stops
// when nothing animates. Main thread only.
class AnimationDriver
{
public:
    static constexpr double FrameInterval = 1.0 / 60;

    static AnimationDriver& instance();

    // Steps the layer's animations from now on until they have all ended (called by Layer).
    void watch(const std::shared_ptr<Layer>& layer);
    // Whether a step is scheduled.
    bool isRunning() const;
    // Steps run so far.
    int stepCount() const { return mSteps; }

    // Runs `block` on the main thread: after the current step when called from inside one
    // (so that it sees every animation of the step ended), otherwise in the next turn.
    static void deliver(UniqueFunction<void()> block);

private:
    AnimationDriver() = default;
    void scheduleStep(double delay);
    void step();

    std::vector<std::weak_ptr<Layer>> mLayers;
    std::vector<UniqueFunction<void()>> mAfterStep;
    bool mInStep = false;
    int mSteps = 0;
    // Alive while the step task is queued (a scheduler that goes away drops it).
    std::weak_ptr<void> mPendingStep;
    // Where it is queued: a step queued on a scheduler no longer installed does not count.
    const void* mStepScheduler = nullptr;
};

} // namespace corvex
