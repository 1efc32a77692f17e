#include "platform/ui/Window.h"

#include "platform/core/Log.h"
#include "platform/core/StartupTrace.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/WindowHost_p.h"
#include "platform/ui/WindowViewLink_p.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

Window* gKeyWindow = nullptr;
Window* gMainWindow = nullptr;
Window* gDispatching = nullptr;

// Marks the window whose events are being dispatched (where Cursor::set applies).
class DispatchScope
{
public:
    explicit DispatchScope(Window* window) : mPrevious(gDispatching) { gDispatching = window; }
    ~DispatchScope() { gDispatching = mPrevious; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

private:
    Window* mPrevious;
};

Size sanitized(Size size)
{
    const auto side = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    return Size(side(size.width), side(size.height));
}

double primaryScreenHeight()
{
    return ScreenFacade::mainScreenHeight();
}

std::vector<Window*>& liveWindows()
{
    static std::vector<Window*> windows;
    return windows;
}

std::function<void(Window&)>& lastWindowWillCloseHandler()
{
    static std::function<void(Window&)> handler;
    return handler;
}

// Tells the handler when `closing` is the last visible window.
void noteWindowClosing(Window& closing)
{
    const std::function<void(Window&)> handler = lastWindowWillCloseHandler();
    if (!handler)
        return;
    for (Window* other : liveWindows()) {
        if (other != &closing && other->isVisible())
            return;
    }
    handler(closing);
}

QString titleWithEditMark(const QString& title, bool edited)
{
    // Qt shows "[*]" as the modified mark, only while the window is modified; a literal
    // "[*]" in a title is doubled to stay text.
    QString escaped = title;
    escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return edited ? escaped + QStringLiteral("[*]") : escaped;
}

} // namespace

Window::Window(Size contentSize) : mContentSize(sanitized(contentSize))
{
    mRootLayer = Layer::create();
    mRootLayer->setName(QStringLiteral("window"));
    mRootLayer->setAnchorPoint(Point(0, 0));
    // The root follows the window's size at once, never animated.
    mRootLayer->setActions({{QStringLiteral("bounds"), LayerAction::null()},
                            {QStringLiteral("position"), LayerAction::null()},
                            {QStringLiteral("sublayers"), LayerAction::null()}});
    mRootLayer->setBounds(contentRect());
    mCompositor.setRootLayer(mRootLayer);
    liveWindows().push_back(this);
}

Window::~Window()
{
    std::erase(liveWindows(), this);
    if (WindowHost* host = mHost.data()) {
        host->detachWindow();
        // A window let go while its host handles an event (its close box) leaves the host to
        // be deleted once that event is over.
        if (host->isHandlingEvent()) {
            host->hide();
            host->deleteLater();
        } else {
            delete host;
        }
    }
    if (gKeyWindow == this)
        gKeyWindow = nullptr;
    if (gMainWindow == this)
        gMainWindow = nullptr;
    if (gDispatching == this)
        gDispatching = nullptr;
    if (mContentView)
        WindowToViewLink::setContentViewWindow(*mContentView, nullptr);
}

std::shared_ptr<Window> Window::create(Size contentSize)
{
    return std::make_shared<Window>(contentSize);
}

// ---- Content ----

void Window::setContentView(const std::shared_ptr<View>& view)
{
    if (view == mContentView)
        return;
    if (mContentView) {
        const std::shared_ptr<View> old = std::move(mContentView);
        mContentView.reset();
        WindowToViewLink::setContentViewWindow(*old, nullptr);
        const std::shared_ptr<Layer>& oldLayer = old->layer();
        if (oldLayer->superlayer() == mRootLayer)
            oldLayer->removeFromSuperlayer();
    }
    if (!view)
        return;
    view->removeFromSuperview();
    mContentView = view;
    Transaction::begin();
    Transaction::setDisableActions(true);
    view->setFrame(contentRect());
    Transaction::commit();
    mRootLayer->insertSublayer(view->layer(), 0);
    view->updateLayerGeometry();
    WindowToViewLink::setContentViewWindow(*view, this);
}

