// Dispatch through Window::sendEvent with events made directly: hit testing, the implicit
// grab, the responder chain, the first responder, context menus, tracking areas and cursors.

#include "platform/ui/Cursor.h"
#include "platform/ui/Menu.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A window that logs what reaches the end of the chain.
class RecordingWindow : public Window
{
public:
    RecordingWindow(Size size, std::shared_ptr<QStringList> log) : Window(size), mLog(std::move(log)) {}
    void mouseDown(const Event&) override { mLog->append(QStringLiteral("window.mouseDown")); }
    void mouseUp(const Event&) override { mLog->append(QStringLiteral("window.mouseUp")); }
    void keyDown(const Event&) override { mLog->append(QStringLiteral("window.keyDown")); }
    void scrollWheel(const Event&) override { mLog->append(QStringLiteral("window.scrollWheel")); }
    void rightMouseDown(const Event&) override { mLog->append(QStringLiteral("window.rightMouseDown")); }

private:
    std::shared_ptr<QStringList> mLog;
};

// A responder inserted after a view, as a view controller is.
class Controller : public Responder
{
public:
    Controller(View& view, std::shared_ptr<QStringList> log) : mView(view), mLog(std::move(log)) {}
    Responder* nextResponder() const override { return mView.defaultNextResponder(); }
    void mouseDown(const Event& e) override
    {
        mLog->append(QStringLiteral("controller.mouseDown"));
        Responder::mouseDown(e);
    }

private:
    View& mView;
    std::shared_ptr<QStringList> mLog;
};

// Content 200 x 100, flipped; `left` covers the left half, `inner` sits in it.
struct Scene
{
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    RecordingWindow window{Size(200, 100), log};
    std::shared_ptr<RecordingView> content =
        RecordingView::make(QStringLiteral("content"), Rect(), true, log);
    std::shared_ptr<RecordingView> left =
        RecordingView::make(QStringLiteral("left"), Rect(0, 0, 100, 100), true, log);
    std::shared_ptr<RecordingView> inner =
        RecordingView::make(QStringLiteral("inner"), Rect(10, 10, 30, 30), true, log);
    std::shared_ptr<RecordingView> right =
        RecordingView::make(QStringLiteral("right"), Rect(100, 0, 100, 100), true, log);

    Scene()
    {
        window.setContentView(content);
        content->addSubview(left);
        content->addSubview(right);
        left->addSubview(inner);
    }

    // A point of a view of the scene in window base coordinates.
    Point at(const View& view, Point local) const { return view.convertPointToView(local, nullptr); }
    QString joined() const { return log->join(QLatin1Char(' ')); }
};

} // namespace

TEST(ResponderChain, AnUnhandledClickTravelsUpToTheWindow)
{
    Scene s;
    s.window.sendEvent(Event::mouseDown(s.at(*s.inner, Point(5, 5))));
    EXPECT_EQ(s.joined(),
              QStringLiteral("inner.mouseDown left.mouseDown content.mouseDown window.mouseDown"));
    ASSERT_FALSE(s.inner->events.empty());
    EXPECT_EQ(s.inner->events.front().window(), &s.window) << "sending stamps the window";
}

TEST(ResponderChain, AHandledEventStopsWhereItIsHandled)
{
    Scene s;
    s.left->keeps = true;
    s.window.sendEvent(Event::mouseDown(s.at(*s.inner, Point(5, 5))));
    EXPECT_EQ(s.joined(), QStringLiteral("inner.mouseDown left.mouseDown"));
}

TEST(ResponderChain, AResponderSetAfterAViewSitsBeforeItsSuperview)
{
    Scene s;
    Controller controller(*s.inner, s.log);
    s.inner->setNextResponder(&controller);
    EXPECT_EQ(s.inner->nextResponder(), &controller);
    s.window.sendEvent(Event::mouseDown(s.at(*s.inner, Point(5, 5))));
    EXPECT_EQ(s.joined(),
              QStringLiteral(
                  "inner.mouseDown controller.mouseDown left.mouseDown content.mouseDown window.mouseDown"));
}

