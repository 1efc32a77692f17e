#include "tests/app/UserInput.h"

#include "platform/core/Scheduler.h"
#include "platform/ui/Window.h"
#include "tests/app/XServerInput.h"
#include "tests/support/RunUntil.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QElapsedTimer>
#include <QLineF>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QStyleHints>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

struct LastPress
{
    const Window* window = nullptr;
    Point point;
    double time = -1e9;
};

LastPress& lastPress()
{
    static LastPress press;
    return press;
}

QWindow* hostWindow(Window& window)
{
    QWidget* host = window.hostWidget();
    return host ? host->windowHandle() : nullptr;
}

// Before keys: the window becomes the active one unless a window of its own (a popover, a
// dialog) is, which keys then reach as before. No window active at all happens between a
// popover closing and its window taking the focus back.
void activateForKeys(Window& window)
{
    QWidget* active = QApplication::activeWindow();
    QWidget* host = window.hostWidget();
    if (!host || active == host)
        return;
    // Popovers are tool windows, alerts and panels dialogs; main windows are plain windows.
    if (active == nullptr || active->windowType() == Qt::Window)
        UserInput::activate(window);
}

QPoint widgetPoint(Window& window, Point point)
{
    return window.convertPointToWidget(point).toPoint();
}

// The real pointer goes along, so that whoever asks the window system where it is (cursor
// updates outside the event stream, key events) hears the same place.
void warpPointer(Window& window, Point point)
{
    QCursor::setPos(window.convertPointToGlobal(point).toPoint());
}

double doubleClickInterval()
{
    return QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
}

// The title as shown: a single '&' marks the mnemonic and is not shown, "&&" shows one.
QString shownTitle(const QAction& action)
{
    QString shown;
    const QString text = action.text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown.append(text.at(i));
    }
    return shown;
}

QAction* actionTitled(const QList<QAction*>& actions, const QString& title)
{
    for (QAction* action : actions) {
        if (!action->isSeparator() && action->isVisible() && shownTitle(*action) == title)
            return action;
    }
    return nullptr;
}

// A drag of Qt's is running (its object lives, parented to its source, until it ended).
bool dragRunning()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    return std::any_of(tops.begin(), tops.end(), [](const QWidget* top) { return top->findChild<QDrag*>(); });
}

void closeWithEscape(QMenu& menu)
{
    if (QWindow* popup = menu.windowHandle())
        QTest::keyClick(popup, Qt::Key_Escape);
    runUntil([&menu] { return !menu.isVisible(); }, 2.0);
}

} // namespace

std::optional<bool> ShownMenu::isEnabled(const QString& title) const
{
    const qsizetype index = titles.indexOf(title);
    if (index < 0)
        return std::nullopt;
    return enabled[std::size_t(index)];
}

::testing::AssertionResult ShownMenu::ran() const
{
    if (chose)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the item did not run: " << why.toStdString();
}

QStringList ShownMenu::items() const
{
    QStringList items = titles;
    items.removeAll(QStringLiteral("-"));
    return items;
}

ShownMenu UserInput::readMenu(const QMenu& menu)
{
    ShownMenu shown;
    shown.opened = true;
    for (QAction* action : menu.actions()) {
        if (!action->isVisible())
            continue;
        shown.titles << (action->isSeparator() ? QStringLiteral("-") : shownTitle(*action));
        shown.enabled.push_back(action->isEnabled());
    }
    return shown;
}

bool UserInput::clickMenuItem(QMenu& menu, const QString& title)
{
    QAction* action = actionTitled(menu.actions(), title);
    QWindow* popup = menu.windowHandle();
    if (!action || !popup)
        return false;
    // As a hand does: onto the item, and a click once the menu shows it highlighted. A click
    // the menu takes before it follows the pointer may close it without choosing anything.
    const QPoint point = menu.actionGeometry(action).center();
    QTest::mouseMove(popup, point);
    if (action->isEnabled())
        runUntil([&menu, action] { return menu.activeAction() == action; }, 2.0);
    bool triggered = false;
    const QMetaObject::Connection heard =
        QObject::connect(action, &QAction::triggered, [&triggered] { triggered = true; });
    QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, point);
    QObject::disconnect(heard);
    return triggered;
}

