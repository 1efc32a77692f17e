// Input through a window on virtual time: rotation by drag and flick, long presses, clicks and
// double clicks, the space bar, right clicks, cursors and note hover, against a recording
// delegate and a recording note-hover utility.

#include "graphics/Geometry.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetDrawer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarRotationAnimator.h"
#include "platform/ui/Cursor.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kInputPi = 3.141592653589793;

// A solar system of five children "c.0" ... "c.4" in a 1000 x 800 window, centre (500, 400).
struct InputRig
{
    explicit InputRig(bool documentWindow = false, int children = 5) : w(Size(1000, 800), documentWindow)
    {
        centre = solarIdea(QStringLiteral("c"), children);
        parent = solarIdea(QStringLiteral("parent"));
        showIdea(*w.solar, centre, parent);
        View::runUpdateCycle();
    }
    // A point of the view `distance` from the orbit centre at `degrees` (clockwise on screen).
    Point ring(double distance, double degrees) const
    {
        const Point c = w.solar->orbitVisualCenter();
        const double a = degrees * kInputPi / 180;
        return Point(c.x + distance * std::cos(a), c.y + distance * std::sin(a));
    }
    void press(Point view) { w.send(Event::mouseDown(w.inWindow(view))); }
    void drag(Point view) { w.send(Event::mouseDragged(w.inWindow(view))); }
    void release(Point view, int clicks = 1) { w.send(Event::mouseUp(w.inWindow(view), clicks)); }
    void click(Point view, int clicks = 1)
    {
        w.send(Event::mouseDown(w.inWindow(view), clicks));
        w.send(Event::mouseUp(w.inWindow(view), clicks));
    }
    // A quick drag around the ring from 10 to 40 degrees, released while moving: the orbit
    // runs on afterwards.
    void flick()
    {
        Point p = ring(330, 10);
        press(p);
        for (double deg : {20.0, 30.0, 40.0}) {
            time.advance(0.01);
            p = ring(330, deg);
            drag(p);
        }
        time.advance(0.01);
        release(p);
    }
    Point planet(std::int64_t i) const { return LayerExtensions::center(*w.solar->ideaViewAtIndex(i)); }
    QString planetId(std::int64_t i) const { return w.solar->ideaViewAtIndex(i)->ideaIdentifier(); }

    ScopedVirtualTime time;
    SolarWindow w;
    IdeaPtr centre;
    IdeaPtr parent;
};

// The recogniser's velocity estimate and flick velocity, computed from the events the test
// sends (view points and their times), as the rotation rules give them.
float flickVelocity(const std::vector<std::pair<Point, double>>& events, Point centre, float radius)
{
    Point velocity;
    int seen = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        seen = std::min(seen + 1, 4);
        if (seen < 2)
            continue;
        const double dt = events[i].second - events[i - 1].second;
        if (dt > 0.1) {
            velocity = Point();
            seen = 1;
            continue;
        }
        const Point step = dt > 0 ? Point((events[i].first.x - events[i - 1].first.x) / dt,
                                          (events[i].first.y - events[i - 1].first.y) / dt)
                                  : Point();
        const double decay = double(seen - 2) / double(seen - 1);
        velocity = Point(velocity.x * decay + step.x, velocity.y * decay + step.y);
    }
    const Point p = events.back().first;
    const float from = Geometry::angleFrom(centre, p);
    const float to = Geometry::angleFrom(centre, Point(p.x + velocity.x, p.y + velocity.y));
    const float turn = Geometry::minimumAngleFrom(from, to);
    const float w = (turn < 0 ? -1.0f : 1.0f) * Geometry::length(velocity) / radius;
    return std::clamp(w, -31.415926f, 31.415926f);
}

} // namespace

// ---- Rotation ----

