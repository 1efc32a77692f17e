#pragma once

#include "platform/gfx/Point.h"

#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <limits>
#include <map>

namespace corvex {

class Window;

// The one QWidget of a Window. The compositor's surface (WindowCompositor::widget()) fills
// it and lets the mouse through; embedded widgets go above the surface. The host turns Qt's
// input into Events for Window::sendEvent:
// - timestamps are MediaClock::now() at receipt;
// - clicks are counted here, since Qt gives none: a press of the same button within the
//   double-click interval (QStyleHints, read once) of the previous press and within
//   kClickSlop pixels of it counts one more, else 1; a release carries its press's count.
//   Qt's double-click events count as presses only when no press came before them;
// - a drag is a move with a button down; moves without buttons, and leaving the widget, go
//   to the tracking areas;
// - the buttons held are Qt's (QMouseEvent::buttons()): a press whose release went elsewhere
//   (a pop-up menu or a modal loop opened by the press takes it) ends when a mouse event
//   shows the button up, silently, as a menu's tracking swallows the release. So the next
//   move is a move, and the next press of that button is a press.
class WindowHost final : public QWidget
{
public:
    static constexpr double kClickSlop = 4.0;

    WindowHost(Window& window, QWidget* surface);
    ~WindowHost() override;

    // The window is going away: events from now on are dropped.
    void detachWindow() { mWindow = nullptr; }

    // Space kept above the surface for the bar (the window's menu bar), which is laid out
    // across the top; the surface fills the rest.
    void setTopInset(int inset, QWidget* bar);

    // The double-click interval in seconds.
    static double doubleClickInterval();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void tabletEvent(QTabletEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Tab is a key like any other for the first responder.
    bool focusNextPrevChild(bool next) override;

private:
    void press(QMouseEvent* event, bool doubleClick);
    // Hands the key to the first responder's widget when that is a widget's view.
    bool embeddedFirstResponderTakes(const QKeyEvent& event);
    // Forgets the presses of buttons missing from `held`: their releases went elsewhere.
    void dropLostPresses(Qt::MouseButtons held);
    Point baseLocation(QPointF widgetPoint) const;

    Window* mWindow;
    bool mForwardingKey = false;
    QPointer<QWidget> mSurface;
    Qt::MouseButtons mButtonsDown;
    Qt::MouseButton mLastPressButton = Qt::NoButton;
    double mLastPressTime = -std::numeric_limits<double>::infinity();
    QPointF mLastPressPosition;
    int mClickCount = 0;
    int mTopInset = 0;
    QPointer<QWidget> mBar;
    // The click count of each button's current press.
    std::map<int, int> mPressCounts;
};

} // namespace corvex