void UserInput::waitOutDoubleClick(Window& window, Point point)
{
    const LastPress& last = lastPress();
    if (last.window != &window || QLineF(last.point.toQPointF(), point.toQPointF()).length() > 4.0)
        return;
    const double until = last.time + doubleClickInterval() + 0.05;
    runUntil([until] { return MediaClock::now() > until; }, doubleClickInterval() + 1.0);
}

void UserInput::moveMouse(Window& window, Point point, Qt::KeyboardModifiers modifiers)
{
    warpPointer(window, point);
    // A hand moves the pointer through the points before the last: Qt takes the first move
    // into a window for the entry alone.
    deliverMouse(window, QEvent::MouseMove, Qt::NoButton, Point(point.x + 1, point.y), modifiers);
    deliverMouse(window, QEvent::MouseMove, Qt::NoButton, point, modifiers);
}

void UserInput::press(Window& window, Qt::MouseButton button, Point point, Qt::KeyboardModifiers modifiers)
{
    QTestPrivate::qtestMouseButtons.setFlag(button, true);
    deliverMouse(window, QEvent::MouseButtonPress, button, point, modifiers);
}

void UserInput::release(Window& window, Qt::MouseButton button, Point point, Qt::KeyboardModifiers modifiers)
{
    QTestPrivate::qtestMouseButtons.setFlag(button, false);
    deliverMouse(window, QEvent::MouseButtonRelease, button, point, modifiers);
    QTest::lastMouseTimestamp += QTest::mouseDoubleClickInterval;
}

void UserInput::deliverMouse(Window& window, QEvent::Type type, Qt::MouseButton button, Point point,
                             Qt::KeyboardModifiers modifiers)
{
    // The window handle of the moment: what the application does may make the window's
    // native window anew (the previous event's handle is gone then).
    QWindow* host = hostWindow(window);
    if (!host)
        return;
    QTest::lastMouseTimestamp += 1;
    const QPoint local = widgetPoint(window, point);
    QPointer<QWindow> delivering(host);
    // Delivered at once, every handler of the event inside this call, as the window system
    // delivers it.
    qt_handleMouseEvent(host, local, host->mapToGlobal(local), QTestPrivate::qtestMouseButtons, button, type,
                        modifiers, QTest::lastMouseTimestamp);
    if (!delivering) {
        // Qt goes on using the window it delivered the event with: with it gone, Qt reads freed
        // memory, which crashes now and then.
        const char* fault = "the window was destroyed while it handled a mouse event";
        if (::testing::UnitTest::GetInstance()->current_test_info())
            ADD_FAILURE() << fault;
        else
            qFatal("%s", fault);
    }
    QCoreApplication::processEvents();
}

void UserInput::click(Window& window, Point point, Qt::KeyboardModifiers modifiers)
{
    waitOutDoubleClick(window, point);
    warpPointer(window, point);
    press(window, Qt::LeftButton, point, modifiers);
    release(window, Qt::LeftButton, point, modifiers);
    lastPress() = LastPress{&window, point, MediaClock::now()};
}

void UserInput::doubleClick(Window& window, Point point)
{
    waitOutDoubleClick(window, point);
    warpPointer(window, point);
    press(window, Qt::LeftButton, point, Qt::NoModifier);
    release(window, Qt::LeftButton, point, Qt::NoModifier);
    press(window, Qt::LeftButton, point, Qt::NoModifier);
    release(window, Qt::LeftButton, point, Qt::NoModifier);
    lastPress() = LastPress{&window, point, MediaClock::now()};
}

ShownMenu UserInput::rightClick(Window& window, Point point, const QString& choose,
                                const std::function<void()>& whileOpen)
{
    ShownMenu shown;
    if (!hostWindow(window))
        return shown;
    // The menu runs modally inside the press: it is read, and closed, from a timer of its
    // own event loop.
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&shown, &choose, &watch, &whileOpen] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible() || shown.opened)
            return;
        watch.stop();
        shown = readMenu(*menu);
        if (whileOpen) {
            whileOpen();
            return;
        }
        if (!choose.isEmpty() && clickMenuItem(*menu, choose)) {
            shown.chose = true;
            return;
        }
        closeWithEscape(*menu);
    });
    watch.start();
    waitOutDoubleClick(window, point);
    warpPointer(window, point);
    press(window, Qt::RightButton, point, Qt::NoModifier);
    release(window, Qt::RightButton, point, Qt::NoModifier);
    lastPress() = LastPress{};
    // A menu shown after the press returned (none does today) is still read.
    runUntil([&shown] { return shown.opened; }, 0.3);
    watch.stop();
    return shown;
}

