#include "mindmap/SolarRotationAnimator.h"

#include "mindmap/SolarRotationAnimatorDelegate.h"
#include "platform/core/Scheduler.h"
#include "toolkit/Animator.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double kSolarRotationPi = 3.141592653589793;

// {1, -1} by whether the value is below 0: zero and -0 count as positive.
float solarRotationSign(float value)
{
    return value < 0 ? -1.0f : 1.0f;
}

} // namespace

std::shared_ptr<SolarRotationAnimator> SolarRotationAnimator::create(float angle)
{
    return std::shared_ptr<SolarRotationAnimator>(new SolarRotationAnimator(angle));
}

SolarRotationAnimator::SolarRotationAnimator(float angle)
    : mAngleBefore(angle), mAngleTarget(angle), mAngleCurrent(angle)
{}

SolarRotationAnimator::~SolarRotationAnimator()
{
    // A scheduled frame keeps its Animator alive; without this it would run on to its end.
    if (mAnimator)
        mAnimator->deactivate();
}

void SolarRotationAnimator::addAngle(float delta)
{
    if (mCancelled)
        return;
    const auto keepAlive = shared_from_this();
    if (!std::isfinite(delta))
        delta = 0;

    const double now = MediaClock::now();
    double speed = kSolarRotationPi;
    if (mStartTime > 0 && now - mStartTime > 0)
        speed = std::abs(double(delta) / (now - mStartTime)) + kSolarRotationPi;
    mStartTime = now;

    if (isRunning()) {
        const Motion was = mMotion;
        mAngleCurrent = presentAngle();
        stopMotion();
        // A step carries on from where the previous one has got to, with its rest; a spin
        // the finger catches stops where it is.
        if (was == Motion::Step)
            delta += mAngleTarget - mAngleCurrent;
        if (const auto delegate = mDelegate.lock())
            delegate->angleUpdate(mAngleCurrent);
        if (mCancelled)
            return;
    }

    mAngleBefore = mAngleCurrent;
    mAngleTarget = mAngleCurrent + delta;
    play(Motion::Step, float(std::abs(double(delta) / speed)));
}

void SolarRotationAnimator::addAngularRotationWithVelocity(float velocity)
{
    if (mCancelled)
        return;
    const auto keepAlive = shared_from_this();
    stopMotion();
    mAngleBefore = mAngleCurrent;

    if (std::isnan(velocity))
        velocity = 0;
    const float speed = std::min(std::abs(velocity * kSpeedFactor), kMaxVelocity);
    mInitialVelocity = solarRotationSign(velocity) * speed;
    // Without speed the braking is 0 and |v| / braking has no value: a run of no length,
    // whose single frame shows the unchanged angle and ends the rotation.
    mInertiaDuration = speed > 0 ? std::abs(mInitialVelocity) / deceleration() + kInitialTime : 0.0f;
    mAngleTarget = calculateCurrentAngleUsingVelocityWithProgress(1.0f, mInertiaDuration);
    play(Motion::Inertia, mInertiaDuration);
}

void SolarRotationAnimator::cancel()
{
    mCancelled = true;
    stopMotion();
}

float SolarRotationAnimator::calculateCurrentAngleFromProgress(float progress) const
{
    return mAngleBefore + (mAngleTarget - mAngleBefore) * progress;
}

float SolarRotationAnimator::calculateCurrentAngleUsingVelocityWithProgress(float progress,
                                                                            float duration) const
{
    const float a = deceleration();
    const float w = mInitialVelocity;
    if (!(a > 0) || w == 0)
        return mAngleBefore;
    const float t = progress * duration;
    const float brakingTime = std::abs(w) / a;
    const float coasting = duration - brakingTime;
    if (t <= coasting)
        return mAngleBefore + w * t;
    const float u = t - coasting;
    return mAngleBefore + w * t - 0.5f * a * solarRotationSign(w) * u * u;
}

float SolarRotationAnimator::deceleration() const
{
    return kDecelerationFactor * std::abs(mInitialVelocity);
}

bool SolarRotationAnimator::isRunning() const
{
    return mMotion != Motion::None && mAnimator && mAnimator->isActive();
}

float SolarRotationAnimator::presentAngle()
{
    if (!mAnimator)
        return mAngleCurrent;
    const float progress = mAnimator->updateProgress();
    switch (mMotion) {
    case Motion::Step:
        return calculateCurrentAngleFromProgress(progress);
    case Motion::Inertia:
        return calculateCurrentAngleUsingVelocityWithProgress(progress, mInertiaDuration);
    case Motion::None:
        break;
    }
    return mAngleCurrent;
}

void SolarRotationAnimator::stopMotion()
{
    if (mAnimator)
        mAnimator->deactivate();
    mAnimator.reset();
    mMotion = Motion::None;
}

void SolarRotationAnimator::play(Motion motion, float duration)
{
    mMotion = motion;
    mAnimator = Animator::create(duration, kFrameRate);
    // Weak: a frame must not keep a dropped rotation alive (the destructor stops it anyway).
    mAnimator->play([weak = weak_from_this()](Animator& animator) {
        if (const auto self = weak.lock())
            self->onFrame(animator);
    });
}

void SolarRotationAnimator::onFrame(Animator& animator)
{
    if (&animator != mAnimator.get() || mCancelled)
        return;
    const Motion motion = mMotion;
    const float progress = animator.updateProgress();
    mAngleCurrent = motion == Motion::Inertia
                        ? calculateCurrentAngleUsingVelocityWithProgress(progress, mInertiaDuration)
                        : calculateCurrentAngleFromProgress(progress);
    const bool finished = progress >= 1.0f;
    if (finished) {
        // The Animator stops by itself after this frame; drop it now so that the delegate
        // already sees a rotation at rest.
        mAnimator.reset();
        mMotion = Motion::None;
    }
    const auto delegate = mDelegate.lock();
    if (!delegate)
        return;
    delegate->angleUpdate(mAngleCurrent);
    if (mCancelled || !finished || motion != Motion::Inertia)
        return;
    delegate->rotationEnded();
}

} // namespace corvex
