#include "mindmap/SolarRotationGestureRecognizer.h"

#include "graphics/Geometry.h"
#include "mindmap/IdeaView.h"
#include "mindmap/SolarRotationGestureTarget.h"
#include "platform/ui/Event.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// The role of the central planet, whose inner half never starts a rotation.
constexpr quint64 kSolarRotationCentralRole = 1;

} // namespace

std::shared_ptr<SolarRotationGestureRecognizer>
SolarRotationGestureRecognizer::create(const std::shared_ptr<SolarRotationGestureTarget>& target)
{
    return std::shared_ptr<SolarRotationGestureRecognizer>(new SolarRotationGestureRecognizer(target));
}

SolarRotationGestureRecognizer::SolarRotationGestureRecognizer(
    const std::shared_ptr<SolarRotationGestureTarget>& target)
    : mTarget(target)
{}

void SolarRotationGestureRecognizer::mouseDown(const Event& event)
{
    const auto keepAlive = shared_from_this();
    reset();
    const auto target = mTarget.lock();
    if (!target)
        return;
    updateValuesFromEvent(event, *target);
    if (!isInPressRing(mCurrentTouchPoint, *target)) {
        reset();
        return;
    }
    mDetectorStatus = Status::Pressed;
}

void SolarRotationGestureRecognizer::mouseDragged(const Event& event)
{
    const auto keepAlive = shared_from_this();
    const auto target = mTarget.lock();
    if (!target) {
        reset();
        return;
    }
    updateValuesFromEvent(event, *target);
    switch (mDetectorStatus) {
    case Status::Idle:
        return;
    case Status::Pressed:
        if (!isInDragRing(mCurrentTouchPoint, *target)) {
            // A flick that left the ring before any rotation began: begin and end at once.
            if (detectSwipe()) {
                const float velocity = swipeAngularVelocity(*target);
                mDetectorStatus = Status::Rotating;
                target->handleBeginRotationGesture(*this, mPreviousTouchAngle);
                target->handleEndRotationGesture(*this, velocity);
            }
            reset();
            return;
        }
        mDetectorStatus = Status::Rotating;
        target->handleBeginRotationGesture(*this, mPreviousTouchAngle);
        if (mDetectorStatus != Status::Rotating)
            return; // the target reset us
        [[fallthrough]];
    case Status::Rotating:
        if (isInDragRing(mCurrentTouchPoint, *target)) {
            target->handleChangeRotationGesture(*this,
                                                calculateAngleDelta(mPreviousTouchAngle, mCurrentTouchAngle));
        } else {
            // Out of the ring: the rotation ends without a call; its last step runs on.
            reset();
        }
        return;
    }
}

void SolarRotationGestureRecognizer::mouseUp(const Event& event)
{
    const auto keepAlive = shared_from_this();
    const auto target = mTarget.lock();
    if (!target) {
        reset();
        return;
    }
    updateValuesFromEvent(event, *target);
    if (mDetectorStatus == Status::Rotating) {
        if (detectSwipe()) {
            target->handleEndRotationGesture(*this, swipeAngularVelocity(*target));
        } else {
            target->handleChangeRotationGesture(*this,
                                                calculateAngleDelta(mPreviousTouchAngle, mCurrentTouchAngle));
            target->handleEndRotationGesture(*this);
        }
    }
    reset();
}

bool SolarRotationGestureRecognizer::mightRotateDueToEvent(const Event& event) const
{
    const auto target = mTarget.lock();
    if (!target)
        return false;
    return isInPressRing(target->convertPointFromWindow(event.locationInWindow()), *target);
}

void SolarRotationGestureRecognizer::reset()
{
    mDetectorStatus = Status::Idle;
    mPreviousTouchPoint = {};
    mPreviousTouchAngle = 0;
    mPreviousTouchTimeSecs = 0;
    mCurrentTouchPoint = {};
    mCurrentTouchAngle = 0;
    mCurrentTouchTimeSecs = 0;
    mVelocityEstimation = {};
    mPointsSeen = 0;
}