TEST(ResponderChain, DragsAndTheReleaseGoToThePressedViewWhereverThePointerIs)
{
    Scene s;
    s.inner->keeps = true;
    s.right->keeps = true;
    s.window.sendEvent(Event::mouseDown(s.at(*s.inner, Point(5, 5))));
    s.window.sendEvent(Event::mouseDragged(s.at(*s.right, Point(50, 50))));
    s.window.sendEvent(Event::mouseDragged(Point(500, -40))); // outside the window
    s.window.sendEvent(Event::mouseUp(s.at(*s.right, Point(50, 50))));
    EXPECT_EQ(s.joined(),
              QStringLiteral("inner.mouseDown inner.mouseDragged inner.mouseDragged inner.mouseUp"));
    // The next click goes where it lands again.
    s.log->clear();
    s.window.sendEvent(Event::mouseDown(s.at(*s.right, Point(50, 50))));
    EXPECT_EQ(s.joined(), QStringLiteral("right.mouseDown"));
}

TEST(ResponderChain, EachButtonKeepsItsOwnGrab)
{
    Scene s;
    s.inner->keeps = true;
    s.right->keeps = true;
    s.window.sendEvent(Event::rightMouseDown(s.at(*s.inner, Point(5, 5))));
    s.window.sendEvent(Event::otherMouseDown(s.at(*s.right, Point(5, 5)), 2));
    s.window.sendEvent(Event::rightMouseDragged(s.at(*s.right, Point(6, 6))));
    s.window.sendEvent(Event::otherMouseDragged(s.at(*s.inner, Point(6, 6)), 2));
    s.window.sendEvent(Event::rightMouseUp(s.at(*s.right, Point(6, 6))));
    s.window.sendEvent(Event::otherMouseUp(s.at(*s.inner, Point(6, 6)), 2));
    EXPECT_EQ(s.joined(), QStringLiteral("inner.rightMouseDown right.otherMouseDown inner.rightMouseDragged "
                                         "right.otherMouseDragged inner.rightMouseUp right.otherMouseUp"));
}

TEST(ResponderChain, ScrollGoesToTheViewUnderThePointerAndUpTheChain)
{
    Scene s;
    s.window.sendEvent(Event::scrollWheel(s.at(*s.right, Point(10, 10)), 0, 1, 0, 10, false));
    EXPECT_EQ(s.joined(), QStringLiteral("right.scrollWheel content.scrollWheel window.scrollWheel"));
    ASSERT_EQ(s.right->events.size(), 1u);
    EXPECT_EQ(s.right->events[0].scrollingDeltaY(), 10);
}

TEST(ResponderChain, PinchesAndTabletEventsGoToTheViewUnderThePointerAndUpTheChain)
{
    Scene s;
    s.window.sendEvent(Event::magnify(s.at(*s.right, Point(10, 10)), 0.5));
    s.window.sendEvent(Event::tabletPoint(s.at(*s.inner, Point(5, 5)), 0.25));
    s.window.sendEvent(Event::tabletProximity(s.at(*s.left, Point(60, 60)), true));
    EXPECT_EQ(s.joined(), QStringLiteral("right.magnify content.magnify inner.tabletPoint left.tabletPoint "
                                         "content.tabletPoint left.tabletProximity content.tabletProximity"));
    ASSERT_EQ(s.right->events.size(), 1u);
    EXPECT_EQ(s.right->events[0].magnification(), 0.5);
}

TEST(FirstResponder, KeysGoToTheFirstResponderAndUpTheChain)
{
    Scene s;
    s.window.sendEvent(Event::keyDown(QStringLiteral("a"), Event::KeyCodeA));
    EXPECT_EQ(s.joined(), QStringLiteral("window.keyDown")) << "the window is first responder at first";

    s.inner->acceptsFirst = true;
    EXPECT_TRUE(s.window.makeFirstResponder(s.inner.get()));
    EXPECT_EQ(s.window.firstResponder(), s.inner.get());
    s.log->clear();
    s.window.sendEvent(Event::keyDown(QStringLiteral("a"), Event::KeyCodeA));
    s.window.sendEvent(Event::keyUp(QStringLiteral("a"), Event::KeyCodeA));
    s.window.sendEvent(Event::flagsChanged(Event::ShiftKeyMask, Event::KeyCodeShift));
    EXPECT_TRUE(
        s.joined().startsWith(QStringLiteral("inner.keyDown left.keyDown content.keyDown window.keyDown")))
        << s.joined().toStdString();
    EXPECT_TRUE(s.log->contains(QStringLiteral("inner.keyUp")));
    EXPECT_TRUE(s.log->contains(QStringLiteral("inner.flagsChanged")));
}

