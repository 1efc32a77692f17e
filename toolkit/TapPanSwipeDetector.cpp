#include "toolkit/TapPanSwipeDetector.h"

#include "graphics/Geometry.h"
#include "platform/core/MainQueue.h"
#include "toolkit/TapPanSwipeDetectorDelegate.h"

namespace corvex {

namespace {

// A second release within this time of a single tap is a double tap; after it a pending
// single tap is forgotten.
constexpr double kTapDoubleTapInterval = 0.3;
// A pan released after the pointer rested longer than this ends without a swipe.
constexpr double kSwipeRestLimit = 0.1;

} // namespace

std::shared_ptr<TapPanSwipeDetector> TapPanSwipeDetector::create()
{
    return std::shared_ptr<TapPanSwipeDetector>(new TapPanSwipeDetector());
}

void TapPanSwipeDetector::mouseDown(const Event& event)
{
    mLastEvent = event;
    mStartPoint = event.locationInWindow();
    mLastPoint = mStartPoint;
    mStartTouchTimeSecs = event.timestamp();
    mLastTouchTimeSecs = event.timestamp();
    mLastUpdateVelocity = Point();
    mDetectorStatus = Pressed;
    ++mOperationCount;
}

void TapPanSwipeDetector::mouseDragged(const Event& event)
{
    // The delegate may let go of the detector while it is told.
    const auto keepAlive = shared_from_this();
    mLastEvent = event;
    const Point p = event.locationInWindow();
    const double t = event.timestamp();
    if (mDetectorStatus == Pressed) {
        if (!(Geometry::distanceFrom(mStartPoint, p) > float(mSensitivityInPixels)))
            return;
        startPan(p);
        // The first step computes no velocity: there is no earlier step to measure from.
        const Point movement = Geometry::translationFrom(mLastPoint, p);
        mLastPoint = p;
        mLastTouchTimeSecs = t;
        if (auto delegate = mDelegate.lock())
            delegate->panGestureUpdate(movement);
    } else if (mDetectorStatus == Panning) {
        const Point movement = Geometry::translationFrom(mLastPoint, p);
        const double dt = t - mLastTouchTimeSecs;
        mLastUpdateVelocity = Point();
        if (dt > 0)
            mLastUpdateVelocity = Point(movement.x / dt, movement.y / dt);
        mLastPoint = p;
        mLastTouchTimeSecs = t;
        if (auto delegate = mDelegate.lock())
            delegate->panGestureUpdate(movement);
    }
}

void TapPanSwipeDetector::mouseUp(const Event& event)
{
    const auto keepAlive = shared_from_this();
    mLastEvent = event;
    const Point p = event.locationInWindow();
    const double t = event.timestamp();
    switch (mDetectorStatus) {
    case Pressed: {
        mDetectorStatus = Tapped;
        if (event.clickCount() == 2) {
            if (auto delegate = mDelegate.lock())
                delegate->doubleTap(p);
            reset();
            return;
        }
        mSingleTapTimeSecs = t;
        const std::int64_t operation = ++mOperationCount;
        // Forgets the single tap when no second release came in time.
        MainQueue::postAfter(kTapDoubleTapInterval, [self = keepAlive, operation] {
            if (self->mOperationCount == operation && self->mDetectorStatus == Tapped)
                self->reset();
        });
        if (auto delegate = mDelegate.lock())
            delegate->singleTap(p);
        return;
    }
    case Tapped:
        // A release with no press forwarded since the single tap.
        if (t - mSingleTapTimeSecs < kTapDoubleTapInterval) {
            if (auto delegate = mDelegate.lock())
                delegate->doubleTap(p);
        }
        reset();
        return;
    case Panning: {
        const Point movement = Geometry::translationFrom(mLastPoint, p);
        const double dt = t - mLastTouchTimeSecs;
        mLastPoint = p;
        mLastTouchTimeSecs = t;
        if (dt > kSwipeRestLimit)
            mLastUpdateVelocity = Point();
        if (auto delegate = mDelegate.lock())
            delegate->panGestureDone(movement, mLastUpdateVelocity);
        reset();
        return;
    }
    default:
        reset();
        return;
    }
}

void TapPanSwipeDetector::reset()
{
    mLastEvent.reset();
    mStartPoint = Point();
    mLastPoint = Point();
    mStartTouchTimeSecs = 0;
    mLastTouchTimeSecs = 0;
    mSingleTapTimeSecs = 0;
    mDetectorStatus = Idle;
    ++mOperationCount;
}

void TapPanSwipeDetector::startPan(Point point)
{
    mDetectorStatus = Panning;
    if (auto delegate = mDelegate.lock())
        delegate->panGestureStarted(point);
}

} // namespace corvex