void SolarRotationGestureRecognizer::updateValuesFromEvent(const Event& event,
                                                           const SolarRotationGestureTarget& target)
{
    mPreviousTouchPoint = mCurrentTouchPoint;
    mPreviousTouchTimeSecs = mCurrentTouchTimeSecs;
    mPreviousTouchAngle = mCurrentTouchAngle;

    mCurrentTouchPoint = target.convertPointFromWindow(event.locationInWindow());
    mCurrentTouchTimeSecs = event.timestamp();
    mCurrentTouchAngle = Geometry::angleFrom(target.orbitVisualCenter(), mCurrentTouchPoint);

    mPointsSeen = std::min(mPointsSeen + 1, 4);
    if (mPointsSeen < 2)
        return;
    const double dt = mCurrentTouchTimeSecs - mPreviousTouchTimeSecs;
    if (dt > kVelocityWindow) {
        // A pause: what the pointer did before it says nothing about a release now.
        mVelocityEstimation = {};
        mPointsSeen = 1;
        return;
    }
    Point step;
    if (dt > 0) {
        const Point moved = Geometry::translationFrom(mPreviousTouchPoint, mCurrentTouchPoint);
        step = {moved.x / dt, moved.y / dt};
    }
    const double decay = double(mPointsSeen - 2) / double(mPointsSeen - 1);
    mVelocityEstimation = {mVelocityEstimation.x * decay + step.x, mVelocityEstimation.y * decay + step.y};
}

bool SolarRotationGestureRecognizer::detectSwipe() const
{
    return Geometry::length(mVelocityEstimation) > 0;
}

float SolarRotationGestureRecognizer::calculateSwipeAngularVelocity() const
{
    const auto target = mTarget.lock();
    return target ? swipeAngularVelocity(*target) : 0.0f;
}

float SolarRotationGestureRecognizer::swipeAngularVelocity(const SolarRotationGestureTarget& target) const
{
    const float radius = target.orbitLogicalRadius();
    if (!(radius > 0))
        return 0; // no orbit to turn: never an infinite or NaN speed
    const Point centre = target.orbitVisualCenter();
    const float from = Geometry::angleFrom(centre, mCurrentTouchPoint);
    const float to =
        Geometry::angleFrom(centre, Geometry::addVectors(mCurrentTouchPoint, mVelocityEstimation));
    const float turn = Geometry::minimumAngleFrom(from, to);
    return signf(turn) * Geometry::length(mVelocityEstimation) / radius;
}

float SolarRotationGestureRecognizer::calculateAngleDelta(float from, float to)
{
    return Geometry::minimumAngleFrom(from, to);
}

float SolarRotationGestureRecognizer::calculateDistanceFromVisualCenter(Point point) const
{
    const auto target = mTarget.lock();
    return target ? Geometry::distanceFrom(point, target->orbitVisualCenter()) : 0.0f;
}

float SolarRotationGestureRecognizer::calculateFromVisualCenterAngleTo(Point point) const
{
    const auto target = mTarget.lock();
    return target ? Geometry::angleFrom(target->orbitVisualCenter(), point) : 0.0f;
}

float SolarRotationGestureRecognizer::signf(float value)
{
    return value < 0 ? -1.0f : 1.0f;
}

float SolarRotationGestureRecognizer::innerRingRadius()
{
    return IdeaView::radiusForRole(kSolarRotationCentralRole) * 0.5f;
}

bool SolarRotationGestureRecognizer::isInRing(float distance, float orbitRadius, float outerFactor)
{
    return innerRingRadius() <= distance && distance <= outerFactor * orbitRadius;
}

bool SolarRotationGestureRecognizer::isInPressRing(Point point,
                                                   const SolarRotationGestureTarget& target) const
{
    return isInRing(Geometry::distanceFrom(point, target.orbitVisualCenter()), target.orbitVisualRadius(),
                    kPressRingOuterFactor);
}

bool SolarRotationGestureRecognizer::isInDragRing(Point point, const SolarRotationGestureTarget& target) const
{
    return isInRing(Geometry::distanceFrom(point, target.orbitVisualCenter()), target.orbitVisualRadius(),
                    kDragRingOuterFactor);
}

} // namespace corvex