TEST(SolarSystemInput, AFlickTurnsTheOrbitOnByASpeedOverThreeAndAHalf)
{
    InputRig r;
    std::vector<std::pair<Point, double>> events;
    const auto at = [&](Point p) { events.push_back({p, r.time.now()}); };
    Point p = r.ring(330, 10);
    r.press(p);
    at(p);
    for (double deg : {14.0, 18.0, 22.0}) {
        r.time.advance(0.01);
        p = r.ring(330, deg);
        r.drag(p);
        at(p);
    }
    r.time.advance(0.01);
    r.release(p);
    at(p);
    const float atRelease = r.w.solar->currentAngle();
    const float w = flickVelocity(events, r.w.solar->orbitVisualCenter(), r.w.solar->radius());
    ASSERT_GT(std::fabs(w), 1.0f);
    r.time.advance(2.0);
    EXPECT_NEAR(r.w.solar->currentAngle() - atRelease, w / 3.5f, 1e-3);
    EXPECT_EQ(r.w.solar->rotationAnimator(), nullptr) << "the run ended and stopped";
}

TEST(SolarSystemInput, ANewDragDuringTheRunOnStopsItAndOnlyItsOwnStepsMoveTheOrbit)
{
    InputRig r;
    r.flick();
    r.time.advance(0.1);
    const auto spin = r.w.solar->rotationAnimator();
    ASSERT_NE(spin, nullptr);
    ASSERT_TRUE(spin->isRunning()) << "still running on";

    const Point start = r.ring(300, 90);
    r.press(start);
    r.time.advance(0.05);
    const Point first = r.ring(300, 95);
    r.drag(first);
    EXPECT_TRUE(spin->isCancelled()) << "the begin of the new rotation stopped the spin";
    const float atBegin = r.w.solar->currentAngle();
    r.time.advance(0.05);
    const Point last = r.ring(300, 105);
    r.drag(last);
    r.time.advance(0.3); // every step has run to its target; the pause also ends the flick speed
    r.release(last);
    r.time.advance(2.0);
    const float turned = Geometry::angleFrom(r.w.solar->orbitVisualCenter(), last) -
                         Geometry::angleFrom(r.w.solar->orbitVisualCenter(), start);
    EXPECT_NEAR(r.w.solar->currentAngle() - atBegin, turned, 1e-3);
}

TEST(SolarSystemInput, ARotationThatMayNotStartIgnoresItsStepsAndItsEnd)
{
    InputRig r(false, 0);
    const float before = r.w.solar->currentAngle();
    auto& recognizer = *r.w.solar->rotationGestureRecognizer();
    r.w.solar->handleBeginRotationGesture(recognizer, 0.3f);
    r.w.solar->handleChangeRotationGesture(recognizer, 0.5f);
    r.w.solar->handleEndRotationGesture(recognizer, 5.0f);
    r.w.solar->handleEndRotationGesture(recognizer);
    r.time.advance(1.0);
    EXPECT_EQ(r.w.solar->currentAngle(), before);
    EXPECT_EQ(r.w.solar->rotationAnimator(), nullptr);
}

TEST(SolarSystemInput, AReleaseWithoutAUsableSpeedStopsTheOrbitWhereItIs)
{
    for (float velocity : {0.0f, NAN, INFINITY}) {
        InputRig r;
        auto& recognizer = *r.w.solar->rotationGestureRecognizer();
        r.w.solar->handleBeginRotationGesture(recognizer, 0.0f);
        r.w.solar->handleChangeRotationGesture(recognizer, 0.2f);
        r.time.advance(0.5);
        const float reached = r.w.solar->currentAngle();
        r.w.solar->handleEndRotationGesture(recognizer, velocity);
        EXPECT_EQ(r.w.solar->rotationAnimator(), nullptr) << velocity;
        r.time.advance(1.0);
        EXPECT_EQ(r.w.solar->currentAngle(), reached) << velocity;
        EXPECT_TRUE(std::isfinite(r.w.solar->currentAngle())) << velocity;
    }
}

// ---- Presses, clicks and keys ----

