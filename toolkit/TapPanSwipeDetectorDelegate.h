#pragma once

#include "platform/gfx/Point.h"

namespace corvex {

// What a TapPanSwipeDetector reports. Points are in window coordinates (y up); vectors are
// movements in points, velocities in points per second. Called on the main thread.
class TapPanSwipeDetectorDelegate
{
public:
    virtual ~TapPanSwipeDetectorDelegate();

    // Where the pan began: the first drag position that moved away from the press.
    virtual void panGestureStarted(Point point) = 0;
    // The movement since the previous report.
    virtual void panGestureUpdate(Point movement) = 0;
    // The movement since the last update and the release velocity (zero when the pointer
    // rested before the release).
    virtual void panGestureDone(Point movement, Point swipe) = 0;
    virtual void singleTap(Point point) = 0;
    virtual void doubleTap(Point point) = 0;
};

} // namespace corvex
