// The popover: placement beside its anchor on screen, closing by a click elsewhere or
// Escape as its behaviour says, its delegate, and the variant that never takes the keyboard.

#include "platform/ui/Popover.h"
#include "platform/ui/Layer.h"
#include "platform/ui/PopoverDelegate.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseView.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QStyleHints>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

class RecordingPopoverDelegate : public PopoverDelegate
{
public:
    void popoverWillShow(Popover&) override { calls << QStringLiteral("will"); }
    void popoverDidShow(Popover&) override { calls << QStringLiteral("did"); }
    void popoverDidClose(Popover&) override { calls << QStringLiteral("closed"); }
    QStringList calls;
};

struct Shown
{
    explicit Shown(Popover::Behavior behavior, bool takesKeyboard = true)
    {
        window->setContentView(host);
        window->makeKeyAndOrderFront();
        popover = Popover::create(takesKeyboard);
        popover->setBehavior(behavior);
        content->setView(BaseView::create(Rect(0, 0, 200, 100)));
        popover->setContentViewController(content);
        popover->setDelegate(delegate);
        popover->setContentSize(Size(200, 100));
        popover->showRelativeToRect(Rect(50, 50, 40, 40), *host, Popover::Edge::MaxY);
    }
    ~Shown()
    {
        popover->performClose();
        window->close();
    }
    ScopedVirtualTime time;
    std::shared_ptr<Window> window = Window::create(Size(400, 300));
    std::shared_ptr<BaseView> host = BaseView::create();
    std::shared_ptr<ViewController> content = ViewController::create();
    std::shared_ptr<RecordingPopoverDelegate> delegate = std::make_shared<RecordingPopoverDelegate>();
    std::shared_ptr<Popover> popover;
};

TEST(Popover, HangsBelowTheAnchorAboveWithoutRoomAndStaysOnScreen)
{
    const Rect screen(0, 0, 1000, 800);
    const Size size(320, 123);
    // Below: the popover's top edge at the anchor's lower edge (screen y up).
    EXPECT_EQ(Popover::placedFrame(size, Rect(400, 500, 70, 70), Popover::Edge::MaxY, screen),
              Rect(275, 377, 320, 123));
    // No room below: above the anchor.
    EXPECT_EQ(Popover::placedFrame(size, Rect(400, 60, 70, 70), Popover::Edge::MaxY, screen),
              Rect(275, 130, 320, 123));
    // Near the left edge and the top: moved onto the screen.
    EXPECT_EQ(Popover::placedFrame(size, Rect(-50, 760, 70, 70), Popover::Edge::MaxY, screen).origin.x, 0.0);
    const Rect tall =
        Popover::placedFrame(Size(320, 900), Rect(400, 300, 70, 70), Popover::Edge::MaxY, screen);
    EXPECT_EQ(tall.origin.y, 0.0);
}

TEST(Popover, BesideTheAnchorWhenNeitherBelowNorAboveHasRoomAndNeverOverItOnAFraction)
{
    const Rect area(0, 0, 1000, 500);
    const Size grown(320, 381);
    struct Row
    {
        const char* what;
        Rect anchor;
        Popover::Edge edge;
        Rect expected;
    };
    const Row rows[] = {
        {"room on the right", Rect(400, 200, 70, 70), Popover::Edge::MaxY, Rect(470, 45, 320, 381)},
        {"room on the left only", Rect(800, 200, 70, 70), Popover::Edge::MaxY, Rect(480, 45, 320, 381)},
        // Whole points, the edge facing the anchor moved away from it.
        {"above a fraction", Rect(400.4, 50.4, 20, 20), Popover::Edge::MinY, Rect(250, 71, 320, 381)},
        {"below a fraction", Rect(400.4, 450.6, 20, 20), Popover::Edge::MaxY, Rect(250, 69, 320, 381)},
    };
    for (const Row& row : rows) {
        const Rect placed = Popover::placedFrame(grown, row.anchor, row.edge, area);
        EXPECT_EQ(placed, row.expected) << row.what << ": " << toString(placed).toStdString();
        EXPECT_TRUE(placed.intersection(row.anchor).isEmpty()) << row.what;
    }
}

TEST(Popover, StaysInsideTheContentAreaOfItsWindow)
{
    // Grown to a height that fits neither below nor above its anchor inside the window: moved
    // into the content area, never over the window's menu bar or its edges.
    Shown s(Popover::Behavior::SemiTransient);
    const Rect content = s.window->convertRectToScreen(s.window->contentRect());
    EXPECT_TRUE(content.contains(s.popover->frame())) << toString(s.popover->frame()).toStdString();
    s.popover->setContentSize(Size(200, 280));
    EXPECT_TRUE(content.contains(s.popover->frame())) << toString(s.popover->frame()).toStdString();
    EXPECT_EQ(s.popover->frame().size, Size(200, 280));
}

