#pragma once

#include "platform/gfx/Point.h"
#include "platform/ui/Event.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace corvex {

class LongTapAndDragGestureDetectorDelegate;

// Turns a view's mouse events into single taps, double taps and long presses that start a
// drag, and reports them to its delegate. Not a platform recogniser: the owning view makes
// itself the delegate and forwards mouse events to the detector after its own handling (a
// view may forward a press only where a draggable item lies, but every drag and release).
// Reported points are the events' window locations; times are the events' timestamps.
//
// A press that neither moves nor ends starts a drag (startDragGestureIfPossible) about
// 170 ms later, or at once on a drag event that did not move after 0.18 s. Any movement at
// all abandons the press: no tap, no drag (the tolerance is 0 pixels). Releases are told
// apart as by TapPanSwipeDetector: click count 2 is a double tap, any other release of a
// press a single tap, and a further release without a forwarded press within 0.3 s of it a
// double tap. Delayed checks run on the main queue; each holds the detector until it runs
// and does nothing when the operation counter moved since it was scheduled.
//
// Made only through create() (the delayed checks hold it). Main thread only.
class LongTapAndDragDetector : public std::enable_shared_from_this<LongTapAndDragDetector>
{
public:
    enum Status : std::int64_t
    {
        Idle = 0,
        Pressed = 1,
        Tapped = 2, // a single tap was reported; a second release may follow
    };

    static std::shared_ptr<LongTapAndDragDetector> create();
    LongTapAndDragDetector(const LongTapAndDragDetector&) = delete;
    LongTapAndDragDetector& operator=(const LongTapAndDragDetector&) = delete;

    // A press always starts over, whatever the state was.
    void mouseDown(const Event& event);
    void mouseDragged(const Event& event);
    void mouseUp(const Event& event);

    // Back to idle: drops the last event, zeroes the point and times, and moves the operation
    // counter (which voids every pending check).
    void reset();
    // Reports startDragGestureIfPossible with the point, ignores the answer, then resets;
    // the delegate can still read lastEvent while it is called.
    void startDrag(Point point);

    // The last event received; none after a reset.
    const std::optional<Event>& lastEvent() const { return mLastEvent; }
    std::shared_ptr<LongTapAndDragGestureDetectorDelegate> delegate() const { return mDelegate.lock(); }
    // Held weakly.
    void setDelegate(const std::shared_ptr<LongTapAndDragGestureDetectorDelegate>& delegate)
    {
        mDelegate = delegate;
    }

    std::int64_t detectorStatus() const { return mDetectorStatus; }
    std::int64_t operationCount() const { return mOperationCount; }

private:
    LongTapAndDragDetector() = default;

    void longPressCheck(std::int64_t operation);

    std::int64_t mDetectorStatus = Idle;
    std::int64_t mOperationCount = 0;
    Point mStartPoint;
    double mStartTouchTimeSecs = 0;
    double mSingleTapTimeSecs = 0;
    const std::int64_t mSensitivityInPixels = 0;
    std::optional<Event> mLastEvent;
    std::weak_ptr<LongTapAndDragGestureDetectorDelegate> mDelegate;
};

} // namespace corvex