TEST(FirstResponder, MakeFirstResponderAsksBothSides)
{
    Scene s;
    EXPECT_FALSE(s.window.makeFirstResponder(s.left.get())) << "a view that does not accept";
    EXPECT_EQ(s.window.firstResponder(), &s.window);

    s.left->acceptsFirst = true;
    s.inner->acceptsFirst = true;
    ASSERT_TRUE(s.window.makeFirstResponder(s.left.get()));
    s.left->refusesToResign = true;
    s.log->clear();
    EXPECT_FALSE(s.window.makeFirstResponder(s.inner.get()));
    EXPECT_EQ(s.window.firstResponder(), s.left.get());
    EXPECT_EQ(s.joined(), QStringLiteral("left.resignFirstResponder"));

    s.left->refusesToResign = false;
    s.log->clear();
    EXPECT_TRUE(s.window.makeFirstResponder(s.inner.get()));
    EXPECT_EQ(s.joined(), QStringLiteral("left.resignFirstResponder inner.becomeFirstResponder"));
    EXPECT_TRUE(s.window.makeFirstResponder(nullptr));
    EXPECT_EQ(s.window.firstResponder(), &s.window);
}

TEST(FirstResponder, AClickMakesAnAcceptingViewFirstResponder)
{
    Scene s;
    s.inner->acceptsFirst = true;
    s.inner->keeps = true;
    s.window.sendEvent(Event::mouseDown(s.at(*s.right, Point(5, 5))));
    EXPECT_EQ(s.window.firstResponder(), &s.window);
    s.window.sendEvent(Event::mouseDown(s.at(*s.inner, Point(5, 5))));
    EXPECT_EQ(s.window.firstResponder(), s.inner.get());
    EXPECT_LT(s.log->indexOf(QStringLiteral("inner.becomeFirstResponder")),
              s.log->indexOf(QStringLiteral("inner.mouseDown")))
        << s.joined().toStdString();
}

TEST(FirstResponder, AFirstResponderThatLeavesOrDiesGivesWayToTheWindow)
{
    Scene s;
    s.inner->acceptsFirst = true;
    ASSERT_TRUE(s.window.makeFirstResponder(s.inner.get()));
    s.inner->removeFromSuperview();
    EXPECT_EQ(s.window.firstResponder(), &s.window);

    {
        auto temporary = RecordingView::make(QStringLiteral("temp"), Rect(0, 0, 5, 5), true, s.log);
        temporary->acceptsFirst = true;
        ASSERT_TRUE(s.window.makeFirstResponder(temporary.get()));
    }
    EXPECT_EQ(s.window.firstResponder(), &s.window);
}

TEST(ContextMenu, ARightClickShowsTheViewsMenuThroughThePresenter)
{
    struct MenuView : RecordingView
    {
        using RecordingView::RecordingView;
        std::shared_ptr<Menu> menu;
        std::shared_ptr<Menu> menuForEvent(const Event&) override { return menu; }
        void rightMouseDown(const Event& e) override { View::rightMouseDown(e); }
    };
    Scene s;
    auto view = std::make_shared<MenuView>(QStringLiteral("menuView"), Rect(0, 50, 20, 20), true, s.log);
    s.right->addSubview(view);
    std::vector<std::pair<std::shared_ptr<Menu>, View*>> shown;
    View::setContextMenuPresenter([&](const std::shared_ptr<Menu>& menu, const Event&, View& from) {
        shown.emplace_back(menu, &from);
    });

    s.window.sendEvent(Event::rightMouseDown(s.at(*view, Point(1, 1))));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(s.joined(), QStringLiteral("right.rightMouseDown content.rightMouseDown window.rightMouseDown"))
        << "no menu: passed on";

    view->menu = Menu::create(QStringLiteral("Context"));
    s.log->clear();
    s.window.sendEvent(Event::rightMouseDown(s.at(*view, Point(1, 1))));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, view->menu);
    EXPECT_EQ(shown[0].second, view.get());
    EXPECT_TRUE(s.log->isEmpty()) << s.joined().toStdString();
    View::setContextMenuPresenter(nullptr);
}