TEST(Popover, DrawsAFrameOverTheEdgeOfItsContent)
{
    Shown s(Popover::Behavior::SemiTransient, false);
    s.content->view()->layer()->setBackgroundColor(PlatformColor::deviceWhite(1));
    const QImage shot = s.popover->window()->renderToImage(1);
    ASSERT_EQ(shot.size(), QSize(200, 100));
    const QColor frame = Popover::frameColor().toQColor();
    for (const QPoint edge : {QPoint(0, 50), QPoint(199, 50), QPoint(100, 0), QPoint(100, 99)})
        EXPECT_EQ(shot.pixelColor(edge).rgb(), frame.rgb()) << edge.x() << ", " << edge.y();
    EXPECT_EQ(shot.pixelColor(100, 50).rgb(), QColor(Qt::white).rgb()) << "the content's own pixels";
}

TEST(Popover, SemiTransientClosesOnAClickElsewhereAndOnEscape)
{
    {
        Shown s(Popover::Behavior::SemiTransient);
        EXPECT_EQ(s.delegate->calls, (QStringList{"will", "did"}));
        ASSERT_TRUE(s.popover->window());
        EXPECT_TRUE(s.popover->window()->isKeyWindow());
        EXPECT_EQ(Window::mainWindow(), s.window.get()) << "the popover's window took the main status";
        EXPECT_EQ(s.popover->window()->contentView(), s.content->view());
        EXPECT_EQ(s.popover->frame().size, Size(200, 100));
        s.popover->setContentSize(Size(200, 180));
        EXPECT_EQ(s.popover->frame().size, Size(200, 180)) << "resized at once";
        s.window->sendEvent(Event::mouseDown(Point(390, 290)));
        EXPECT_FALSE(s.popover->isShown());
        EXPECT_EQ(s.delegate->calls, (QStringList{"will", "did", "closed"}));
        EXPECT_TRUE(s.window->isKeyWindow());
        s.popover->performClose();
        EXPECT_EQ(s.delegate->calls.size(), 3) << "closed once";
    }
    {
        Shown s(Popover::Behavior::Transient);
        s.popover->window()->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
        EXPECT_FALSE(s.popover->isShown());
    }
    {
        // Another window becoming key closes it, and the keys stay with that window; its own
        // window taking the keys back does not.
        Shown s(Popover::Behavior::SemiTransient);
        s.window->makeKeyWindow();
        EXPECT_TRUE(s.popover->isShown());
        const std::shared_ptr<Window> other = Window::create(Size(100, 100));
        other->makeKeyAndOrderFront();
        EXPECT_FALSE(s.popover->isShown());
        EXPECT_EQ(s.delegate->calls, (QStringList{"will", "did", "closed"}));
        EXPECT_TRUE(other->isKeyWindow());
        other->close();
    }
}

TEST(Popover, TheSecondClickOfTheDoubleClickThatShowedItIsNoClickElsewhere)
{
    Shown s(Popover::Behavior::SemiTransient);
    std::vector<Event::Type> reached;
    s.window->addEventMonitor([&](const Event& event) {
        reached.push_back(event.type());
        return false;
    });
    const double interval = QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
    // The first click showed it; its second, within the interval, changes nothing, and its
    // release goes nowhere either.
    s.time.advance(interval / 2);
    s.window->sendEvent(Event::mouseDown(Point(390, 290), 2));
    s.window->sendEvent(Event::mouseUp(Point(390, 290), 2));
    EXPECT_TRUE(s.popover->isShown());
    EXPECT_TRUE(reached.empty()) << "the second click reached the window";
    // The window system gives the clicked window the keys: the popover takes them back.
    s.window->makeKeyWindow();
    s.time.runDue();
    EXPECT_TRUE(s.popover->window()->isKeyWindow());
    // Not so once the double click is long over.
    s.time.advance(interval * 2);
    s.window->makeKeyWindow();
    s.time.runDue();
    EXPECT_TRUE(s.window->isKeyWindow());
    // A later double click is a click elsewhere.
    s.window->sendEvent(Event::mouseDown(Point(390, 290), 2));
    EXPECT_FALSE(s.popover->isShown());
}

TEST(Popover, ApplicationDefinedStaysAndANoteDisplayNeverTakesTheKeyboard)
{
    Shown s(Popover::Behavior::ApplicationDefined, false);
    s.window->sendEvent(Event::mouseDown(Point(390, 290)));
    s.window->sendEvent(Event::mouseUp(Point(390, 290)));
    s.window->sendEvent(Event::keyDown(QStringLiteral("\x1b"), Event::KeyCodeEscape));
    EXPECT_TRUE(s.popover->isShown());
    EXPECT_FALSE(s.popover->window()->isKeyWindow());
    EXPECT_TRUE(s.window->isKeyWindow());
    // Another window becoming key leaves an application-defined popover alone.
    const std::shared_ptr<Window> other = Window::create(Size(100, 100));
    other->makeKeyAndOrderFront();
    EXPECT_TRUE(s.popover->isShown());
    other->close();
    s.window->makeKeyWindow();
    s.popover->performClose();
    EXPECT_FALSE(s.popover->isShown());
}

TEST(Popover, WithoutContentOrWindowNothingShows)
{
    ScopedVirtualTime time;
    auto popover = Popover::create();
    auto loose = BaseView::create();
    popover->setContentViewController(ViewController::create());
    popover->showRelativeToRect(Rect(0, 0, 10, 10), *loose, Popover::Edge::MaxY);
    EXPECT_FALSE(popover->isShown());
}

} // namespace
} // namespace corvex::test
