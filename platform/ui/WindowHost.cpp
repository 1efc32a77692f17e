#include "platform/ui/WindowHost_p.h"

#include <algorithm>

#include "platform/core/Scheduler.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Event.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowTeardown.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QStyleHints>
#include <QTabletEvent>
#include <QWheelEvent>

namespace corvex {

namespace {

// Event's button numbers: 0 left, 1 right, 2 middle, 3 back, 4 forward; any other button
// the index of its bit.
int buttonNumber(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 0;
    case Qt::RightButton:
        return 1;
    case Qt::MiddleButton:
        return 2;
    case Qt::BackButton:
        return 3;
    case Qt::ForwardButton:
        return 4;
    default: {
        int number = 0;
        for (unsigned bits = unsigned(button); bits > 1; bits >>= 1)
            ++number;
        return number;
    }
    }
}

Event::Type pressType(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return Event::Type::LeftMouseDown;
    case Qt::RightButton:
        return Event::Type::RightMouseDown;
    default:
        return Event::Type::OtherMouseDown;
    }
}

Event::Type releaseType(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return Event::Type::LeftMouseUp;
    case Qt::RightButton:
        return Event::Type::RightMouseUp;
    default:
        return Event::Type::OtherMouseUp;
    }
}

// Points scrolled per wheel line: scrolling deltas are in points, also for wheels without
// precise deltas, so that callers that pan by them move by a useful amount.
constexpr double kPointsPerLine = 10.0;

} // namespace

WindowHost::WindowHost(Window& window, QWidget* surface) : mWindow(&window), mSurface(surface)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    if (surface) {
        surface->setParent(this);
        surface->setAttribute(Qt::WA_TransparentForMouseEvents);
        surface->setFocusPolicy(Qt::NoFocus);
        surface->setGeometry(rect());
        surface->lower();
        surface->show();
        // Layout and drawing are brought up to date before each frame is painted.
        surface->installEventFilter(this);
    }
}

WindowHost::~WindowHost()
{
    if (mSurface)
        mSurface->removeEventFilter(this);
}

double WindowHost::doubleClickInterval()
{
    static const double interval = QGuiApplication::styleHints()->mouseDoubleClickInterval() / 1000.0;
    return interval;
}

Point WindowHost::baseLocation(QPointF widgetPoint) const
{
    return mWindow ? mWindow->convertPointFromWidget(widgetPoint) : Point::fromQPointF(widgetPoint);
}

bool WindowHost::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mSurface && event->type() == QEvent::Paint && View::isUpdateCyclePending())
        View::runUpdateCycle();
    return QWidget::eventFilter(watched, event);
}

bool WindowHost::event(QEvent* event)
{
    // Marked here as well as by the application's dispatch, which a test's plain
    // QApplication lacks.
    const WindowTeardown::Delivery delivery;
    if (mWindow && event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            Event magnify = Event::magnify(baseLocation(gesture->position()), gesture->value(),
                                           Event::modifierFlagsFromQt(gesture->modifiers()));
            mWindow->sendEvent(magnify);
            return true;
        }
    }
    return QWidget::event(event);
}

void WindowHost::dropLostPresses(Qt::MouseButtons held)
{
    const Qt::MouseButtons lost = mButtonsDown & ~held;
    if (lost == Qt::NoButton)
        return;
    mButtonsDown &= ~lost;
    for (unsigned bit = 1; bit != 0; bit <<= 1) {
        const auto button = Qt::MouseButton(bit);
        if (!(lost & button))
            continue;
        mPressCounts.erase(int(button));
        // The view that took the press hears nothing more of it: a menu run from the press
        // swallowed the release, and the view expects none.
        if (mWindow)
            mWindow->hostPressLost(releaseType(button));
    }
}

void WindowHost::press(QMouseEvent* event, bool doubleClick)
{
    const Qt::MouseButton button = event->button();
    if (!mWindow || button == Qt::NoButton)
        return;
    // A press of a button still held here means its last release never came. A double-click
    // event follows its own press, so there the button is rightly down already.
    dropLostPresses(doubleClick ? event->buttons() | button : event->buttons() & ~button);
    if (mButtonsDown & button)
        return;
    mButtonsDown |= button;
    const double now = MediaClock::now();
    const QPointF position = event->position();
    const bool continues = button == mLastPressButton && now - mLastPressTime < doubleClickInterval() &&
                           QLineF(position, mLastPressPosition).length() <= kClickSlop;
    mClickCount = continues ? mClickCount + 1 : 1;
    mLastPressButton = button;
    mLastPressTime = now;
    mLastPressPosition = position;
    mPressCounts[int(button)] = mClickCount;

    Event down = Event::mouseEvent(pressType(button), baseLocation(position), mClickCount,
                                   Event::modifierFlagsFromQt(event->modifiers()));
    down.setButtonNumber(buttonNumber(button));
    down.setTimestamp(now);
    mWindow->sendEvent(down);
}

void WindowHost::mousePressEvent(QMouseEvent* event)
{
    press(event, false);
    event->accept();
}

void WindowHost::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt sends press, release, press, double-click, release: the press already counted.
    press(event, true);
    event->accept();
}

