#include "toolkit/Animator.h"

#include "platform/core/MainQueue.h"

namespace corvex {

std::shared_ptr<Animator> Animator::create(float duration, float frameRate)
{
    return std::shared_ptr<Animator>(new Animator(duration, frameRate));
}

Animator::Animator(float duration, float frameRate)
    : mAnimationTimer(RepeatedActionTimer::withFrameRate(frameRate, duration))
{}

void Animator::play(Block block)
{
    if (!isActive() || mPlayed)
        return;
    mPlayed = true;
    mAnimationTimer->start();
    scheduleFrame(mAnimationTimer->timeToNextAction(), std::make_shared<const Block>(std::move(block)));
}

void Animator::scheduleFrame(float delay, std::shared_ptr<const Block> block)
{
    // The frame owns the Animator and the block until it has run: an animation in flight
    // outlives its owner's reference.
    MainQueue::postAfter(double(delay), [self = shared_from_this(), block = std::move(block)] {
        self->nextAnimationCycle(block);
    });
}

void Animator::nextAnimationCycle(const std::shared_ptr<const Block>& block)
{
    if (!isActive())
        return;
    mProgress = mAnimationTimer->progress();
    if (*block)
        (*block)(*this);
    // Read after the block, so the time it took is absorbed: the next frame falls on the next
    // grid boundary still ahead and boundaries already passed are skipped.
    if (!isActive())
        return; // the block deactivated or played to the end
    const float delay = mAnimationTimer->timeToNextAction();
    // mProgress is the value read above or a later one the block read: once any call has seen
    // 1.0, no call follows it.
    if (mProgress < 1.0f)
        scheduleFrame(delay, block);
    else
        mAnimationTimer.reset();
}

float Animator::updateProgress()
{
    if (!isActive())
        return 1.0f;
    mProgress = mAnimationTimer->progress();
    return mProgress;
}

void Animator::deactivate()
{
    mAnimationTimer.reset();
}

void Animator::playToEndImmediately(const Block& block)
{
    // The block may drop its owner's last reference; the call still needs this object.
    const std::shared_ptr<Animator> keepAlive = weak_from_this().lock();
    mAnimationTimer.reset();
    if (block)
        block(*this);
}

double Animator::cubicEaseIn(double t)
{
    if (!(t > 0))
        return 0;
    if (t >= 1)
        return 1;
    return t * t * t;
}

double Animator::cubicEaseOut(double t)
{
    if (!(t > 0))
        return 0;
    if (t >= 1)
        return 1;
    const double rest = 1 - t;
    return 1 - rest * rest * rest;
}

double Animator::cubicEaseInOut(double t)
{
    if (!(t > 0))
        return 0;
    if (t >= 1)
        return 1;
    if (t < 0.5)
        return 4 * t * t * t;
    const double rest = t - 1;
    return 4 * rest * rest * rest + 1;
}

} // namespace corvex