TEST(SolarSystemInput, APressHeldStillOnAPlanetStartsOneDragAndAMovedOneNothing)
{
    InputRig r;
    r.press(r.planet(1));
    r.time.advance(0.3);
    r.release(r.planet(1));
    r.time.advance(0.5);
    ASSERT_EQ(r.w.delegate->summary(), std::vector<QString>{QStringLiteral("drag:") + r.planetId(1)});
    EXPECT_EQ(r.w.delegate->calls[0].rect, r.w.solar->ideaViewAtIndex(1)->frame());
    EXPECT_EQ(r.w.delegate->dragEvents[0].type(), Event::Type::LeftMouseDown);

    r.w.delegate->calls.clear();
    r.press(r.planet(1));
    r.drag(Point(r.planet(1).x + 1, r.planet(1).y));
    r.time.advance(0.3);
    r.release(Point(r.planet(1).x + 1, r.planet(1).y));
    r.time.advance(0.5);
    EXPECT_TRUE(r.w.delegate->calls.empty()) << "a press moved by one pixel is neither tap nor drag";
}

TEST(SolarSystemInput, ClicksOnPlanetsCentreAndParentBecomeDrillsEditsAndDrillUps)
{
    struct Row
    {
        const char* what;
        std::function<void(InputRig&)> act;
        std::function<std::vector<QString>(InputRig&)> expected;
    };
    const Row table[] = {
        {"single click on a planet drills after 300 ms",
         [](InputRig& r) {
             r.click(r.planet(2));
             r.time.advance(0.29);
             EXPECT_TRUE(r.w.delegate->calls.empty()) << "not before 300 ms";
             r.time.advance(0.02);
         },
         [](InputRig& r) { return std::vector<QString>{QStringLiteral("drill:") + r.planetId(2)}; }},
        {"click then double click: one edit, no drill",
         [](InputRig& r) {
             r.click(r.planet(2));
             r.time.advance(0.1);
             r.click(r.planet(2), 2);
         },
         [](InputRig& r) { return std::vector<QString>{QStringLiteral("edit:") + r.planetId(2)}; }},
        {"click on a planet then on the centre within 300 ms",
         [](InputRig& r) {
             r.click(r.planet(0));
             r.time.advance(0.2);
             r.click(r.w.solar->orbitVisualCenter());
         },
         [](InputRig& r) { return std::vector<QString>{QStringLiteral("edit:") + r.centre->identifier()}; }},
        {"a second click while a drill waits adds nothing",
         [](InputRig& r) {
             r.click(r.planet(3));
             r.time.advance(0.1);
             r.click(r.planet(3));
         },
         [](InputRig& r) { return std::vector<QString>{QStringLiteral("drill:") + r.planetId(3)}; }},
        {"click on the parent", [](InputRig& r) { r.click(Point(20, 20)); },
         [](InputRig&) { return std::vector<QString>{QStringLiteral("up")}; }},
        {"input disabled: clicks do nothing",
         [](InputRig& r) {
             r.w.solar->setUserInteractionEnabled(false);
             r.click(r.planet(2));
             r.click(r.w.solar->orbitVisualCenter());
             r.click(Point(20, 20));
         },
         [](InputRig&) { return std::vector<QString>{}; }},
        {"a drill waiting when input goes off is dropped",
         [](InputRig& r) {
             r.click(r.planet(2));
             r.w.solar->setUserInteractionEnabled(false);
         },
         [](InputRig&) { return std::vector<QString>{}; }},
    };
    for (const Row& row : table) {
        InputRig r;
        row.act(r);
        r.time.advance(1.0);
        EXPECT_EQ(r.w.delegate->summary(), row.expected(r)) << row.what;
        EXPECT_EQ(r.w.solar->drillWaitingConfirmation(), nullptr) << row.what;
    }
}