void WindowHost::mouseReleaseEvent(QMouseEvent* event)
{
    const Qt::MouseButton button = event->button();
    event->accept();
    if (!mWindow)
        return;
    dropLostPresses(event->buttons() | button);
    if (!(mButtonsDown & button))
        return;
    mButtonsDown &= ~button;
    const auto count = mPressCounts.find(int(button));
    Event up = Event::mouseEvent(releaseType(button), baseLocation(event->position()),
                                 count == mPressCounts.end() ? 1 : count->second,
                                 Event::modifierFlagsFromQt(event->modifiers()));
    up.setButtonNumber(buttonNumber(button));
    mWindow->sendEvent(up);
}

void WindowHost::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!mWindow)
        return;
    dropLostPresses(event->buttons());
    const Point location = baseLocation(event->position());
    const Event::ModifierFlags flags = Event::modifierFlagsFromQt(event->modifiers());
    const Qt::MouseButtons down = mButtonsDown;
    Event moved;
    if (down & Qt::LeftButton) {
        moved = Event::mouseDragged(location, flags);
    } else if (down & Qt::RightButton) {
        moved = Event::rightMouseDragged(location, flags);
    } else if (down != Qt::NoButton) {
        Qt::MouseButton other = Qt::NoButton;
        for (unsigned bit = 1; bit != 0 && other == Qt::NoButton; bit <<= 1) {
            if (down & Qt::MouseButton(bit))
                other = Qt::MouseButton(bit);
        }
        moved = Event::otherMouseDragged(location, buttonNumber(other), flags);
    } else {
        moved = Event::mouseMoved(location, flags);
    }
    mWindow->sendEvent(moved);
}

void WindowHost::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (!mWindow)
        return;
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    const bool precise = !pixels.isNull();
    double deltaX;
    double deltaY;
    double scrollX;
    double scrollY;
    if (precise) {
        scrollX = pixels.x();
        scrollY = pixels.y();
        deltaX = scrollX / kPointsPerLine;
        deltaY = scrollY / kPointsPerLine;
    } else {
        // 120 units of angle are one notch, one line.
        deltaX = angle.x() / 120.0;
        deltaY = angle.y() / 120.0;
        scrollX = deltaX * kPointsPerLine;
        scrollY = deltaY * kPointsPerLine;
    }
    mWindow->sendEvent(Event::scrollWheel(baseLocation(event->position()), deltaX, deltaY, scrollX, scrollY,
                                          precise, Event::modifierFlagsFromQt(event->modifiers())));
}

void WindowHost::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (mWindow && !embeddedFirstResponderTakes(*event))
        mWindow->sendEvent(Event::fromQKeyEvent(*event, mWindow->mouseLocationOutsideOfEventStream()));
}

void WindowHost::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    if (mWindow && !embeddedFirstResponderTakes(*event))
        mWindow->sendEvent(Event::fromQKeyEvent(*event, mWindow->mouseLocationOutsideOfEventStream()));
}

bool WindowHost::embeddedFirstResponderTakes(const QKeyEvent& event)
{
    // The host has the keys although a widget's view is the first responder: the widget has
    // not taken Qt's focus yet.
    // A key the widget leaves comes back here through its parent: the window has it then.
    if (mForwardingKey)
        return false;
    auto* embedded = dynamic_cast<EmbeddedWidgetView*>(mWindow->firstResponder());
    if (!embedded)
        return false;
    mForwardingKey = true;
    const bool taken = embedded->takeKeyEvent(event);
    mForwardingKey = false;
    return taken;
}

void WindowHost::tabletEvent(QTabletEvent* event)
{
    const Point location = baseLocation(event->position());
    switch (mWindow ? event->type() : QEvent::None) {
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        mWindow->sendEvent(
            Event::tabletPoint(location, event->pressure(), Event::modifierFlagsFromQt(event->modifiers())));
        break;
    default:
        break;
    }
    // Not accepted: Qt then sends the mouse events the tablet stands for.
    event->ignore();
}

void WindowHost::leaveEvent(QEvent* event)
{
    if (mWindow && mButtonsDown == Qt::NoButton)
        mWindow->mouseExitedWindow();
    QWidget::leaveEvent(event);
}

void WindowHost::setTopInset(int inset, QWidget* bar)
{
    mTopInset = std::max(0, inset);
    mBar = bar;
    if (bar) {
        bar->setParent(this);
        bar->setGeometry(0, 0, width(), mTopInset);
        bar->show();
    }
    if (mSurface)
        mSurface->setGeometry(rect().adjusted(0, mTopInset, 0, 0));
}

void WindowHost::resizeEvent(QResizeEvent* event)
{
    if (mSurface)
        mSurface->setGeometry(rect().adjusted(0, mTopInset, 0, 0));
    if (mBar)
        mBar->setGeometry(0, 0, width(), mTopInset);
    if (mWindow)
        mWindow->hostResized(Size(width(), std::max(0, height() - mTopInset)));
    QWidget::resizeEvent(event);
}

void WindowHost::changeEvent(QEvent* event)
{
    if (mWindow && event->type() == QEvent::ActivationChange)
        mWindow->hostActivationChanged(isActiveWindow());
    QWidget::changeEvent(event);
}

void WindowHost::closeEvent(QCloseEvent* event)
{
    if (!mWindow || mWindow->hostCloseRequested())
        event->accept();
    else
        event->ignore();
}

bool WindowHost::focusNextPrevChild(bool)
{
    return false;
}

} // namespace corvex