TEST(TrackingAreas, ReportEnteringMovingAndLeaving)
{
    Scene s;
    s.window.makeKeyWindow();
    auto area = TrackingArea::create(Rect(0, 0, 30, 30),
                                     TrackingArea::MouseEnteredAndExited | TrackingArea::MouseMoved |
                                         TrackingArea::CursorUpdate | TrackingArea::ActiveInActiveApp,
                                     s.inner.get(), QStringLiteral("info"));
    s.inner->addTrackingArea(area);
    s.inner->keeps = true;

    s.window.sendEvent(Event::mouseMoved(s.at(*s.right, Point(5, 5))));
    EXPECT_TRUE(s.log->isEmpty()) << s.joined().toStdString();
    s.window.sendEvent(Event::mouseMoved(s.at(*s.inner, Point(5, 5))));
    s.window.sendEvent(Event::mouseMoved(s.at(*s.inner, Point(6, 6))));
    s.window.sendEvent(Event::mouseMoved(s.at(*s.left, Point(80, 80))));
    EXPECT_EQ(s.joined(),
              QStringLiteral("inner.mouseEntered inner.cursorUpdate inner.mouseMoved inner.mouseMoved "
                             "inner.mouseExited"));
    ASSERT_GE(s.inner->events.size(), 1u);
    EXPECT_EQ(s.inner->events[0].type(), Event::Type::MouseEntered);
    EXPECT_EQ(s.inner->events[0].trackingArea(), area);
    EXPECT_EQ(s.inner->events[0].trackingArea()->userInfo().toString(), QStringLiteral("info"));
    EXPECT_EQ(s.inner->events[1].type(), Event::Type::CursorUpdate);
    EXPECT_EQ(s.inner->events.back().type(), Event::Type::MouseExited);
}

TEST(TrackingAreas, ExitsComeBeforeEntries)
{
    Scene s;
    s.window.makeKeyWindow();
    const auto options = TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveAlways;
    s.left->addTrackingArea(TrackingArea::create(s.left->bounds(), options, s.left.get()));
    s.right->addTrackingArea(TrackingArea::create(s.right->bounds(), options, s.right.get()));
    s.left->keeps = true;
    s.right->keeps = true;
    s.window.sendEvent(Event::mouseMoved(s.at(*s.left, Point(50, 50))));
    s.window.sendEvent(Event::mouseMoved(s.at(*s.right, Point(50, 50))));
    EXPECT_EQ(s.joined(), QStringLiteral("left.mouseEntered left.mouseExited right.mouseEntered"));
}

TEST(TrackingAreas, KeyWindowAreasWaitForKeyStatus)
{
    Scene s;
    auto area =
        TrackingArea::create(Rect(), 0x221, s.inner.get()); // entered/exited, key window, visible rect
    s.inner->addTrackingArea(area);
    s.inner->keeps = true;
    s.window.sendEvent(Event::mouseMoved(s.at(*s.inner, Point(5, 5))));
    EXPECT_TRUE(s.log->isEmpty()) << "not the key window";
    s.window.makeKeyWindow();
    s.window.sendEvent(Event::mouseMoved(s.at(*s.inner, Point(5, 5))));
    EXPECT_EQ(s.joined(), QStringLiteral("inner.mouseEntered"))
        << "the visible rectangle stands for the empty one";
}

TEST(TrackingAreas, InVisibleRectFollowsClippingAndHiding)
{
    Scene s;
    s.window.makeKeyWindow();
    // Half of `inner` sticks out of `left` to the right: only the visible half tracks.
    s.inner->setFrame(Rect(80, 10, 40, 40));
    s.inner->addTrackingArea(TrackingArea::create(Rect(), 0x221, s.inner.get()));
    s.inner->keeps = true;
    s.window.sendEvent(Event::mouseMoved(s.at(*s.left, Point(110, 20))));
    EXPECT_TRUE(s.log->isEmpty()) << s.joined().toStdString();
    s.window.sendEvent(Event::mouseMoved(s.at(*s.left, Point(90, 20))));
    EXPECT_EQ(s.joined(), QStringLiteral("inner.mouseEntered"));
    s.inner->setHidden(true);
    s.window.sendEvent(Event::mouseMoved(s.at(*s.left, Point(91, 20))));
    EXPECT_EQ(s.joined(), QStringLiteral("inner.mouseEntered inner.mouseExited"));
}

