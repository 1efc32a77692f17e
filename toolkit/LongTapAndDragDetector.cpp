#include "toolkit/LongTapAndDragDetector.h"

#include "graphics/Geometry.h"
#include "platform/core/MainQueue.h"
#include "toolkit/LongTapAndDragGestureDetectorDelegate.h"

namespace corvex {

namespace {

// The long-press check runs in two steps on the main queue, 100 ms and then 70 ms after the
// press.
constexpr double kLongPressFirstStep = 0.1;
constexpr double kLongPressSecondStep = 0.07;
// A drag event that did not move starts the drag once the press is older than this.
constexpr double kStillDragStart = 0.18;
// A second release within this time of a single tap is a double tap; after it a pending
// single tap is forgotten.
constexpr double kLongTapDoubleTapInterval = 0.3;

} // namespace

std::shared_ptr<LongTapAndDragDetector> LongTapAndDragDetector::create()
{
    return std::shared_ptr<LongTapAndDragDetector>(new LongTapAndDragDetector());
}

void LongTapAndDragDetector::mouseDown(const Event& event)
{
    mLastEvent = event;
    mStartPoint = event.locationInWindow();
    mDetectorStatus = Pressed;
    mStartTouchTimeSecs = event.timestamp();
    const std::int64_t operation = ++mOperationCount;
    MainQueue::postAfter(kLongPressFirstStep, [self = shared_from_this(), operation] {
        MainQueue::postAfter(kLongPressSecondStep, [self, operation] { self->longPressCheck(operation); });
    });
}

void LongTapAndDragDetector::longPressCheck(std::int64_t operation)
{
    if (mDelegate.expired() || mOperationCount != operation || mDetectorStatus != Pressed)
        return;
    startDrag(mStartPoint);
}

void LongTapAndDragDetector::mouseDragged(const Event& event)
{
    mLastEvent = event;
    if (mDetectorStatus != Pressed)
        return;
    const Point p = event.locationInWindow();
    if (Geometry::distanceFrom(mStartPoint, p) > float(mSensitivityInPixels)) {
        // The press is abandoned: it yields neither a tap nor a drag.
        reset();
        return;
    }
    if (event.timestamp() - mStartTouchTimeSecs > kStillDragStart)
        startDrag(p);
}

void LongTapAndDragDetector::mouseUp(const Event& event)
{
    // The delegate may let go of the detector while it is told.
    const auto keepAlive = shared_from_this();
    mLastEvent = event;
    const Point p = event.locationInWindow();
    const double t = event.timestamp();
    if (mDetectorStatus == Pressed) {
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
        MainQueue::postAfter(kLongTapDoubleTapInterval, [self = keepAlive, operation] {
            if (self->mOperationCount == operation && self->mDetectorStatus == Tapped)
                self->reset();
        });
        if (auto delegate = mDelegate.lock())
            delegate->singleTap(p);
        return;
    }
    if (mDetectorStatus == Tapped && t - mSingleTapTimeSecs < kLongTapDoubleTapInterval) {
        // A release with no press forwarded since the single tap.
        if (auto delegate = mDelegate.lock())
            delegate->doubleTap(p);
    }
    reset();
}

void LongTapAndDragDetector::reset()
{
    mLastEvent.reset();
    mStartPoint = Point();
    mStartTouchTimeSecs = 0;
    mSingleTapTimeSecs = 0;
    mDetectorStatus = Idle;
    ++mOperationCount;
}

void LongTapAndDragDetector::startDrag(Point point)
{
    const auto keepAlive = shared_from_this();
    if (auto delegate = mDelegate.lock())
        (void)delegate->startDragGestureIfPossible(point);
    reset();
}

} // namespace corvex
