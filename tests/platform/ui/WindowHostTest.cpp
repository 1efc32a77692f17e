// The real window host driven with QTest and Qt events on virtual time: click counts, the
// implicit grab, keys, the wheel, hovering, resizing and closing; and the window's pixels,
// rendered and grabbed from the host, written under test-output/views.

#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QStyleHints>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

double doubleClickInterval()
{
    return QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
}

// A shown window, 200 x 100, with a flipped content view and two views side by side.
struct HostScene
{
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    Window window{Size(200, 100)};
    std::shared_ptr<RecordingView> content =
        RecordingView::make(QStringLiteral("content"), Rect(), true, log);
    std::shared_ptr<RecordingView> a =
        RecordingView::make(QStringLiteral("a"), Rect(0, 0, 100, 100), true, log);
    std::shared_ptr<RecordingView> b =
        RecordingView::make(QStringLiteral("b"), Rect(100, 0, 100, 100), true, log);
    QWidget* host = nullptr;

    HostScene()
    {
        window.setContentView(content);
        content->addSubview(a);
        content->addSubview(b);
        a->keeps = true;
        b->keeps = true;
        window.makeKeyAndOrderFront();
        host = window.hostWidget();
    }

    std::vector<int> clickCounts(const RecordingView& view, Event::Type type) const
    {
        std::vector<int> counts;
        for (const Event& e : view.events) {
            if (e.type() == type)
                counts.push_back(e.clickCount());
        }
        return counts;
    }

    void click(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(host, button, Qt::NoModifier, at);
        QTest::mouseRelease(host, button, Qt::NoModifier, at);
    }
};

void sendMove(QWidget* host, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), host->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(host, &move);
}

void saveViewOutput(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/views");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

bool isColor(const QImage& image, int x, int y, QColor expected)
{
    const QColor c = image.pixelColor(x, y);
    return std::abs(c.red() - expected.red()) <= 2 && std::abs(c.green() - expected.green()) <= 2 &&
           std::abs(c.blue() - expected.blue()) <= 2 && c.alpha() == 255;
}

std::string colorAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y).name(QColor::HexArgb).toStdString();
}

} // namespace

TEST(WindowHostClicks, QuickPressesCountUpAndReleasesCarryTheirCount)
{
    ScopedVirtualTime time;
    HostScene s;
    const QPoint at(30, 40);
    const double step = doubleClickInterval() / 4;
    for (int i = 0; i < 3; ++i) {
        s.click(at);
        time.advance(step);
    }
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseUp), (std::vector<int>{1, 2, 3}));

    // A fourth press after the double-click interval starts over.
    time.advance(doubleClickInterval());
    s.click(at);
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown).back(), 1);
    // Within the interval but 5 pixels away: starts over too; 4 pixels away still counts.
    time.advance(step);
    s.click(at + QPoint(5, 0));
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown).back(), 1);
    time.advance(step);
    s.click(at + QPoint(5, 4));
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown).back(), 2);
}

TEST(WindowHostClicks, TheIntervalIsMeasuredFromThePreviousPressOnTheMediaClock)
{
    ScopedVirtualTime time;
    HostScene s;
    const QPoint at(30, 40);
    QTest::mousePress(s.host, Qt::LeftButton, Qt::NoModifier, at);
    // A long hold: the next press comes within the interval of the release, not of the press.
    time.advance(doubleClickInterval() * 0.9);
    QTest::mouseRelease(s.host, Qt::LeftButton, Qt::NoModifier, at);
    time.advance(doubleClickInterval() * 0.2);
    s.click(at);
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown), (std::vector<int>{1, 1}));
    ASSERT_EQ(s.a->events.size(), 4u);
    EXPECT_EQ(s.a->events[0].timestamp(), 1000);
    EXPECT_DOUBLE_EQ(s.a->events[1].timestamp(), 1000 + doubleClickInterval() * 0.9);
}

