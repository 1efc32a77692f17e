#include "platform/ui/AnimationDriver.h"

#include "platform/core/MainQueue.h"
#include "platform/ui/Layer.h"

#include <algorithm>
#include <limits>

namespace corvex {

AnimationDriver& AnimationDriver::instance()
{
    // Never destroyed: layers may end animations while static objects go away.
    static AnimationDriver* driver = new AnimationDriver;
    return *driver;
}

void AnimationDriver::watch(const std::shared_ptr<Layer>& layer)
{
    if (!layer)
        return;
    if (!layer->mWatchedByDriver) {
        layer->mWatchedByDriver = true;
        mLayers.push_back(layer);
    }
    if (!mInStep && !isRunning())
        scheduleStep(FrameInterval);
}

bool AnimationDriver::isRunning() const
{
    return !mPendingStep.expired() && mStepScheduler == &Scheduler::current();
}

void AnimationDriver::deliver(UniqueFunction<void()> block)
{
    if (!block)
        return;
    AnimationDriver& driver = instance();
    if (driver.mInStep && MainQueue::isMainThread()) {
        driver.mAfterStep.push_back(std::move(block));
        return;
    }
    MainQueue::post(std::move(block));
}

void AnimationDriver::scheduleStep(double delay)
{
    auto token = std::make_shared<int>(0);
    mPendingStep = token;
    mStepScheduler = &Scheduler::current();
    Scheduler::current().schedule(std::max(delay, 0.0), [this, token] {
        if (mPendingStep.lock() == token)
            step();
    });
}

void AnimationDriver::step()
{
    mPendingStep.reset();
    ++mSteps;
    const double now = MediaClock::now();
    double next = std::numeric_limits<double>::infinity();

    std::vector<std::shared_ptr<Layer>> layers;
    layers.reserve(mLayers.size());
    for (const auto& entry : mLayers) {
        if (auto layer = entry.lock())
            layers.push_back(std::move(layer));
    }
    mLayers.clear();

    mInStep = true;
    for (const auto& layer : layers) {
        const double wake = layer->stepAnimations(now);
        layer->requestFrame();
        if (wake < std::numeric_limits<double>::infinity()) {
            mLayers.push_back(layer);
            next = std::min(next, wake);
        } else {
            layer->mWatchedByDriver = false;
        }
    }
    mInStep = false;

    // Completions may add animations (and so call watch) or end more of them.
    std::vector<UniqueFunction<void()>> blocks;
    blocks.swap(mAfterStep);
    for (auto& block : blocks)
        block();

    if (!mLayers.empty() && !isRunning())
        scheduleStep(std::min(FrameInterval, next - MediaClock::now()));
}

} // namespace corvex
