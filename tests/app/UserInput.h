#pragma once

#include "platform/gfx/Point.h"

#include <QEvent>
#include <QString>
#include <QStringList>
#include <Qt>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

class QMenu;

namespace corvex {
class Window;
}

namespace corvex::test {

// A menu as the user saw it while it was open: its items top to bottom, separators as "-".
struct ShownMenu
{
    bool opened = false;
    QStringList titles;
    std::vector<bool> enabled;
    // Whether the item chosen (if one was asked for) was there, enabled, and ran when clicked.
    bool chose = false;
    // When an item asked for was not chosen: what the menu did instead, for a failure message.
    QString why;

    bool has(const QString& title) const { return titles.contains(title); }
    // Nothing for an item the menu does not hold.
    std::optional<bool> isEnabled(const QString& title) const;
    // The titles without separators.
    QStringList items() const;
    // Whether the item asked for ran, and if not, why: for ASSERT_TRUE(menu.ran()).
    ::testing::AssertionResult ran() const;
};

// What a user does with mouse and keyboard, delivered through Qt's window-system event
// delivery to the real top-level windows (QTest's QWindow overloads): the host window of a
// corvex Window, a pop-up menu, a popover. Points are a Window's base coordinates (y up from
// the bottom left of its content), as the views report them. Main thread only.
class UserInput
{
public:
    // The pointer moves to the point (the views see a mouse move).
    static void moveMouse(Window& window, Point point, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Press and release of the left button. Two clicks at the same place within the
    // double-click interval count as a double click, as for a user: a single click first
    // waits out the interval since the last press.
    static void click(Window& window, Point point, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    static void doubleClick(Window& window, Point point);
    // A right click; the menu it opens (a real pop-up menu, run modally) is read and closed
    // by choosing the item titled `choose` (by a click on it), or by Escape when `choose` is
    // empty or not there. With `whileOpen`, that is called instead once the menu is read, and
    // the menu stays open (the call returns when something else closes it).
    static ShownMenu rightClick(Window& window, Point point, const QString& choose = {},
                                const std::function<void()>& whileOpen = {});
    // The same with the X server's own pointer (xdotool), the item clicked with it too: the
    // window manager sees the input, and grants the focus to what the choice opens.
    static ShownMenu rightClickWithPointer(Window& window, Point point, const QString& choose);
    // A drag with the X server's own pointer, which Qt's drag and drop follows (the events of
    // the other calls never reach a running drag): xdotool presses the left button at `from`,
    // moves the pointer to `to` in steps as a hand does, and lets go there. The application
    // runs meanwhile. A menu the drop opens is read and `choose` clicked in it (or closed with
    // Escape). `to` may lie in another window: it is a point of `window`'s coordinates all the
    // same. With `holdSeconds`, the button is held still that long first, and until the long
    // press has picked the planet up, before the pointer moves. False when xdotool did not run
    // to its end.
    static bool dragWithPointer(Window& window, Point from, Point to, const QString& choose = {},
                                ShownMenu* menu = nullptr, double holdSeconds = 0.0);
    // Makes the window the active one (keys go to it) and waits until it is (at most about 10 s).
    static bool activate(Window& window);
    // Keys to a window: it becomes the active one first unless a popover or dialog of it is.
    static void pressKey(Window& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    static void typeText(Window& window, const QString& text);

    // A menu of the window's menu bar, opened by a click on its title, read and closed with
    // Escape (or left open).
    static ShownMenu openMenuBarMenu(Window& window, const QString& menuTitle, bool leaveOpen = false);
    // The same, then a click on the item: `chose` says whether it was enabled and ran (a
    // click on a disabled item does nothing, as for a user, and the menu is then closed).
    static ShownMenu chooseMenuBarItem(Window& window, const QString& menuTitle, const QString& itemTitle,
                                       bool leaveOpen = false);

private:
    static void press(Window& window, Qt::MouseButton button, Point point, Qt::KeyboardModifiers modifiers);
    static void release(Window& window, Qt::MouseButton button, Point point, Qt::KeyboardModifiers modifiers);
    static void deliverMouse(Window& window, QEvent::Type type, Qt::MouseButton button, Point point,
                             Qt::KeyboardModifiers modifiers);
    static ShownMenu readMenu(const QMenu& menu);
    static bool clickMenuItem(QMenu& menu, const QString& title);
    static void waitOutDoubleClick(Window& window, Point point);
};

} // namespace corvex::test
