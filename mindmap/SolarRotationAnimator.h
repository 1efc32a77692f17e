#pragma once

#include <memory>

namespace corvex {

class Animator;
class SolarRotationAnimatorDelegate;

// Turns the rotation steps of a drag and the velocity of a release into a smooth, frame-timed
// angle for the solar-system view. A drag step (addAngle) is spread over a little less time
// than the drag took, starting from where the previous step has got to and carrying its rest
// along; a release (addAngularRotationWithVelocity) runs on and brakes evenly to a stop in
// about 0.57 s, turning by a 3.5th of the (clamped) velocity. Frames come from a toolkit
// Animator at 60 a second on the main queue.
//
// One animator serves one gesture. cancel() ends it for good: after it no angleUpdate and no
// rotationEnded ever come, and later calls do nothing. Dropping the last reference cancels
// too. The delegate is held weakly. Made through create(): frames and delegate calls keep
// the object alive while they run, so a delegate may drop its reference from inside a call.
// Main thread only.
class SolarRotationAnimator : public std::enable_shared_from_this<SolarRotationAnimator>
{
public:
    // Radians a second: 10 pi.
    static constexpr float kMaxVelocity = 31.415926f;
    static constexpr float kSpeedFactor = 1.0f;
    static constexpr float kInitialTime = 0.0f;
    static constexpr float kFrameRate = 60.0f;
    // Braking in radians a second squared is this times the starting speed.
    static constexpr float kDecelerationFactor = 1.75f;

    // Start, target and present angle are `angle`.
    static std::shared_ptr<SolarRotationAnimator> create(float angle);
    ~SolarRotationAnimator();

    SolarRotationAnimator(const SolarRotationAnimator&) = delete;
    SolarRotationAnimator& operator=(const SolarRotationAnimator&) = delete;

    std::shared_ptr<SolarRotationAnimatorDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<SolarRotationAnimatorDelegate>& delegate) { mDelegate = delegate; }

    // Follows the finger by `delta` radians. A step still running is stopped where it is
    // (that angle is reported at once) and its rest is added to `delta`; the new step lasts
    // |delta| / speed seconds, speed being pi plus the pointer's angular speed since the
    // previous step. Reports every frame's angle; never sends rotationEnded.
    void addAngle(float delta);
    // Runs on from the present angle at `velocity` radians a second (clamped to +-10 pi),
    // braking evenly to a stop; reports every frame's angle and then rotationEnded. A zero
    // or NaN velocity moves nothing: one frame reports the unchanged angle and rotationEnded,
    // so the view stops as after any other run.
    void addAngularRotationWithVelocity(float velocity);
    // Stops for good; nothing more is reported.
    void cancel();

    // before + (target - before) * progress.
    float calculateCurrentAngleFromProgress(float progress) const;
    // The angle of the run with inertia at `progress` of `duration` seconds: constant speed
    // up to the braking time, then even braking to 0 at the end. The start angle when the
    // run has no speed.
    float calculateCurrentAngleUsingVelocityWithProgress(float progress, float duration) const;

    // The goal of the present motion (for a run with inertia, where it will stop).
    float targetAngle() const { return mAngleTarget; }
    // targetAngle - currentAngle.
    float angleLeft() const { return mAngleTarget - mAngleCurrent; }
    // The last angle computed (and reported).
    float currentAngle() const { return mAngleCurrent; }
    // The starting speed of the run with inertia, after clamping (radians a second).
    float initialVelocity() const { return mInitialVelocity; }
    // kDecelerationFactor x |initialVelocity|.
    float deceleration() const;
    // Whether a step or a run with inertia is under way.
    bool isRunning() const;
    bool isCancelled() const { return mCancelled; }

private:
    enum class Motion
    {
        None,
        Step,
        Inertia,
    };

    explicit SolarRotationAnimator(float angle);

    // The angle the running motion shows now.
    float presentAngle();
    // Deactivates and drops the running Animator; no motion afterwards.
    void stopMotion();
    void play(Motion motion, float duration);
    void onFrame(Animator& animator);

    double mStartTime = 0; // media time of the last drag step; 0 before the first
    float mAngleBefore = 0;
    float mAngleTarget = 0;
    float mAngleCurrent = 0;
    std::shared_ptr<Animator> mAnimator;
    float mInitialVelocity = 0;
    float mInertiaDuration = 0; // seconds of the run with inertia
    Motion mMotion = Motion::None;
    bool mCancelled = false;
    std::weak_ptr<SolarRotationAnimatorDelegate> mDelegate;
};

} // namespace corvex
