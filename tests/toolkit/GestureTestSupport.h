#pragma once

// Shared pieces of the gesture detector tests: delegates that record every report as a line
// ("singleTap (10, 20)"), and events stamped with the current (virtual) media time or a
// given timestamp.

#include "platform/core/MainQueue.h"
#include "platform/ui/Event.h"
#include "toolkit/LongTapAndDragDetector.h"
#include "toolkit/LongTapAndDragGestureDetectorDelegate.h"
#include "toolkit/TapPanSwipeDetector.h"
#include "toolkit/TapPanSwipeDetectorDelegate.h"

#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvex::test {

// Where the virtual clock of a gesture test starts.
inline constexpr double kGestureStart = 1000.0;

inline std::string pointText(Point p)
{
    return "(" + QString::number(p.x).toStdString() + ", " + QString::number(p.y).toStdString() + ")";
}

// Every report as "<method> <point>[ <point>]", in order. Reports off the main thread fail
// the test.
class GestureLog
{
public:
    void add(const std::string& line)
    {
        EXPECT_TRUE(MainQueue::isMainThread()) << line << " reported off the main thread";
        lines.push_back(line);
    }
    std::vector<std::string> lines;
};

class RecordingPanDelegate : public TapPanSwipeDetectorDelegate
{
public:
    void panGestureStarted(Point point) override { log.add("panGestureStarted " + pointText(point)); }
    void panGestureUpdate(Point movement) override { log.add("panGestureUpdate " + pointText(movement)); }
    void panGestureDone(Point movement, Point swipe) override
    {
        log.add("panGestureDone " + pointText(movement) + " " + pointText(swipe));
    }
    void singleTap(Point point) override { log.add("singleTap " + pointText(point)); }
    void doubleTap(Point point) override { log.add("doubleTap " + pointText(point)); }

    GestureLog log;
};

class RecordingDragDelegate : public LongTapAndDragGestureDetectorDelegate
{
public:
    std::shared_ptr<void> startDragGestureIfPossible(Point point) override
    {
        log.add("startDragGestureIfPossible " + pointText(point));
        if (onStartDrag)
            onStartDrag();
        return std::make_shared<int>(1);
    }
    void dragGestureUpdate(Point point) override { log.add("dragGestureUpdate " + pointText(point)); }
    void dragGestureDone(Point point) override { log.add("dragGestureDone " + pointText(point)); }
    void dragGestureCancel(Point point) override { log.add("dragGestureCancel " + pointText(point)); }
    void singleTap(Point point) override { log.add("singleTap " + pointText(point)); }
    void doubleTap(Point point) override { log.add("doubleTap " + pointText(point)); }

    GestureLog log;
    std::function<void()> onStartDrag;
};

// Left-button events at window points, stamped with the media clock (virtual in the tests);
// `at` overrides the timestamp.
inline Event down(double x, double y, int clicks = 1)
{
    return Event::mouseDown(Point(x, y), clicks);
}
inline Event up(double x, double y, int clicks = 1)
{
    return Event::mouseUp(Point(x, y), clicks);
}
inline Event drag(double x, double y)
{
    return Event::mouseDragged(Point(x, y));
}
inline Event at(Event event, double timestamp)
{
    event.setTimestamp(timestamp);
    return event;
}

using Lines = std::vector<std::string>;

} // namespace corvex::test