void Window::setContentSize(Size size)
{
    size = sanitized(size);
    if (size == mContentSize)
        return;
    mContentSize = size;
    mRootLayer->setBounds(contentRect());
    if (mContentView) {
        // Live resizing does not animate.
        Transaction::begin();
        Transaction::setDisableActions(true);
        mContentView->setFrame(contentRect());
        Transaction::commit();
    }
    if (mHost) {
        const QSize wanted(int(std::lround(size.width)), int(std::lround(size.height)) + mMenuBarHeight);
        if (mHost->size() != wanted)
            mHost->resize(wanted);
    }
}

// ---- Responders ----

Responder* Window::firstResponder() const
{
    Responder* first = mFirstResponder.get();
    return first ? first : const_cast<Window*>(this);
}

bool Window::makeFirstResponder(Responder* responder)
{
    if (!responder)
        responder = this;
    Responder* current = firstResponder();
    if (current == responder)
        return true;
    if (current != this && !current->resignFirstResponder())
        return false;
    if (responder != this && (!responder->acceptsFirstResponder() || !responder->becomeFirstResponder())) {
        mFirstResponder = Responder::Ref();
        return false;
    }
    mFirstResponder = responder == this ? Responder::Ref() : Responder::Ref(responder);
    return true;
}

void Window::viewWillLeaveWindow(View& view)
{
    // A first responder that leaves the window gives its place to the window, unasked.
    if (mFirstResponder.get() == &view)
        mFirstResponder = Responder::Ref();
}

void ViewToWindowLink::viewWillLeave(Window& window, View& view)
{
    window.viewWillLeaveWindow(view);
}

// ---- Status ----

bool Window::isKeyWindow() const
{
    return gKeyWindow == this;
}

bool Window::isMainWindow() const
{
    return gMainWindow == this;
}

Window* Window::keyWindow()
{
    return gKeyWindow;
}

Window* Window::mainWindow()
{
    return gMainWindow;
}

void Window::makeKeyWindow()
{
    if (gKeyWindow == this)
        return;
    Window* previous = gKeyWindow;
    gKeyWindow = this;
    if (previous)
        previous->resignKeyWindow();
    becomeKeyWindow();
    if (mHost && mHost->isVisible() && !mHost->isActiveWindow())
        mHost->activateWindow();
}

void Window::makeMainWindow()
{
    if (gMainWindow == this)
        return;
    Window* previous = gMainWindow;
    gMainWindow = this;
    if (previous)
        previous->resignMainWindow();
    becomeMainWindow();
}

void Window::makeKeyAndOrderFront()
{
    orderFront();
    makeKeyWindow();
    makeMainWindow();
}

void Window::orderFront()
{
    mVisible = true;
    QWidget* host = hostWidget();
    if (!host)
        return;
    // Shown again, a window keeps its old place in the stacking order, beneath the windows
    // raised meanwhile: it is raised as well.
    if (!host->isVisible()) {
        // The window's identity first, so that its first frame can be told from other windows'.
        if (StartupTrace::enabled())
            StartupTrace::mark("window shown",
                               (QByteArray::number(quintptr(host), 16) + ' ' + mTitle.toUtf8()).constData());
        host->show();
    }
    host->raise();
}

void Window::show()
{
    orderFront();
}

void Window::orderOut()
{
    mVisible = false;
    if (mHost)
        mHost->hide();
}

void Window::performClose()
{
    if (windowShouldClose())
        close();
}

void Window::close()
{
    if (!mVisible && (!mHost || !mHost->isVisible()))
        return;
    noteWindowClosing(*this);
    // Whoever owns the window may let it go while it hears of the closing; nothing of it is
    // touched after that.
    const std::weak_ptr<const int> life = lifeToken();
    windowWillClose();
    if (life.expired())
        return;
    orderOut();
    if (gKeyWindow == this) {
        gKeyWindow = nullptr;
        resignKeyWindow();
    }
    if (gMainWindow == this) {
        gMainWindow = nullptr;
        resignMainWindow();
    }
}

bool Window::windowShouldClose()
{
    return true;
}

void Window::windowWillClose() {}