ShownMenu UserInput::rightClickWithPointer(Window& window, Point point, const QString& choose)
{
    ShownMenu shown;
    QMetaObject::Connection heard;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible() || shown.opened)
            return;
        watch.stop();
        shown = readMenu(*menu);
        QAction* action = actionTitled(menu->actions(), choose);
        if (!action || !action->isEnabled()) {
            closeWithEscape(*menu);
            return;
        }
        heard = QObject::connect(action, &QAction::triggered, [&shown] { shown.chose = true; });
        XServerInput::click(menu->mapToGlobal(menu->actionGeometry(action).center()));
    });
    watch.start();
    XServerInput::click(window.convertPointToGlobal(point).toPoint(), 1, 3);
    // The menu runs its own loop inside the press, and ends once the click on the item arrived.
    runUntil([&shown] { return shown.opened && !QApplication::activePopupWidget(); }, 10.0);
    watch.stop();
    QObject::disconnect(heard);
    return shown;
}

bool UserInput::dragWithPointer(Window& window, Point from, Point to, const QString& choose, ShownMenu* menu,
                                double holdSeconds)
{
    const QPoint start = window.convertPointToGlobal(from).toPoint();
    const QPoint end = window.convertPointToGlobal(to).toPoint();
    const auto move = [](QPoint p) {
        return QStringList{QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
    };
    const QStringList press = move(start) + QStringList{QStringLiteral("mousedown"), QStringLiteral("1")};
    // A pause before each step: Qt starts a drag once the pointer has moved while pressed, and
    // takes the drop where the last move it saw put the pointer.
    QStringList steps;
    constexpr int kSteps = 24;
    for (int i = 1; i <= kSteps; ++i)
        steps << QStringLiteral("sleep") << QStringLiteral("0.05")
              << move(start + (end - start) * i / kSteps);
    steps << QStringLiteral("sleep") << QStringLiteral("0.3") << QStringLiteral("mouseup")
          << QStringLiteral("1");

    ShownMenu shown;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&shown, &choose, &watch] {
        auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!open || !open->isVisible() || shown.opened)
            return;
        watch.stop();
        shown = readMenu(*open);
        if (!choose.isEmpty() && clickMenuItem(*open, choose))
            shown.chose = true;
        else
            closeWithEscape(*open);
    });
    watch.start();
    bool ran = false;
    if (holdSeconds <= 0) {
        ran = XServerInput::run(press + steps);
    } else if (XServerInput::run(press)) {
        // The hold counts from the pick-up, not from the press: Corvex, on a busy machine, may
        // read the press late, and a pointer that moved before its long press was due takes
        // the press back. A press that never becomes a drag moves on after a while, for the
        // caller to see nothing dropped. xdotool runs apart, never waited for inside the
        // drag's loop: what the drop starts runs once that loop has returned, as for a user.
        QProcess mover;
        bool moving = false;
        QElapsedTimer held;
        held.start();
        QTimer hold;
        hold.setInterval(10);
        QObject::connect(&hold, &QTimer::timeout, [&] {
            const qint64 due = qint64(holdSeconds * 1000);
            if (held.elapsed() < due || (!dragRunning() && held.elapsed() < due + 5000))
                return;
            hold.stop();
            mover.start(QStringLiteral("xdotool"), steps);
            moving = true;
        });
        hold.start();
        runUntil([&] { return moving && mover.state() == QProcess::NotRunning; }, holdSeconds + 40.0);
        ran = moving && mover.state() == QProcess::NotRunning && mover.exitStatus() == QProcess::NormalExit &&
              mover.exitCode() == 0;
        if (mover.state() != QProcess::NotRunning) {
            mover.kill();
            mover.waitForFinished(5000);
        }
    }
    // The drop's menu shows once the drop is taken, after the button went up.
    if (!choose.isEmpty())
        runUntil([&shown] { return shown.opened; }, 5.0);
    watch.stop();
    if (menu)
        *menu = shown;
    return ran;
}