TEST(WindowHostClicks, EachButtonCountsByItselfAndReachesItsOwnMethods)
{
    ScopedVirtualTime time;
    HostScene s;
    const QPoint at(150, 50);
    s.click(at, Qt::LeftButton);
    s.click(at, Qt::RightButton);
    s.click(at, Qt::RightButton);
    s.click(at, Qt::MiddleButton);
    EXPECT_EQ(s.clickCounts(*s.b, Event::Type::LeftMouseDown), (std::vector<int>{1}));
    EXPECT_EQ(s.clickCounts(*s.b, Event::Type::RightMouseDown), (std::vector<int>{1, 2}));
    EXPECT_EQ(s.clickCounts(*s.b, Event::Type::RightMouseUp), (std::vector<int>{1, 2}));
    EXPECT_EQ(s.clickCounts(*s.b, Event::Type::OtherMouseDown), (std::vector<int>{1}));
    ASSERT_FALSE(s.b->events.empty());
    EXPECT_EQ(s.b->events.back().type(), Event::Type::OtherMouseUp);
    EXPECT_EQ(s.b->events.back().buttonNumber(), 2);
    // y up from the bottom of the content.
    EXPECT_EQ(s.b->events.back().locationInWindow(), Point(150, 50));
    EXPECT_EQ(s.b->events.front().locationInWindow(), s.window.convertPointFromWidget(QPointF(at)));
}