void Window::becomeKeyWindow() {}

void Window::resignKeyWindow() {}

void Window::becomeMainWindow() {}

void Window::resignMainWindow() {}

void Window::setTitle(const QString& title)
{
    mTitle = title;
    if (mHost)
        mHost->setWindowTitle(titleWithEditMark(title, mDocumentEdited));
}

void Window::setDocumentEdited(bool edited)
{
    mDocumentEdited = edited;
    if (mHost) {
        mHost->setWindowTitle(titleWithEditMark(mTitle, edited));
        mHost->setWindowModified(edited);
    }
}

void Window::setIconImageName(const QString& name)
{
    mIconImageName = name;
    if (!mHost)
        return;
    const QPixmap pixmap =
        name.isEmpty() ? QPixmap() : QPixmap(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
    mHost->setWindowIcon(pixmap.isNull() ? QIcon() : QIcon(pixmap));
}

// ---- Frame ----

Rect Window::frameRectForContentRect(const Rect& contentRect) const
{
    return Rect(contentRect.origin.x, contentRect.origin.y, contentRect.size.width,
                contentRect.size.height + mMenuBarHeight);
}

Rect Window::contentRectForFrameRect(const Rect& frameRect) const
{
    return Rect(frameRect.origin.x, frameRect.origin.y, frameRect.size.width,
                std::max(0.0, frameRect.size.height - mMenuBarHeight));
}

Rect Window::frame() const
{
    const Size size(mContentSize.width, mContentSize.height + mMenuBarHeight);
    if (!mHost)
        return Rect(mFrameOrigin, size);
    const QPoint topLeft = mHost->isWindow() ? mHost->pos() : mHost->mapToGlobal(QPoint(0, 0));
    const Rect qtRect(topLeft.x(), topLeft.y(), size.width, size.height);
    const QRectF flipped = ScreenFacade::toQtRect(qtRect); // the flip is its own inverse
    return Rect(flipped.x(), flipped.y(), size.width, size.height);
}

void Window::setFrame(const Rect& frame)
{
    const Rect r = frame.standardized();
    if (!std::isfinite(r.origin.x) || !std::isfinite(r.origin.y))
        return;
    Size content = contentRectForFrameRect(r).size;
    content.width = std::max(content.width, mContentMinSize.width);
    content.height = std::max(content.height, mContentMinSize.height);
    // The top edge stays where the frame puts it when the minimum makes the window taller.
    const double frameHeight = content.height + mMenuBarHeight;
    mFrameOrigin = Point(r.origin.x, r.origin.y + r.size.height - frameHeight);
    setContentSize(content);
    if (mHost) {
        const QRectF qt = ScreenFacade::toQtRect(Rect(mFrameOrigin, Size(content.width, frameHeight)));
        mHost->move(int(std::lround(qt.x())), int(std::lround(qt.y())));
    }
}

void Window::setFrameOrigin(Point origin)
{
    const Rect current = frame();
    setFrame(Rect(origin, current.size));
}

void Window::center()
{
    const Rect visible = ScreenFacade::mainScreen().visibleFrame;
    const Rect current = frame();
    // As AppKit centres: horizontally in the middle, a third of the free height above.
    const double x = visible.origin.x + std::floor((visible.size.width - current.size.width) / 2);
    const double y = visible.origin.y + std::floor((visible.size.height - current.size.height) * 2 / 3);
    setFrame(Rect(Point(x, y), current.size));
}

void Window::setContentMinSize(Size size)
{
    mContentMinSize = sanitized(size);
    if (mHost)
        mHost->setMinimumSize(int(std::ceil(mContentMinSize.width)),
                              int(std::ceil(mContentMinSize.height)) + mMenuBarHeight);
    if (mContentSize.width < mContentMinSize.width || mContentSize.height < mContentMinSize.height)
        setContentSize(Size(std::max(mContentSize.width, mContentMinSize.width),
                            std::max(mContentSize.height, mContentMinSize.height)));
}

void Window::setMenuBarWidget(QWidget* bar)
{
    if (mMenuBar && mMenuBar.data() != bar)
        delete mMenuBar.data();
    mMenuBar = bar;
    WindowHost* host = static_cast<WindowHost*>(hostWidget());
    if (bar && !host) {
        delete bar;
        return;
    }
    mMenuBarHeight = bar ? std::max(0, bar->sizeHint().height()) : 0;
    if (host) {
        host->setTopInset(mMenuBarHeight, bar);
        host->resize(int(std::lround(mContentSize.width)),
                     int(std::lround(mContentSize.height)) + mMenuBarHeight);
        host->setMinimumSize(int(std::ceil(mContentMinSize.width)),
                             int(std::ceil(mContentMinSize.height)) + mMenuBarHeight);
    }
}

void Window::setLastWindowWillCloseHandler(std::function<void(Window&)> handler)
{
    lastWindowWillCloseHandler() = std::move(handler);
}

double Window::backingScaleFactor() const
{
    if (mScaleOverride > 0)
        return mScaleOverride;
    if (mHost)
        return mHost->devicePixelRatioF();
    return 1.0;
}

void Window::setBackingScaleFactorOverride(double scale)
{
    mScaleOverride = std::isfinite(scale) && scale > 0 ? scale : 0;
    applyScaleToViews();
}

void Window::applyScaleToViews()
{
    const double scale = backingScaleFactor();
    if (scale == mAppliedScale)
        return;
    mAppliedScale = scale;
    if (!mContentView)
        return;
    std::vector<View*> stack{mContentView.get()};
    while (!stack.empty()) {
        View* view = stack.back();
        stack.pop_back();
        WindowToViewLink::backingScaleChanged(*view);
        for (const auto& subview : view->subviews())
            stack.push_back(subview.get());
    }
}

// ---- Coordinates ----

Point Window::convertPointFromWidget(QPointF widgetPoint) const
{
    return Point(widgetPoint.x(), mContentSize.height - (widgetPoint.y() - mMenuBarHeight));
}

QPointF Window::convertPointToWidget(Point basePoint) const
{
    return QPointF(basePoint.x, mContentSize.height - basePoint.y + mMenuBarHeight);
}

QPointF Window::convertPointToGlobal(Point basePoint) const
{
    const QPointF widget = convertPointToWidget(basePoint);
    if (!mHost)
        return widget;
    return QPointF(mHost->mapToGlobal(QPoint(0, 0))) + widget;
}

Point Window::convertPointFromGlobal(QPointF globalPoint) const
{
    const QPointF origin = mHost ? QPointF(mHost->mapToGlobal(QPoint(0, 0))) : QPointF();
    return convertPointFromWidget(globalPoint - origin);
}

Point Window::convertPointToScreen(Point basePoint) const
{
    const QPointF global = convertPointToGlobal(basePoint);
    return Point(global.x(), primaryScreenHeight() - global.y());
}

Point Window::convertPointFromScreen(Point screenPoint) const
{
    return convertPointFromGlobal(QPointF(screenPoint.x, primaryScreenHeight() - screenPoint.y));
}

Rect Window::convertRectToScreen(const Rect& baseRect) const
{
    const Rect r = baseRect.standardized();
    const Point origin = convertPointToScreen(r.origin);
    return Rect(origin, r.size);
}

// ---- Events ----

Window* Window::cursorWindow()
{
    return gDispatching ? gDispatching : gKeyWindow;
}

void Window::setCursor(const Cursor& cursor)
{
    mCursor = cursor;
    if (mHost)
        mHost->setCursor(cursor.toQCursor());
}

void Window::cursorUpdate(const Event&)
{
    Cursor::arrowCursor().set();
}

std::shared_ptr<View> Window::viewAt(Point locationInWindow) const
{
    if (!mContentView)
        return nullptr;
    View* hit = mContentView->hitTest(locationInWindow);
    return hit ? hit->weak_from_this().lock() : nullptr;
}

std::shared_ptr<View>& Window::grabFor(Event::Type type)
{
    switch (type) {
    case Event::Type::RightMouseDown:
    case Event::Type::RightMouseDragged:
    case Event::Type::RightMouseUp:
        return mRightGrab;
    case Event::Type::OtherMouseDown:
    case Event::Type::OtherMouseDragged:
    case Event::Type::OtherMouseUp:
        return mOtherGrab;
    default:
        return mLeftGrab;
    }
}

int Window::addEventMonitor(EventMonitor monitor)
{
    const int handle = ++mNextEventMonitor;
    mEventMonitors.emplace_back(handle, std::move(monitor));
    return handle;
}

void Window::removeEventMonitor(int handle)
{
    std::erase_if(mEventMonitors, [handle](const auto& entry) { return entry.first == handle; });
}

void Window::sendEvent(const Event& incoming)
{
    Event event = incoming;
    if (!event.window())
        event.setWindow(this);
    DispatchScope scope(this);
    const std::shared_ptr<Layer> keepRoot = mRootLayer;
    // A copy: a monitor may remove itself (or another) while it runs.
    const auto monitors = mEventMonitors;
    for (const auto& entry : monitors) {
        if (entry.second && entry.second(event))
            return;
    }
    switch (event.type()) {
    case Event::Type::LeftMouseDown:
    case Event::Type::LeftMouseDragged:
    case Event::Type::LeftMouseUp:
    case Event::Type::RightMouseDown:
    case Event::Type::RightMouseDragged:
    case Event::Type::RightMouseUp:
    case Event::Type::OtherMouseDown:
    case Event::Type::OtherMouseDragged:
    case Event::Type::OtherMouseUp:
        dispatchMouse(event);
        break;
    case Event::Type::MouseMoved:
        mMouseLocation = event.locationInWindow();
        updateTracking(event, false, false);
        if (mAcceptsMouseMoved)
            firstResponder()->mouseMoved(event);
        break;
    case Event::Type::MouseEntered:
    case Event::Type::MouseExited:
    case Event::Type::CursorUpdate: {
        Responder* target = event.trackingArea() ? event.trackingArea()->owner() : nullptr;
        const std::shared_ptr<View> hit = target ? nullptr : viewAt(event.locationInWindow());
        if (!target)
            target = hit.get();
        if (!target)
            break;
        if (event.type() == Event::Type::MouseEntered)
            target->mouseEntered(event);
        else if (event.type() == Event::Type::MouseExited)
            target->mouseExited(event);
        else
            target->cursorUpdate(event);
        break;
    }
    case Event::Type::ScrollWheel:
    case Event::Type::Magnify:
    case Event::Type::TabletPoint:
    case Event::Type::TabletProximity: {
        const std::shared_ptr<View> target = viewAt(event.locationInWindow());
        if (!target)
            break;
        if (event.type() == Event::Type::ScrollWheel)
            target->scrollWheel(event);
        else if (event.type() == Event::Type::Magnify)
            target->magnifyWithEvent(event);
        else if (event.type() == Event::Type::TabletPoint)
            target->tabletPoint(event);
        else
            target->tabletProximity(event);
        break;
    }
    case Event::Type::KeyDown:
        firstResponder()->keyDown(event);
        break;
    case Event::Type::KeyUp:
        firstResponder()->keyUp(event);
        break;
    case Event::Type::FlagsChanged:
        firstResponder()->flagsChanged(event);
        break;
    case Event::Type::None:
        break;
    }
}

void Window::dispatchMouse(const Event& event)
{
    mMouseLocation = event.locationInWindow();
    std::shared_ptr<View>& grab = grabFor(event.type());
    std::shared_ptr<View> target;
    switch (event.type()) {
    case Event::Type::LeftMouseDown:
    case Event::Type::RightMouseDown:
    case Event::Type::OtherMouseDown:
        target = viewAt(event.locationInWindow());
        grab = target;
        if (target && event.type() == Event::Type::LeftMouseDown && firstResponder() != target.get() &&
            target->acceptsFirstResponder())
            makeFirstResponder(target.get());
        break;
    case Event::Type::LeftMouseUp:
    case Event::Type::RightMouseUp:
    case Event::Type::OtherMouseUp:
        target = grab ? std::move(grab) : viewAt(event.locationInWindow());
        grab.reset();
        break;
    default:
        target = grab ? grab : viewAt(event.locationInWindow());
        updateTracking(event, true, false);
        break;
    }
    if (target) {
        switch (event.type()) {
        case Event::Type::LeftMouseDown:
            target->mouseDown(event);
            break;
        case Event::Type::LeftMouseDragged:
            target->mouseDragged(event);
            break;
        case Event::Type::LeftMouseUp:
            target->mouseUp(event);
            break;
        case Event::Type::RightMouseDown:
            target->rightMouseDown(event);
            break;
        case Event::Type::RightMouseDragged:
            target->rightMouseDragged(event);
            break;
        case Event::Type::RightMouseUp:
            target->rightMouseUp(event);
            break;
        case Event::Type::OtherMouseDown:
            target->otherMouseDown(event);
            break;
        case Event::Type::OtherMouseDragged:
            target->otherMouseDragged(event);
            break;
        case Event::Type::OtherMouseUp:
            target->otherMouseUp(event);
            break;
        default:
            break;
        }
    }
    // Areas left or entered during the drag report once the buttons are up.
    if (!mLeftGrab && !mRightGrab && !mOtherGrab &&
        (event.type() == Event::Type::LeftMouseUp || event.type() == Event::Type::RightMouseUp ||
         event.type() == Event::Type::OtherMouseUp))
        updateTracking(event, false, false);
}

void Window::mouseExitedWindow()
{
    DispatchScope scope(this);
    Event event = Event::mouseMoved(mMouseLocation);
    event.setWindow(this);
    updateTracking(event, false, true);
}

void Window::updateTracking(const Event& event, bool dragging, bool outside)
{
    if (!mContentView)
        return;
    struct Change
    {
        std::shared_ptr<TrackingArea> area;
        std::shared_ptr<View> view;
    };
    std::vector<Change> exits;
    std::vector<Change> entries;
    std::vector<Change> moves;
    bool exitedCursorArea = false;
    bool insideCursorArea = false;
    const Point location = event.locationInWindow();
    const auto activeAnywhere = TrackingArea::ActiveWhenFirstResponder | TrackingArea::ActiveInKeyWindow |
                                TrackingArea::ActiveInActiveApp | TrackingArea::ActiveAlways;

    std::vector<View*> stack{mContentView.get()};
    while (!stack.empty()) {
        View* view = stack.back();
        stack.pop_back();
        for (const auto& subview : view->subviews())
            stack.push_back(subview.get());
        if (view->trackingAreas().empty())
            continue;
        const std::shared_ptr<View> strong = view->weak_from_this().lock();
        const bool visible = !view->isHiddenOrHasHiddenAncestor();
        const Point local = view->convertPointFromView(location, nullptr);
        for (const auto& area : view->trackingAreas()) {
            if (dragging && !area->hasOption(TrackingArea::EnabledDuringMouseDrag))
                continue;
            const auto options = area->options();
            // An area without any "active" option counts as always active.
            const bool active =
                (options & TrackingArea::ActiveAlways) || (options & activeAnywhere) == 0 ||
                ((options & TrackingArea::ActiveInActiveApp) && gKeyWindow != nullptr) ||
                ((options & TrackingArea::ActiveInKeyWindow) && isKeyWindow()) ||
                ((options & TrackingArea::ActiveWhenFirstResponder) && firstResponder() == view);
            const Rect rect =
                area->hasOption(TrackingArea::InVisibleRect) ? view->visibleRect() : area->rect();
            const bool inside = !outside && visible && active && view->mouseInRect(local, rect);
            if (inside != area->isMouseInside())
                (inside ? entries : exits).push_back({area, strong});
            if (inside) {
                moves.push_back({area, strong});
                if (area->hasOption(TrackingArea::CursorUpdate))
                    insideCursorArea = true;
            } else if (area->isMouseInside() && area->hasOption(TrackingArea::CursorUpdate)) {
                exitedCursorArea = true;
            }
        }
    }
    const Event::ModifierFlags flags = event.modifierFlags();
    for (const Change& change : exits) {
        change.area->setMouseInside(false);
        Responder* owner = change.area->owner();
        if (owner && change.area->hasOption(TrackingArea::MouseEnteredAndExited)) {
            Event exited = Event::enterExitEvent(Event::Type::MouseExited, location, change.area, flags);
            exited.setTimestamp(event.timestamp());
            exited.setWindow(this);
            owner->mouseExited(exited);
        }
    }
    for (const Change& change : entries) {
        change.area->setMouseInside(true);
        if (Responder* owner = change.area->owner();
            owner && change.area->hasOption(TrackingArea::MouseEnteredAndExited)) {
            Event entered = Event::enterExitEvent(Event::Type::MouseEntered, location, change.area, flags);
            entered.setTimestamp(event.timestamp());
            entered.setWindow(this);
            owner->mouseEntered(entered);
        }
        if (Responder* owner = change.area->owner();
            owner && change.area->hasOption(TrackingArea::CursorUpdate)) {
            Event update = Event::enterExitEvent(Event::Type::CursorUpdate, location, change.area, flags);
            update.setTimestamp(event.timestamp());
            update.setWindow(this);
            owner->cursorUpdate(update);
        }
    }
    if (exitedCursorArea && !insideCursorArea)
        Cursor::arrowCursor().set();
    if (event.type() != Event::Type::MouseMoved && event.type() != Event::Type::LeftMouseDragged &&
        event.type() != Event::Type::RightMouseDragged && event.type() != Event::Type::OtherMouseDragged)
        return;
    if (outside)
        return;
    for (const Change& change : moves) {
        if (Responder* owner = change.area->owner();
            owner && change.area->hasOption(TrackingArea::MouseMoved))
            owner->mouseMoved(event);
    }
}

// ---- Drawing ----

QImage Window::renderToImage(double scale)
{
    View::runUpdateCycle();
    return mCompositor.renderFrame(mContentSize, scale > 0 ? scale : backingScaleFactor());
}

QWidget* Window::hostWidget()
{
    // Widgets need a QApplication; without one the window works headless.
    if (!mHost && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        mHost = new WindowHost(*this, mCompositor.widget());
        mHost->setWindowTitle(titleWithEditMark(mTitle, mDocumentEdited));
        mHost->setWindowModified(mDocumentEdited);
        mHost->resize(int(std::lround(mContentSize.width)), int(std::lround(mContentSize.height)));
        mHost->setCursor(mCursor.toQCursor());
        if (!mIconImageName.isEmpty())
            setIconImageName(mIconImageName);
        if (mContentMinSize.width > 0 || mContentMinSize.height > 0)
            mHost->setMinimumSize(int(std::ceil(mContentMinSize.width)),
                                  int(std::ceil(mContentMinSize.height)));
        const QRectF qt = ScreenFacade::toQtRect(Rect(mFrameOrigin, mContentSize));
        if (mFrameOrigin.x != 0 || mFrameOrigin.y != 0)
            mHost->move(int(std::lround(qt.x())), int(std::lround(qt.y())));
        applyScaleToViews();
        hostWidgetCreated(*mHost);
    }
    return mHost.data();
}

// ---- From the host ----

void Window::hostResized(Size size)
{
    setContentSize(size);
    applyScaleToViews();
}

void Window::hostActivationChanged(bool active)
{
    if (active) {
        makeKeyWindow();
        makeMainWindow();
    } else if (gKeyWindow == this) {
        gKeyWindow = nullptr;
        resignKeyWindow();
    }
}

void Window::hostPressLost(Event::Type upType)
{
    grabFor(upType).reset();
}

bool Window::hostCloseRequested()
{
    if (!windowShouldClose())
        return false;
    noteWindowClosing(*this);
    const std::weak_ptr<const int> life = lifeToken();
    windowWillClose();
    if (life.expired())
        return true;
    mVisible = false;
    if (gKeyWindow == this) {
        gKeyWindow = nullptr;
        resignKeyWindow();
    }
    if (gMainWindow == this) {
        gMainWindow = nullptr;
        resignMainWindow();
    }
    return true;
}

} // namespace corvex
