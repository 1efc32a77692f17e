#pragma once

#include "platform/gfx/Point.h"
#include "platform/ui/Event.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace corvex {

class TapPanSwipeDetectorDelegate;

// Turns a view's mouse events into single taps, double taps, pans and swipes (a pan
// released at speed) and reports them to its delegate. Not a platform recogniser: the
// owning view makes itself the delegate and forwards its mouseDown, mouseDragged and
// mouseUp to the detector after its own handling. Reported points are the events' window
// locations; times are the events' timestamps.
//
// Any movement at all after a press starts a pan (the tolerance is 0 pixels). A release
// with click count 2 is a double tap; any other release of a press is a single tap, and a
// further release without a forwarded press within 0.3 s of it is a double tap. Delayed
// checks run on the main queue; each holds the detector until it runs and does nothing when
// the operation counter moved since it was scheduled (every press and reset moves it).
//
// Made only through create() (the delayed checks hold it). Main thread only.
class TapPanSwipeDetector : public std::enable_shared_from_this<TapPanSwipeDetector>
{
public:
    enum Status : std::int64_t
    {
        Idle = 0,
        Pressed = 1,
        Tapped = 2, // a single tap was reported; a second release may follow
        Panning = 3,
    };

    static std::shared_ptr<TapPanSwipeDetector> create();
    TapPanSwipeDetector(const TapPanSwipeDetector&) = delete;
    TapPanSwipeDetector& operator=(const TapPanSwipeDetector&) = delete;

    // A press always starts over, whatever the state was.
    void mouseDown(const Event& event);
    void mouseDragged(const Event& event);
    void mouseUp(const Event& event);

    // Back to idle: drops the last event, zeroes the points and times, and moves the
    // operation counter (which voids every pending check). The swipe velocity stays until
    // the next press.
    void reset();
    // Enters the panning state and reports panGestureStarted with the point.
    void startPan(Point point);
    bool panning() const { return mDetectorStatus == Panning; }

    // The last event received; none after a reset.
    const std::optional<Event>& lastEvent() const { return mLastEvent; }
    std::shared_ptr<TapPanSwipeDetectorDelegate> delegate() const { return mDelegate.lock(); }
    // Held weakly.
    void setDelegate(const std::shared_ptr<TapPanSwipeDetectorDelegate>& delegate) { mDelegate = delegate; }

    std::int64_t detectorStatus() const { return mDetectorStatus; }
    std::int64_t operationCount() const { return mOperationCount; }
    // Points per second of the last pan step.
    Point lastUpdateVelocity() const { return mLastUpdateVelocity; }

private:
    TapPanSwipeDetector() = default;

    std::int64_t mDetectorStatus = Idle;
    std::int64_t mOperationCount = 0;
    Point mStartPoint;
    Point mLastPoint;
    Point mLastUpdateVelocity;
    double mStartTouchTimeSecs = 0;
    double mLastTouchTimeSecs = 0;
    double mSingleTapTimeSecs = 0;
    const std::int64_t mSensitivityInPixels = 0;
    std::optional<Event> mLastEvent;
    std::weak_ptr<TapPanSwipeDetectorDelegate> mDelegate;
};

} // namespace corvex