bool UserInput::activate(Window& window)
{
    QWidget* host = window.hostWidget();
    if (!host)
        return false;
    // Asked again while it is not active, as a user clicks again: a window shown or a popover
    // closed just before may still move the focus that its own change asked for, after this
    // request.
    for (int attempt = 0; attempt < 10; ++attempt) {
        host->raise();
        host->activateWindow();
        if (test::runUntil([host, &window] { return host->isActiveWindow() && window.isKeyWindow(); }, 1.0))
            return true;
    }
    return false;
}

void UserInput::pressKey(Window& window, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    // Keys reach the window the user is in: shortcuts of its menus match only there.
    activateForKeys(window);
    if (QWindow* host = hostWindow(window))
        QTest::keyClick(host, key, modifiers);
}

void UserInput::typeText(Window& window, const QString& text)
{
    activateForKeys(window);
    for (const QChar character : text) {
        if (QWindow* host = hostWindow(window))
            QTest::keyClick(host, character.toLatin1());
    }
}

ShownMenu UserInput::openMenuBarMenu(Window& window, const QString& menuTitle, bool leaveOpen)
{
    return chooseMenuBarItem(window, menuTitle, QString(), leaveOpen);
}

ShownMenu UserInput::chooseMenuBarItem(Window& window, const QString& menuTitle, const QString& itemTitle,
                                       bool leaveOpen)
{
    ShownMenu shown;
    auto* bar = qobject_cast<QMenuBar*>(window.menuBarWidget());
    QWidget* host = window.hostWidget();
    QAction* top = bar ? actionTitled(bar->actions(), menuTitle) : nullptr;
    if (!top || !top->menu() || !host || !host->windowHandle()) {
        shown.why = QStringLiteral("the window shows no menu titled ") + menuTitle;
        return shown;
    }
    const QPoint titlePoint = bar->mapTo(host, bar->actionGeometry(top).center());
    const Point titleInWindow = window.convertPointFromWidget(titlePoint);
    press(window, Qt::LeftButton, titleInWindow, Qt::NoModifier);
    release(window, Qt::LeftButton, titleInWindow, Qt::NoModifier);
    QPointer<QMenu> menu = top->menu();
    if (!runUntil([&menu] { return menu && menu->isVisible(); }, 3.0)) {
        shown.why = QStringLiteral("the menu did not open");
        return shown;
    }
    shown = readMenu(*menu);
    if (leaveOpen)
        return shown;
    if (!itemTitle.isEmpty()) {
        QPointer<QAction> item = actionTitled(menu->actions(), itemTitle);
        bool ranLater = false;
        const QMetaObject::Connection later =
            item ? QObject::connect(item, &QAction::triggered, [&ranLater] { ranLater = true; })
                 : QMetaObject::Connection();
        shown.chose = clickMenuItem(*menu, itemTitle);
        processEvents();
        QObject::disconnect(later);
        if (!shown.chose) {
            shown.why =
                !item ? QStringLiteral("no such item among ") + shown.items().join(QStringLiteral(", "))
                : !shown.isEnabled(itemTitle).value_or(false) ? QStringLiteral("the item was disabled")
                : ranLater ? QStringLiteral("the item ran, but not from the click")
                           : QStringLiteral("the click ran nothing; the menu ") +
                                 (menu && menu->isVisible() ? QStringLiteral("stayed open")
                                                            : QStringLiteral("closed"));
        }
    }
    processEvents();
    if (menu && menu->isVisible()) {
        closeWithEscape(*menu);
        // A menu closed by Escape leaves its title highlighted, the bar holding the keyboard:
        // the user's second Escape gives the keys back to the window.
        processEvents();
        if (bar->hasFocus() && host->windowHandle())
            QTest::keyClick(host->windowHandle(), Qt::Key_Escape);
    }
    return shown;
}

} // namespace corvex::test
