// Windows close and their hosts die only where Qt holds none of them: a close asked for, or a
// window let go, inside Qt's delivery of an event (the window's own, another window's
// activation) or inside a nested loop run on the window takes effect on a later turn, once;
// at rest, at once.

#include "platform/ui/WindowTeardown.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/RunUntil.h"

#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

class CountingWindow : public Window
{
public:
    CountingWindow() : Window(Size(120, 80)) {}
    bool windowShouldClose() override
    {
        ++asked;
        return true;
    }
    void windowWillClose() override { ++closed; }
    int asked = 0;
    int closed = 0;
};

// AskedWhere the request is made.
enum class AskedWhere
{
    AtRest,
    OwnKeyEvent,
    AnotherWindowsActivation,
    NestedLoop,
};

// Makes the request (`request`) at that place, with `window` shown and key and `other` shown.
// Checks inside, as the place is left, that nothing of the window went yet.
void requestAt(AskedWhere where, Window& window, Window& other, const std::function<void()>& request)
{
    switch (where) {
    case AskedWhere::AtRest:
        request();
        return;
    case AskedWhere::OwnKeyEvent: {
        const int monitor = window.addEventMonitor([&](const Event& event) {
            if (event.type() == Event::Type::KeyDown)
                request();
            return false;
        });
        QTest::keyClick(window.hostWidget(), Qt::Key_W, Qt::ControlModifier);
        window.removeEventMonitor(monitor);
        return;
    }
    case AskedWhere::AnotherWindowsActivation: {
        // Qt goes on to deactivate the window's host after the other window heard of its
        // activation, within the same call.
        const int observer = Window::addKeyWindowObserver([&](Window& key) {
            if (&key == &other)
                request();
        });
        QApplication::setActiveWindow(other.hostWidget());
        Window::removeKeyWindowObserver(observer);
        return;
    }
    case AskedWhere::NestedLoop: {
        const WindowTeardown::ModalLoop loop;
        request();
        // Turns the loop runs change nothing while it runs.
        processEvents();
        processEvents();
        return;
    }
    }
}

// The window, key and active, and another window to turn to.
struct TeardownScene
{
    TeardownScene()
    {
        other->orderFront();
        window->makeKeyAndOrderFront();
        QApplication::setActiveWindow(window->hostWidget());
    }
    std::shared_ptr<CountingWindow> window = std::make_shared<CountingWindow>();
    std::shared_ptr<Window> other = Window::create(Size(80, 80));
};

struct TeardownRow
{
    const char* what;
    AskedWhere where;
};

const TeardownRow kTeardownRows[] = {
    {"at rest", AskedWhere::AtRest},
    {"inside its own key event", AskedWhere::OwnKeyEvent},
    {"inside another window's activation", AskedWhere::AnotherWindowsActivation},
    {"inside a nested loop run on it", AskedWhere::NestedLoop},
};

} // namespace

TEST(WindowTeardown, ACloseAskedForWhileQtIsBusyTakesEffectOnALaterTurnOnce)
{
    for (const TeardownRow& row : kTeardownRows) {
        TeardownScene scene;
        auto& window = scene.window;
        auto& other = scene.other;
        bool closingInside = false;
        // What follows the close (an alert about it) waits for it, and for Qt to be at rest.
        std::vector<std::pair<int, bool>> followed;
        requestAt(row.where, *window, *other, [&] {
            window->performClose();
            closingInside = window->isClosing();
            // Asked again while it closes: no second question.
            if (closingInside)
                window->performClose();
            WindowTeardown::afterCloses(
                [&] { followed.emplace_back(window->closed, WindowTeardown::isSafeNow()); });
            EXPECT_TRUE(followed.empty()) << row.what;
        });
        const bool atOnce = row.where == AskedWhere::AtRest;
        EXPECT_EQ(closingInside, !atOnce) << row.what;
        EXPECT_EQ(window->closed, atOnce ? 1 : 0) << row.what;
        EXPECT_EQ(window->isVisible(), !atOnce) << row.what;
        EXPECT_TRUE(runUntil([&] { return window->closed > 0; })) << row.what;
        processEvents();
        EXPECT_EQ(window->asked, 1) << row.what;
        EXPECT_EQ(window->closed, 1) << row.what;
        EXPECT_FALSE(window->isVisible() || window->hostWidget()->isVisible() || window->isClosing())
            << row.what;
        EXPECT_TRUE(runUntil([&] { return !followed.empty(); })) << row.what;
        EXPECT_EQ(followed, (std::vector<std::pair<int, bool>>{{1, true}})) << row.what;
        EXPECT_EQ(WindowTeardown::pendingCount(), 0) << row.what;
    }
}

TEST(WindowTeardown, AWindowHiddenWhileItsCloseWaitsCanBeClosedOnceShownAgain)
{
    CountingWindow window;
    window.makeKeyAndOrderFront();
    {
        const WindowTeardown::ModalLoop loop;
        window.performClose();
        window.orderOut();
    }
    EXPECT_TRUE(runUntil([&] { return !window.isClosing(); }));
    window.makeKeyAndOrderFront();
    window.performClose();
    EXPECT_EQ(window.closed, 1);
    EXPECT_FALSE(window.isVisible());
}

TEST(WindowTeardown, WhatFollowsClosesNeverRunsInsideAnothersLoop)
{
    QStringList ran;
    WindowTeardown::afterCloses([&] {
        ran.append(QStringLiteral("first begins"));
        // An alert's loop, during which more is asked for.
        const WindowTeardown::ModalLoop loop;
        WindowTeardown::afterCloses([&] { ran.append(QStringLiteral("second")); });
        processEvents();
        processEvents();
        ran.append(QStringLiteral("first ends"));
    });
    EXPECT_TRUE(runUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (QStringList{"first begins", "first ends", "second"}));
    EXPECT_EQ(WindowTeardown::pendingCount(), 0);
}

TEST(WindowTeardown, AWindowLetGoWhileQtIsBusyKeepsItsHostUntilQtIsThrough)
{
    for (const TeardownRow& row : kTeardownRows) {
        TeardownScene scene;
        auto& window = scene.window;
        auto& other = scene.other;
        QPointer<QWidget> host = window->hostWidget();
        // What a modal loop shows on the window: a child of its host.
        QPointer<QWidget> dialog = new QWidget(host, Qt::Dialog);
        std::optional<bool> hostInside;
        requestAt(row.where, *window, *other, [&] {
            window.reset();
            hostInside = !host.isNull() && !dialog.isNull();
        });
        ASSERT_TRUE(hostInside) << row.what;
        EXPECT_EQ(*hostInside, row.where != AskedWhere::AtRest) << row.what;
        EXPECT_TRUE(runUntil([&] { return host.isNull(); })) << row.what;
        EXPECT_TRUE(dialog.isNull()) << row.what;
        EXPECT_EQ(WindowTeardown::pendingCount(), 0) << row.what;
    }
}