TEST(TrackingAreas, DragsDoNotTrackUnlessAsked)
{
    Scene s;
    s.window.makeKeyWindow();
    const auto options = TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveAlways;
    s.right->addTrackingArea(TrackingArea::create(s.right->bounds(), options, s.right.get()));
    s.inner->addTrackingArea(TrackingArea::create(
        s.inner->bounds(), options | TrackingArea::EnabledDuringMouseDrag, s.inner.get()));
    s.right->keeps = true;
    s.inner->keeps = true;
    s.left->keeps = true;
    s.window.sendEvent(Event::mouseDown(s.at(*s.left, Point(80, 80))));
    s.window.sendEvent(Event::mouseDragged(s.at(*s.inner, Point(5, 5))));
    s.window.sendEvent(Event::mouseDragged(s.at(*s.right, Point(5, 5))));
    EXPECT_EQ(s.joined(),
              QStringLiteral("left.mouseDown inner.mouseEntered left.mouseDragged inner.mouseExited "
                             "left.mouseDragged"));
    s.log->clear();
    s.window.sendEvent(Event::mouseUp(s.at(*s.right, Point(5, 5))));
    EXPECT_EQ(s.joined(), QStringLiteral("left.mouseUp right.mouseEntered"))
        << "reported once the button is up";
}

TEST(TrackingAreas, LeavingTheWindowExitsEveryArea)
{
    Scene s;
    s.window.makeKeyWindow();
    s.inner->addTrackingArea(TrackingArea::create(s.inner->bounds(), 0x81, s.inner.get()));
    s.inner->keeps = true;
    s.window.sendEvent(Event::mouseMoved(s.at(*s.inner, Point(5, 5))));
    s.window.mouseExitedWindow();
    EXPECT_EQ(s.joined(), QStringLiteral("inner.mouseEntered inner.mouseExited"));
}

TEST(TrackingAreas, UpdateTrackingAreasRunsInTheTurnAfterAGeometryChange)
{
    struct Updating : View
    {
        int updates = 0;
        void updateTrackingAreas() override { ++updates; }
    };
    ScopedVirtualTime time;
    Window window(Size(100, 100));
    auto content = View::create();
    auto view = std::make_shared<Updating>();
    content->addSubview(view);
    time.runDue();
    EXPECT_EQ(view->updates, 0) << "in no window";

    window.setContentView(content);
    time.runDue();
    EXPECT_EQ(view->updates, 1) << "moved into a window";
    view->setFrame(Rect(0, 0, 10, 10));
    view->setFrame(Rect(0, 0, 20, 10));
    EXPECT_EQ(view->updates, 1);
    time.runDue();
    EXPECT_EQ(view->updates, 2);
    content->setBoundsOrigin(Point(5, 5));
    time.runDue();
    EXPECT_EQ(view->updates, 3) << "the superview scrolled";
}

TEST(Cursors, ACursorSetWhileDispatchingShowsOnThatWindow)
{
    struct CursorView : View
    {
        void cursorUpdate(const Event&) override { Cursor::pointingHandCursor().set(); }
    };
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    Window window(Size(100, 100));
    auto content = View::create();
    auto view = std::make_shared<CursorView>();
    view->setFrame(Rect(0, 0, 50, 50));
    window.setContentView(content);
    content->addSubview(view);
    view->addTrackingArea(TrackingArea::create(
        view->bounds(), TrackingArea::CursorUpdate | TrackingArea::ActiveAlways, view.get()));
    window.sendEvent(Event::mouseMoved(Point(10, 10)));
    EXPECT_EQ(window.cursor().name(), QStringLiteral("pointingHand"));
    EXPECT_EQ(Cursor::currentCursor().shape(), Cursor::Shape::PointingHand);
    window.sendEvent(Event::mouseMoved(Point(80, 80)));
    EXPECT_EQ(window.cursor().name(), QStringLiteral("arrow")) << "leaving the last cursor area";
}

TEST(Cursors, TheContextualMenuCursorIsTheArtworkBitmap)
{
    const Cursor cursor = Cursor::contextualMenuCursor();
    EXPECT_EQ(cursor.shape(), Cursor::Shape::ContextualMenu);
    ASSERT_FALSE(cursor.image().isNull());
    EXPECT_EQ(cursor.image().size(), QSize(16, 16));
    EXPECT_EQ(cursor.hotSpot(), Point(2, 2));
    // The arrow's tip is drawn, the far corner is not.
    EXPECT_GT(cursor.image().pixelColor(3, 4).alpha(), 0);
    EXPECT_EQ(cursor.image().pixelColor(15, 0).alpha(), 0);
    EXPECT_FALSE(cursor.toQCursor().pixmap().isNull());
}