TEST(SolarSystemInput, AClickOnAnAdderDuringTheRunOnStopsItAtOnceAndAsksOnce)
{
    InputRig r;
    r.flick();
    r.time.advance(0.05);
    ASSERT_NE(r.w.solar->rotationAnimator(), nullptr);
    const auto adder = r.w.solar->ideaAdderViewAtIndex(3);
    const Rect frame = adder->frame();
    r.click(ViewExtensions::center(*adder));
    const float stopped = r.w.solar->currentAngle();
    EXPECT_EQ(r.w.solar->rotationAnimator(), nullptr);
    r.time.advance(1.0);
    EXPECT_EQ(r.w.solar->currentAngle(), stopped) << "nothing moves after the click";
    ASSERT_EQ(r.w.delegate->calls.size(), 1u);
    EXPECT_EQ(r.w.delegate->calls[0].kind, QStringLiteral("add"));
    EXPECT_EQ(r.w.delegate->calls[0].index, 3);
    EXPECT_EQ(r.w.delegate->calls[0].rect, frame);
}

TEST(SolarSystemInput, TheSpaceBarAsksForAnIdeaAfterTheLastPlanet)
{
    for (int children : {5, 0}) {
        InputRig r(false, children);
        r.w.window->makeFirstResponder(r.w.solar.get());
        r.w.send(Event::keyDown(QStringLiteral(" "), Event::KeyCodeSpace));
        r.w.send(Event::keyDown(QStringLiteral("x"), Event::KeyCodeUnknown));
        ASSERT_EQ(r.w.delegate->calls.size(), 1u) << children;
        EXPECT_EQ(r.w.delegate->calls[0].index, children - 1);
        const std::int64_t adder =
            std::max<std::int64_t>(std::min<std::int64_t>(r.w.solar->ideaAdderViewCount(), children - 1), 0);
        EXPECT_EQ(r.w.delegate->calls[0].rect, r.w.solar->ideaAdderViewAtIndex(adder)->frame()) << children;
    }
}

TEST(SolarSystemInput, ARightClickAsksForTheMenuOfWhatLiesUnderIt)
{
    InputRig r;
    struct Row
    {
        const char* what;
        Point point;
        QString identifier; // empty: no menu
    };
    const Row table[] = {
        {"planet", r.planet(4), r.planetId(4)},
        {"centre", r.w.solar->orbitVisualCenter(), r.centre->identifier()},
        {"parent", Point(15, 15), r.parent->identifier()},
        {"empty space", Point(980, 780), QString()},
    };
    for (bool enabled : {true, false}) {
        r.w.solar->setUserInteractionEnabled(enabled);
        for (const Row& row : table) {
            r.w.delegate->calls.clear();
            const auto menu = r.w.solar->menuForEvent(Event::rightMouseDown(r.w.inWindow(row.point)));
            if (row.identifier.isEmpty()) {
                EXPECT_EQ(menu, nullptr) << row.what;
                EXPECT_TRUE(r.w.delegate->calls.empty()) << row.what;
            } else {
                ASSERT_NE(menu, nullptr) << row.what << " enabled " << enabled;
                EXPECT_EQ(menu->title(), row.identifier) << row.what;
            }
        }
    }
}

// ---- Cursor and note hover ----

