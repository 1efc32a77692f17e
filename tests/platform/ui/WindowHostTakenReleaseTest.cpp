// Presses whose releases never reach the window: a pop-up menu or a modal alert opened by the
// press (a context menu, a toggle button's menu, a confirmation) takes the release. The host
// trusts Qt's record of the buttons held, so the next move is a plain move and every later
// press reaches its view, through the real Qt runners on a shown window.

#include "platform/ui/Alert.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuRunner.h"
#include "platform/ui/QtAlertRunner.h"
#include "platform/ui/QtMenuRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/VirtualScheduler.h"

#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

enum class TakenBy
{
    ContextMenu, // a right press: the view's menuForEvent through the context menu presenter
    PressMenu,   // a left press opens a menu, as a toggle button or a selector button does
    PressAlert,  // a left press runs a modal alert
};

// A view that opens something modal on its presses and records what reaches it.
class ModalPressView final : public RecordingView
{
public:
    ModalPressView(TakenBy takenBy, std::shared_ptr<QStringList> log)
        : RecordingView(QStringLiteral("view"), Rect(0, 0, 200, 100), true, std::move(log)), mTakenBy(takenBy)
    {
        mMenu->addItem(QStringLiteral("Open"));
        mMenu->addItem(QStringLiteral("Rename"));
    }

    std::shared_ptr<Menu> menuForEvent(const Event&) override
    {
        return mTakenBy == TakenBy::ContextMenu ? mMenu : nullptr;
    }

    void mouseDown(const Event& event) override
    {
        RecordingView::mouseDown(event);
        if (mTakenBy == TakenBy::PressMenu) {
            Runners::menuRunner()->popUpMenu(mMenu, nullptr, event.locationInWindow(), window());
        } else if (mTakenBy == TakenBy::PressAlert) {
            Alert alert;
            alert.messageText = QStringLiteral("Delete the idea?");
            alert.buttons = {{QStringLiteral("Choice.Cancel"), Alert::CancelButton}};
            Runners::alertRunner()->runModal(alert);
        }
    }

private:
    TakenBy mTakenBy;
    std::shared_ptr<Menu> mMenu = Menu::create();
};

// Sends what Qt delivers after a menu or a dialog took the release: a move with no button.
void moveWithoutButtons(QWidget* host, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(at), host->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(host, &move);
}

// The methods the events reached, in order ("rightMouseDown mouseMoved").
std::string eventNames(const QStringList& log)
{
    QStringList names;
    for (const QString& entry : log) {
        if (!entry.endsWith(QLatin1String("FirstResponder")))
            names.append(entry.section(QLatin1Char('.'), 1));
    }
    return names.join(QLatin1Char(' ')).toStdString();
}

} // namespace

TEST(WindowHostTakenRelease, EveryPressReachesItsViewAndTheMovesAfterCarryNoButton)
{
    struct Case
    {
        const char* name;
        TakenBy takenBy;
        Qt::MouseButton button;
        ModalDriver::Target target;
        const char* press;
    };
    const Case cases[] = {
        {"context menu", TakenBy::ContextMenu, Qt::RightButton, ModalDriver::Target::PopupWidget,
         "rightMouseDown"},
        {"menu of a left press", TakenBy::PressMenu, Qt::LeftButton, ModalDriver::Target::PopupWidget,
         "mouseDown"},
        {"alert of a left press", TakenBy::PressAlert, Qt::LeftButton, ModalDriver::Target::ModalWidget,
         "mouseDown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedVirtualTime time;
        Runners::setMenuRunner(std::make_shared<QtMenuRunner>());
        Runners::setAlertRunner(std::make_shared<QtAlertRunner>());
        Runners::installContextMenuPresenter();
        auto log = std::make_shared<QStringList>();
        Window window(Size(200, 100));
        auto view = std::make_shared<ModalPressView>(c.takenBy, log);
        view->addTrackingArea(TrackingArea::create(
            Rect(), TrackingArea::MouseMoved | TrackingArea::ActiveAlways | TrackingArea::InVisibleRect,
            view.get()));
        window.setContentView(view);
        window.makeKeyAndOrderFront();
        QWidget* host = window.hostWidget();
        ASSERT_NE(host, nullptr);

        int opened = 0;
        for (int round = 0; round < 3; ++round) {
            const QPoint at(40 + 10 * round, 50);
            // The release goes to the menu or the dialog, as the user's does; Escape closes it.
            ModalDriver driver(c.target, {Qt::Key_Escape}, [&](QWidget* modal) {
                ++opened;
                QTest::mouseRelease(modal, c.button, Qt::NoModifier,
                                    modal->mapFromGlobal(host->mapToGlobal(at)));
            });
            log->clear();
            QTest::mousePress(host, c.button, Qt::NoModifier, at);
            EXPECT_FALSE(driver.rescued()) << "round " << round;
            EXPECT_EQ(opened, round + 1) << "round " << round;
            moveWithoutButtons(host, at + QPoint(5, 5));
            EXPECT_EQ(eventNames(*log), std::string(c.press) + " mouseMoved") << "round " << round;
            time.advance(1);
        }
        ASSERT_FALSE(view->events.empty());
        EXPECT_EQ(view->events.back().type(), Event::Type::MouseMoved);
        window.close();
        Runners::reset();
    }
}

TEST(WindowHostTakenRelease, APressOfAButtonHeldSinceALostReleaseIsANewPress)
{
    // Qt reports a press only for a button that was up: the old press lost its release, and
    // the new one goes to the view under the pointer, with the drag and release after it.
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    Window window(Size(200, 100));
    auto content = RecordingView::make(QStringLiteral("content"), Rect(), true, log);
    auto a = RecordingView::make(QStringLiteral("a"), Rect(0, 0, 100, 100), true, log);
    auto b = RecordingView::make(QStringLiteral("b"), Rect(100, 0, 100, 100), true, log);
    a->keeps = true;
    b->keeps = true;
    window.setContentView(content);
    content->addSubview(a);
    content->addSubview(b);
    window.makeKeyAndOrderFront();
    QWidget* host = window.hostWidget();
    QTest::mousePress(host, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    // The release was lost; Qt's next press of the button is on b.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(150, 40), host->mapToGlobal(QPointF(150, 40)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(host, &press);
    QTest::mouseMove(host, QPoint(160, 40));
    QTest::mouseRelease(host, Qt::LeftButton, Qt::NoModifier, QPoint(160, 40));
    EXPECT_EQ(log->join(QLatin1Char(' ')).toStdString(), "a.mouseDown b.mouseDown b.mouseDragged b.mouseUp");
}