TEST(WindowHostClicks, QtsDoubleClickEventsCountOnlyWhenNoPressCameBefore)
{
    ScopedVirtualTime time;
    HostScene s;
    const QPoint at(30, 40);
    const auto doubleClick = [&] {
        QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(at), s.host->mapToGlobal(QPointF(at)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(s.host, &e);
    };
    s.click(at);
    // Qt's usual order: the second press, then the double-click event for the same press.
    QTest::mousePress(s.host, Qt::LeftButton, Qt::NoModifier, at);
    doubleClick();
    QTest::mouseRelease(s.host, Qt::LeftButton, Qt::NoModifier, at);
    // A double-click event that stands alone (its press went elsewhere) is the press.
    doubleClick();
    QTest::mouseRelease(s.host, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseDown), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(s.clickCounts(*s.a, Event::Type::LeftMouseUp), (std::vector<int>{1, 2, 3}));
}

TEST(WindowHostDrag, ADragThatLeavesTheViewStillReachesIt)
{
    ScopedVirtualTime time;
    HostScene s;
    QTest::mousePress(s.host, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    QTest::mouseMove(s.host, QPoint(150, 40));  // over b
    QTest::mouseMove(s.host, QPoint(260, -30)); // outside the window
    QTest::mouseRelease(s.host, Qt::LeftButton, Qt::NoModifier, QPoint(150, 60));
    EXPECT_EQ(s.log->join(QLatin1Char(' ')),
              QStringLiteral("a.mouseDown a.mouseDragged a.mouseDragged a.mouseUp"));
    ASSERT_EQ(s.a->events.size(), 4u);
    EXPECT_EQ(s.a->events[2].locationInWindow(), Point(260, 130));
    EXPECT_EQ(s.a->events[3].locationInWindow(), Point(150, 40));
    EXPECT_TRUE(s.b->events.empty());
}

TEST(WindowHostKeys, KeysReachTheFirstResponderWithTheOriginalsCharacters)
{
    ScopedVirtualTime time;
    HostScene s;
    s.b->acceptsFirst = true;
    ASSERT_TRUE(s.window.makeFirstResponder(s.b.get()));
    QTest::keyClick(s.host, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(s.host, Qt::Key_Space);
    QTest::keyClick(s.host, Qt::Key_Tab);
    std::vector<Event> downs;
    for (const Event& e : s.b->events) {
        if (e.type() == Event::Type::KeyDown)
            downs.push_back(e);
    }
    ASSERT_EQ(downs.size(), 3u) << s.log->join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(downs[0].charactersIgnoringModifiers(), QStringLiteral("f"));
    EXPECT_TRUE(downs[0].hasModifier(Event::CommandKeyMask));
    EXPECT_EQ(downs[1].charactersIgnoringModifiers(), QStringLiteral(" "));
    EXPECT_EQ(downs[2].characters(), QStringLiteral("\t")) << "Tab is a key, not focus navigation";
    EXPECT_TRUE(s.a->events.empty());
}

TEST(WindowHostWheel, ScrollGoesToTheViewUnderThePointer)
{
    ScopedVirtualTime time;
    HostScene s;
    const QPointF at(150, 20);
    QWheelEvent notch(at, s.host->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(s.host, &notch);
    QWheelEvent precise(at, s.host->mapToGlobal(at), QPoint(3, -24), QPoint(0, -120), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(s.host, &precise);
    ASSERT_EQ(s.b->events.size(), 2u);
    const Event& first = s.b->events[0];
    EXPECT_EQ(first.type(), Event::Type::ScrollWheel);
    EXPECT_EQ(first.deltaY(), 1);
    EXPECT_EQ(first.scrollingDeltaY(), 10);
    EXPECT_FALSE(first.hasPreciseScrollingDeltas());
    EXPECT_TRUE(first.hasModifier(Event::CommandKeyMask));
    EXPECT_EQ(first.locationInWindow(), Point(150, 80));
    const Event& second = s.b->events[1];
    EXPECT_TRUE(second.hasPreciseScrollingDeltas());
    EXPECT_EQ(second.scrollingDeltaX(), 3);
    EXPECT_EQ(second.scrollingDeltaY(), -24);
}

TEST(WindowHostHover, MovesAndLeavingDriveTheTrackingAreas)
{
    ScopedVirtualTime time;
    HostScene s;
    s.b->addTrackingArea(TrackingArea::create(Rect(), 0x221, s.b.get()));
    sendMove(s.host, QPoint(50, 50));
    sendMove(s.host, QPoint(150, 50));
    sendMove(s.host, QPoint(160, 50));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(s.host, &leave);
    EXPECT_EQ(s.log->join(QLatin1Char(' ')), QStringLiteral("b.mouseEntered b.mouseExited"));
}

TEST(WindowHostFrame, ResizingTheHostResizesTheContent)
{
    HostScene s;
    s.a->setAutoresizingMask(View::HeightSizable);
    s.host->resize(300, 160);
    EXPECT_TRUE(runUntil([&] { return s.window.contentSize() == Size(300, 160); })) << s.window.contentSize();
    EXPECT_EQ(s.content->frame(), Rect(0, 0, 300, 160));
    EXPECT_EQ(s.a->frame(), Rect(0, 0, 100, 160));
    s.window.setContentSize(Size(120, 80));
    EXPECT_EQ(s.host->size(), QSize(120, 80));
}

TEST(WindowHostFrame, ClosingAsksTheWindow)
{
    struct Stubborn : Window
    {
        using Window::Window;
        bool allow = false;
        int willClose = 0;
        bool windowShouldClose() override { return allow; }
        void windowWillClose() override { ++willClose; }
    };
    Stubborn window(Size(50, 50));
    window.setContentView(View::create());
    window.makeKeyAndOrderFront();
    QWidget* host = window.hostWidget();
    EXPECT_TRUE(window.isKeyWindow());
    EXPECT_EQ(Window::keyWindow(), &window);
    EXPECT_FALSE(host->close());
    EXPECT_TRUE(host->isVisible());
    window.performClose();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.willClose, 0);
    window.allow = true;
    EXPECT_TRUE(host->close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.willClose, 1);
    EXPECT_FALSE(window.isKeyWindow());
}

// A window whose owner lets it go as it hears of its closing. Its storage outlives it, filled
// with a pattern once it is destroyed, so that a touch of the window after that reads garbage
// (as freed memory may) instead of passing by luck.
class LetGoWhenClosing final : public Window
{
public:
    static std::shared_ptr<LetGoWhenClosing> make(std::vector<unsigned char>& storage)
    {
        storage.assign(sizeof(LetGoWhenClosing), 0);
        auto* window = new (storage.data()) LetGoWhenClosing();
        unsigned char* bytes = storage.data();
        auto owner = std::shared_ptr<LetGoWhenClosing>(window, [bytes](LetGoWhenClosing* gone) {
            gone->~LetGoWhenClosing();
            std::memset(bytes, 0xA5, sizeof(LetGoWhenClosing));
        });
        window->mOwner = owner;
        return owner;
    }
    void windowWillClose() override { mOwner.reset(); }

private:
    LetGoWhenClosing() : Window(Size(50, 50)) {}
    std::shared_ptr<LetGoWhenClosing> mOwner;
};

TEST(WindowHostFrame, AWindowLetGoWhileItClosesIsNotTouchedAgain)
{
    std::vector<unsigned char> storage;
    {
        std::weak_ptr<LetGoWhenClosing> window = LetGoWhenClosing::make(storage);
        Window* closing = window.lock().get(); // no owner but its own while it closes
        closing->makeKeyAndOrderFront();
        closing->close();
        EXPECT_TRUE(window.expired());
        EXPECT_EQ(Window::keyWindow(), nullptr);
    }
    // Closed by its close box: the host goes once its close event is over, after the window,
    // and touches none of the window's views (here a field embedded in it) then.
    std::weak_ptr<LetGoWhenClosing> window = LetGoWhenClosing::make(storage);
    Window* closing = window.lock().get();
    closing->setContentView(View::create());
    closing->contentView()->addSubview(EmbeddedWidgetView::createLineEdit(Rect(5, 5, 30, 20)));
    closing->makeKeyAndOrderFront();
    QPointer<QWidget> host = closing->hostWidget();
    EXPECT_TRUE(host->close());
    EXPECT_TRUE(window.expired());
    EXPECT_EQ(Window::keyWindow(), nullptr);
    EXPECT_TRUE(runUntil([&] { return host.isNull(); }));
}

TEST(WindowHostFrame, KeyAndMainStatusMoveBetweenWindows)
{
    struct Logging : Window
    {
        Logging(QString name, QStringList& log) : Window(Size(10, 10)), mName(std::move(name)), mLog(log) {}
        void becomeKeyWindow() override { mLog.append(mName + QStringLiteral(".becomeKey")); }
        void resignKeyWindow() override { mLog.append(mName + QStringLiteral(".resignKey")); }
        void becomeMainWindow() override { mLog.append(mName + QStringLiteral(".becomeMain")); }
        void resignMainWindow() override { mLog.append(mName + QStringLiteral(".resignMain")); }
        QString mName;
        QStringList& mLog;
    };
    QStringList log;
    Logging first(QStringLiteral("first"), log);
    Logging second(QStringLiteral("second"), log);
    first.makeKeyWindow();
    first.makeMainWindow();
    second.makeKeyWindow();
    EXPECT_EQ(log, (QStringList{QStringLiteral("first.becomeKey"), QStringLiteral("first.becomeMain"),
                                QStringLiteral("first.resignKey"), QStringLiteral("second.becomeKey")}));
    EXPECT_TRUE(first.isMainWindow());
    EXPECT_FALSE(first.isKeyWindow());
    EXPECT_EQ(Window::keyWindow(), &second);

    // A popover's window takes the keys, never the main status.
    Window popover(Size(10, 10));
    popover.setCanBecomeMainWindow(false);
    popover.makeKeyAndOrderFront();
    EXPECT_TRUE(popover.isKeyWindow());
    EXPECT_EQ(Window::mainWindow(), &first);
    popover.close();
    EXPECT_EQ(Window::mainWindow(), &first);

    // The main window closing leaves the visible window main before it main.
    first.orderFront();
    second.makeKeyAndOrderFront();
    log.clear();
    second.close();
    EXPECT_EQ(Window::mainWindow(), &first);
    EXPECT_EQ(log, (QStringList{QStringLiteral("second.resignKey"), QStringLiteral("second.resignMain"),
                                QStringLiteral("first.becomeMain")}));
    first.close();
    EXPECT_EQ(Window::mainWindow(), nullptr);
}

TEST(WindowHostFrame, AClosedWindowThatTheWindowSystemActivatesLateTakesTheKeysFromNoOne)
{
    Window main(Size(50, 50));
    main.setContentView(View::create());
    main.makeKeyAndOrderFront();
    Window popover(Size(10, 10));
    popover.setCanBecomeMainWindow(false);
    popover.setContentView(View::create());
    popover.makeKeyAndOrderFront();
    popover.close();
    main.makeKeyWindow();
    QApplication::setActiveWindow(main.hostWidget());
    std::vector<Window*> madeKey;
    const int observer = Window::addKeyWindowObserver([&madeKey](Window& key) { madeKey.push_back(&key); });

    // Word of the popover's activation, sent before it closed, arrives now; then the main
    // window's own.
    QApplication::setActiveWindow(popover.hostWidget());
    EXPECT_FALSE(popover.isKeyWindow());
    EXPECT_EQ(Window::mainWindow(), &main);
    QApplication::setActiveWindow(main.hostWidget());
    EXPECT_TRUE(main.isKeyWindow());
    EXPECT_EQ(madeKey, std::vector<Window*>{&main});
    Window::removeKeyWindowObserver(observer);
    main.close();
}

TEST(WindowHostFrame, TitleAndRepresentedURLAreKept)
{
    Window window(Size(10, 10));
    window.setTitle(QStringLiteral("Ideas"));
    window.setRepresentedURL(QUrl::fromLocalFile(QStringLiteral("/tmp/Ideas.corvex")));
    EXPECT_EQ(window.hostWidget()->windowTitle(), QStringLiteral("Ideas"));
    EXPECT_EQ(window.representedURL().toLocalFile(), QStringLiteral("/tmp/Ideas.corvex"));
}

TEST(WindowHostFrame, CoordinatesRoundTripThroughWidgetGlobalAndScreen)
{
    HostScene s;
    const Point base(12, 34);
    EXPECT_EQ(s.window.convertPointToWidget(base), QPointF(12, 66));
    EXPECT_EQ(s.window.convertPointFromWidget(QPointF(12, 66)), base);
    EXPECT_EQ(s.window.convertPointFromGlobal(s.window.convertPointToGlobal(base)), base);
    EXPECT_EQ(s.window.convertPointFromScreen(s.window.convertPointToScreen(base)), base);
    // Screen y grows upwards: a higher point in the window is higher on the screen.
    EXPECT_GT(s.window.convertPointToScreen(Point(0, 50)).y, s.window.convertPointToScreen(Point(0, 10)).y);
}

TEST(WindowRendering, AWindowRendersUprightAndTheHostShowsTheSame)
{
    ScopedVirtualTime time;
    Window window(Size(200, 100));
    auto content = std::make_shared<FilledView>(Rect(), PlatformColor::deviceWhite(0.8), true);
    auto red = std::make_shared<FilledView>(Rect(10, 10, 40, 20), PlatformColor::red(), true);
    // An unflipped container: its subview at (0, 0) sits at its bottom left.
    auto green =
        std::make_shared<FilledView>(Rect(100, 10, 80, 60), PlatformColor::deviceRGB(0, 1, 0), false);
    auto blue = std::make_shared<FilledView>(Rect(0, 0, 20, 20), PlatformColor::deviceRGB(0, 0, 1), false);
    window.setContentView(content);
    content->addSubview(red);
    content->addSubview(green);
    green->addSubview(blue);
    time.runDue();

    const QImage image = window.renderToImage(1);
    saveViewOutput(image, QStringLiteral("window"));
    ASSERT_EQ(image.size(), QSize(200, 100));
    EXPECT_TRUE(isColor(image, 15, 15, Qt::red)) << colorAt(image, 15, 15);
    EXPECT_TRUE(isColor(image, 15, 35, QColor(204, 204, 204))) << colorAt(image, 15, 35);
    EXPECT_TRUE(isColor(image, 170, 15, Qt::green)) << colorAt(image, 170, 15);
    EXPECT_TRUE(isColor(image, 105, 65, Qt::blue)) << colorAt(image, 105, 65);
    EXPECT_TRUE(isColor(image, 105, 15, Qt::green)) << colorAt(image, 105, 15);

    const QImage doubled = window.renderToImage(2);
    saveViewOutput(doubled, QStringLiteral("window@2x"));
    EXPECT_EQ(doubled.size(), QSize(400, 200));
    EXPECT_TRUE(isColor(doubled, 30, 30, Qt::red)) << colorAt(doubled, 30, 30);

    window.makeKeyAndOrderFront();
    const QImage grabbed = window.hostWidget()->grab().toImage();
    saveViewOutput(grabbed, QStringLiteral("window-host"));
    ASSERT_EQ(grabbed.size(), QSize(200, 100));
    EXPECT_TRUE(isColor(grabbed, 15, 15, Qt::red)) << colorAt(grabbed, 15, 15);
    EXPECT_TRUE(isColor(grabbed, 105, 65, Qt::blue)) << colorAt(grabbed, 105, 65);
}