TEST(SolarSystemInput, TheCursorAndTheNoteHoverFollowWhatLiesUnderThePointer)
{
    ScopedRecordingNoteHover hover;
    InputRig r;
    ASSERT_NE(r.w.solar->noteHoverUtility(), nullptr);
    IdeaPtr noted = Idea::initWithText(QStringLiteral("noted"));
    noted->setNote(QStringLiteral("the note"));
    r.w.solar->modifyIdea(noted, 1);
    const auto planet = r.w.solar->ideaViewAtIndex(1);
    const Rect badge = planet->planetDrawer()->noteRect();
    const Point onBadge(planet->frame().origin.x + badge.midX(), planet->frame().origin.y + badge.midY());

    struct Row
    {
        const char* what;
        Point point;
        Cursor::Shape shape;
        std::optional<QString> note;
    };
    const Row table[] = {
        {"empty space in the ring", r.ring(330, 10), Cursor::Shape::OpenHand, std::nullopt},
        {"outside the ring", Point(990, 790), Cursor::Shape::Arrow, std::nullopt},
        {"planet", r.planet(3), Cursor::Shape::PointingHand, std::nullopt},
        {"note badge", onBadge, Cursor::Shape::ContextualMenu, QStringLiteral("the note")},
        {"centre", r.w.solar->orbitVisualCenter(), Cursor::Shape::PointingHand, std::nullopt},
        {"parent", Point(15, 15), Cursor::Shape::PointingHand, std::nullopt},
    };
    for (const Row& row : table) {
        hover.log->clear();
        r.w.send(Event::mouseMoved(r.w.inWindow(row.point)));
        EXPECT_EQ(Cursor::currentCursor().shape(), row.shape) << row.what;
        ASSERT_FALSE(hover.log->empty()) << row.what;
        EXPECT_EQ(hover.log->back().note, row.note) << row.what;
        EXPECT_NEAR(hover.log->back().point.x, row.point.x, 1e-6) << row.what;
        EXPECT_NEAR(hover.log->back().point.y, row.point.y, 1e-6) << row.what;
    }
}

TEST(SolarSystemInput, AnotherScreenOverTheMindMapLeavesCursorAndNoteHoverAlone)
{
    ScopedRecordingNoteHover hover;
    InputRig r(true);
    r.w.send(Event::mouseMoved(r.w.inWindow(r.planet(0))));
    EXPECT_EQ(Cursor::currentCursor().shape(), Cursor::Shape::PointingHand);
    ASSERT_FALSE(hover.log->empty()) << "one subview in the container: served";

    // An alert laid over the screen in the container view.
    r.w.content->addSubview(BaseView::create(Rect(0, 0, 10, 10)));
    Cursor::arrowCursor().set();
    hover.log->clear();
    r.w.send(Event::mouseMoved(r.w.inWindow(r.ring(330, 10))));
    r.w.send(Event::mouseMoved(r.w.inWindow(r.planet(2))));
    EXPECT_EQ(Cursor::currentCursor().shape(), Cursor::Shape::Arrow);
    EXPECT_TRUE(hover.log->empty());
}

TEST(SolarSystemInput, WithoutANoteHoverFactoryTheViewHasNoUtility)
{
    InputRig r;
    EXPECT_EQ(r.w.solar->noteHoverUtility(), nullptr);
    r.w.send(Event::mouseMoved(r.w.inWindow(r.planet(0))));
    EXPECT_EQ(Cursor::currentCursor().shape(), Cursor::Shape::PointingHand);
    EXPECT_EQ(r.w.solar->hostViewForNoteHoverDisplay().get(), r.w.solar.get());
}

TEST(SolarSystemInput, ANoteMayShowOnlyWhileTheUserWorksOnTheMap)
{
    // Each way of working elsewhere, from the pointer over a planet of the key window.
    const std::shared_ptr<Window> other = Window::create(Size(100, 100));
    const std::pair<const char*, std::function<void(InputRig&)>> elsewhere[] = {
        {"the pointer left the window", [](InputRig& r) { r.w.window->mouseExitedWindow(); }},
        {"another window became key", [&other](InputRig&) { other->makeKeyWindow(); }},
        {"another screen lies over the map",
         [](InputRig& r) { r.w.content->addSubview(BaseView::create(Rect(0, 0, 10, 10))); }},
    };
    for (const auto& [what, act] : elsewhere) {
        InputRig r(true);
        r.w.send(Event::mouseMoved(r.w.inWindow(r.planet(0))));
        EXPECT_TRUE(r.w.solar->isNoteHoverDisplayAllowed()) << what;
        act(r);
        EXPECT_FALSE(r.w.solar->isNoteHoverDisplayAllowed()) << what;
    }
}
