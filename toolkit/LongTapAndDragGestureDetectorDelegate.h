#pragma once

#include "platform/gfx/Point.h"

#include <memory>

namespace corvex {

// What a LongTapAndDragDetector reports. Points are in window coordinates (y up). Called on
// the main thread.
//
// The detector sends only startDragGestureIfPossible, singleTap and doubleTap: once a drag
// has started it is the delegate's own business (it begins the platform's dragging with the
// detector's lastEvent). The drag update, done and cancel methods belong to the interface
// for the delegate's own drag handling.
class LongTapAndDragGestureDetectorDelegate
{
public:
    virtual ~LongTapAndDragGestureDetectorDelegate();

    // A long press, or a drag event that did not move after the long-press time: the press
    // point (or the event's point). The answer, any object, is ignored by the detector.
    virtual std::shared_ptr<void> startDragGestureIfPossible(Point point) = 0;
    virtual void dragGestureUpdate(Point point) = 0;
    virtual void dragGestureDone(Point point) = 0;
    virtual void dragGestureCancel(Point point) = 0;
    virtual void singleTap(Point point) = 0;
    virtual void doubleTap(Point point) = 0;
};

} // namespace corvex
