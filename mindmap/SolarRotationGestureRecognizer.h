#pragma once

#include "platform/gfx/Point.h"

#include <cstdint>
#include <memory>

namespace corvex {

class Event;
class SolarRotationGestureTarget;

// Turns mouse events on the solar-system view into rotation steps and a release velocity.
//
// A press counts when it lies in the press ring around the orbit centre (from half the
// central planet's radius to twice the orbit radius); the first drag inside the drag ring
// (up to 2.5 x the orbit radius) begins a rotation, every further drag sends the angle it
// turned, and the release ends it, with the pointer's angular velocity when the pointer was
// still moving. A quick flick that leaves the drag ring before a rotation began starts and
// ends one at once. A drag that leaves the drag ring while rotating ends it without a call.
//
// The pointer's velocity is estimated from the last events: each step's velocity is added to
// the decayed estimate (by 1/2 at the third event, 2/3 from the fourth on); a pause of more
// than 0.1 s between two events starts the estimate again, so a release after a pause does
// not spin on.
//
// The target (the view that owns the recogniser) is held weakly: the recogniser can never
// keep its owner alive, and an event that arrives while the owner is being torn down finds
// no target and does nothing. Each event locks the target for the length of its handling.
// Made through create(): an event keeps the recogniser alive while it is handled, so a
// target may drop the recogniser from inside a call. Main thread only.
class SolarRotationGestureRecognizer : public std::enable_shared_from_this<SolarRotationGestureRecognizer>
{
public:
    enum class Status : int64_t
    {
        Idle = 0,
        // A press inside the press ring that may become a rotation.
        Pressed = 1,
        Rotating = 2,
    };

    // Pauses longer than this (seconds) between two events restart the velocity estimate.
    static constexpr double kVelocityWindow = 0.1;
    // The ring limits as multiples of the orbit radius.
    static constexpr float kPressRingOuterFactor = 2.0f;
    static constexpr float kDragRingOuterFactor = 2.5f;

    static std::shared_ptr<SolarRotationGestureRecognizer>
    create(const std::shared_ptr<SolarRotationGestureTarget>& target);

    SolarRotationGestureRecognizer(const SolarRotationGestureRecognizer&) = delete;
    SolarRotationGestureRecognizer& operator=(const SolarRotationGestureRecognizer&) = delete;

    std::shared_ptr<SolarRotationGestureTarget> target() const { return mTarget.lock(); }

    // Fed by the view: mouseDown only while its input is enabled, the other two always.
    void mouseDown(const Event& event);
    void mouseDragged(const Event& event);
    void mouseUp(const Event& event);

    // Whether the event's point lies in the press ring (the view shows the open hand then).
    bool mightRotateDueToEvent(const Event& event) const;

    // Idle; points, angles, times and the velocity zero; no event seen.
    void reset();

    Status status() const { return mDetectorStatus; }
    // The velocity estimate (points a second) and the current point, in the target's
    // coordinates.
    Point velocityInView() const { return mVelocityEstimation; }
    Point locationInView() const { return mCurrentTouchPoint; }
    int32_t pointsSeen() const { return mPointsSeen; }
    // Whether the velocity estimate is not zero.
    bool detectSwipe() const;
    // The pointer's speed divided by the orbit's logical radius, signed by the way around the
    // centre the velocity points from the current point (radians a second, positive
    // clockwise on screen). 0 without a target or without a positive radius.
    float calculateSwipeAngularVelocity() const;
    // The signed shortest turn from `from` to `to`, in [-pi, pi].
    static float calculateAngleDelta(float from, float to);
    // Distance and angle of a point (target coordinates) from the orbit centre; 0 without a
    // target.
    float calculateDistanceFromVisualCenter(Point point) const;
    float calculateFromVisualCenterAngleTo(Point point) const;
    // -1 below 0, else 1 (also for -0 and NaN).
    static float signf(float value);

    // The ring limits in points: from half the central planet's radius out to `outerFactor`
    // times the orbit radius.
    static float innerRingRadius();
    static bool isInRing(float distance, float orbitRadius, float outerFactor);

private:
    explicit SolarRotationGestureRecognizer(const std::shared_ptr<SolarRotationGestureTarget>& target);

    // Reads one event: the current values become the previous ones, then the event's point,
    // time and angle become current and the velocity estimate takes the step.
    void updateValuesFromEvent(const Event& event, const SolarRotationGestureTarget& target);
    bool isInPressRing(Point point, const SolarRotationGestureTarget& target) const;
    bool isInDragRing(Point point, const SolarRotationGestureTarget& target) const;
    float swipeAngularVelocity(const SolarRotationGestureTarget& target) const;

    std::weak_ptr<SolarRotationGestureTarget> mTarget;
    Status mDetectorStatus = Status::Idle;
    Point mPreviousTouchPoint;
    float mPreviousTouchAngle = 0;
    double mPreviousTouchTimeSecs = 0;
    Point mCurrentTouchPoint;
    float mCurrentTouchAngle = 0;
    double mCurrentTouchTimeSecs = 0;
    Point mVelocityEstimation;
    int32_t mPointsSeen = 0;
};

} // namespace corvex
