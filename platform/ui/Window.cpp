#include "platform/ui/Window.h"

#include "platform/core/Log.h"
#include "platform/core/NativeFileName.h"
#include "platform/core/StartupTrace.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/WindowHost_p.h"
#include "platform/ui/WindowTeardown.h"
#include "platform/ui/WindowViewLink_p.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

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

std::vector<std::pair<int, std::function<void(Window&)>>>& keyWindowObservers()
{
    static std::vector<std::pair<int, std::function<void(Window&)>>> observers;
    return observers;
}

// The windows that were main, the latest first.
std::vector<Window*>& mainWindowOrder()
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
    // "[*]" in a title is doubled to stay text. A file name's bytes that are not UTF-8 show as
    // U+FFFD.
    QString escaped = title.isEmpty() ? Window::UntitledTitle : NativeFileName::forDisplay(title);
    escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return edited ? escaped + QStringLiteral("[*]") : escaped;
}

// Makes `window` the holder of a status (key or main): the previous holder resigns first.
// False when it held the status already.
bool takeStatus(Window*& holder, Window& window, void (Window::*resign)(), void (Window::*become)())
{
    if (holder == &window)
        return false;
    Window* previous = std::exchange(holder, &window);
    if (previous)
        (previous->*resign)();
    (window.*become)();
    return true;
}

void giveUpStatus(Window*& holder, Window& window, void (Window::*resign)())
{
    if (holder != &window)
        return;
    holder = nullptr;
    (window.*resign)();
}

// Where sendEvent takes each kind of event.
enum class Goes
{
    // To the view under the pointer, which keeps that button's grab (a left press also
    // makes it first responder when it accepts).
    Press,
    // To the view holding the button's grab, else the view under the pointer.
    Drag,
    // As a drag, and the grab ends.
    Release,
    // Through the tracking areas, and to the first responder when the window asks for it.
    Move,
    // To the tracking area's owner, else the view under the pointer.
    TrackingOwner,
    UnderPointer,
    FirstResponder,
};

struct Route
{
    Event::Type type;
    Goes goes;
    // The grab a button event uses: 0 left, 1 right, 2 other.
    std::size_t button;
    void (Responder::*method)(const Event&);
};

using T = Event::Type;
using R = Responder;
constexpr Route kRoutes[] = {
    {T::LeftMouseDown, Goes::Press, 0, &R::mouseDown},
    {T::LeftMouseDragged, Goes::Drag, 0, &R::mouseDragged},
    {T::LeftMouseUp, Goes::Release, 0, &R::mouseUp},
    {T::RightMouseDown, Goes::Press, 1, &R::rightMouseDown},
    {T::RightMouseDragged, Goes::Drag, 1, &R::rightMouseDragged},
    {T::RightMouseUp, Goes::Release, 1, &R::rightMouseUp},
    {T::OtherMouseDown, Goes::Press, 2, &R::otherMouseDown},
    {T::OtherMouseDragged, Goes::Drag, 2, &R::otherMouseDragged},
    {T::OtherMouseUp, Goes::Release, 2, &R::otherMouseUp},
    {T::MouseMoved, Goes::Move, 0, &R::mouseMoved},
    {T::MouseEntered, Goes::TrackingOwner, 0, &R::mouseEntered},
    {T::MouseExited, Goes::TrackingOwner, 0, &R::mouseExited},
    {T::CursorUpdate, Goes::TrackingOwner, 0, &R::cursorUpdate},
    {T::ScrollWheel, Goes::UnderPointer, 0, &R::scrollWheel},
    {T::Magnify, Goes::UnderPointer, 0, &R::magnifyWithEvent},
    {T::TabletPoint, Goes::UnderPointer, 0, &R::tabletPoint},
    {T::TabletProximity, Goes::UnderPointer, 0, &R::tabletProximity},
    {T::KeyDown, Goes::FirstResponder, 0, &R::keyDown},
    {T::KeyUp, Goes::FirstResponder, 0, &R::keyUp},
    {T::FlagsChanged, Goes::FirstResponder, 0, &R::flagsChanged},
};

// Null for an event that goes nowhere (None).
const Route* routeOf(Event::Type type)
{
    const auto found = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [type](const Route& route) { return route.type == type; });
    return found == std::end(kRoutes) ? nullptr : &*found;
}

void deliver(Responder& target, const Event& event)
{
    if (const Route* route = routeOf(event.type()))
        (target.*route->method)(event);
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
    std::erase(mainWindowOrder(), this);
    if (WindowHost* host = mHost.data()) {
        host->detachWindow();
        // A window let go while Qt delivers an event (its close box, another window's
        // activation) or runs a nested loop on it leaves its host to a later turn.
        WindowTeardown::dispose(host);
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
    if (!takeStatus(gKeyWindow, *this, &Window::resignKeyWindow, &Window::becomeKeyWindow))
        return;
    if (mHost && mHost->isVisible() && !mHost->isActiveWindow())
        mHost->activateWindow();
    // A copy: an observer may remove itself (or another) while it runs.
    const auto observers = keyWindowObservers();
    const std::weak_ptr<const int> life = lifeToken();
    for (const auto& entry : observers) {
        if (life.expired())
            return;
        entry.second(*this);
    }
}

int Window::addKeyWindowObserver(std::function<void(Window& key)> observer)
{
    static int nextHandle = 0;
    keyWindowObservers().emplace_back(++nextHandle, std::move(observer));
    return nextHandle;
}

void Window::removeKeyWindowObserver(int handle)
{
    std::erase_if(keyWindowObservers(), [handle](const auto& entry) { return entry.first == handle; });
}

void Window::makeMainWindow()
{
    if (!mCanBecomeMain)
        return;
    std::vector<Window*>& order = mainWindowOrder();
    std::erase(order, this);
    order.insert(order.begin(), this);
    takeStatus(gMainWindow, *this, &Window::resignMainWindow, &Window::becomeMainWindow);
}

void Window::setCanBecomeMainWindow(bool can)
{
    mCanBecomeMain = can;
    if (!can) {
        std::erase(mainWindowOrder(), this);
        giveUpStatus(gMainWindow, *this, &Window::resignMainWindow);
    }
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
    if (!mClosePending && windowShouldClose())
        close();
}

void Window::close()
{
    if (!mVisible && (!mHost || !mHost->isVisible()))
        return;
    if (!WindowTeardown::isSafeNow()) {
        if (!mClosePending)
            WindowTeardown::closeLater(lifeToken(), [this] {
                // Hidden meanwhile, it has nothing left to close.
                mClosePending = false;
                close();
            });
        mClosePending = true;
        return;
    }
    // Asked again at rest (the application taking its windows down), a close under way
    // happens now.
    mClosePending = false;
    if (!announceClosing())
        return;
    orderOut();
    giveUpKeyAndMain();
}

bool Window::announceClosing()
{
    noteWindowClosing(*this);
    // Whoever owns the window may let it go while it hears of the closing; nothing of it is
    // touched after that.
    const std::weak_ptr<const int> life = lifeToken();
    windowWillClose();
    return !life.expired();
}

void Window::giveUpKeyAndMain()
{
    giveUpStatus(gKeyWindow, *this, &Window::resignKeyWindow);
    const bool wasMain = gMainWindow == this;
    giveUpStatus(gMainWindow, *this, &Window::resignMainWindow);
    std::erase(mainWindowOrder(), this);
    if (!wasMain || gMainWindow)
        return;
    // Closing the main window leaves the one main before it main, as the window manager
    // activates that one (and without one, nothing else would).
    const std::vector<Window*> order = mainWindowOrder();
    for (Window* earlier : order) {
        if (earlier->isVisible()) {
            earlier->makeMainWindow();
            return;
        }
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
    // The host's own area on the screen: pos() would be where the window manager's title bar
    // and border begin, which setFrame does not place.
    const QPoint topLeft = mHost->isWindow() ? mHost->geometry().topLeft() : mHost->mapToGlobal(QPoint(0, 0));
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
    if (mHost)
        placeHost();
}

void Window::placeHost()
{
    // The host's own area, without the window manager's decorations: a move() before the
    // window is made would place the decorations there, and the host below them.
    const QRectF qt = ScreenFacade::toQtRect(
        Rect(mFrameOrigin, Size(mContentSize.width, mContentSize.height + mMenuBarHeight)));
    mHost->setGeometry(int(std::lround(qt.x())), int(std::lround(qt.y())),
                       int(std::lround(mContentSize.width)),
                       int(std::lround(mContentSize.height)) + mMenuBarHeight);
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
    const Route* route = routeOf(type);
    return mGrabs[route ? route->button : 0];
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
    const Route* route = routeOf(event.type());
    if (!route)
        return;
    switch (route->goes) {
    case Goes::Press:
    case Goes::Drag:
    case Goes::Release:
        dispatchMouse(event);
        break;
    case Goes::Move:
        mMouseLocation = event.locationInWindow();
        updateTracking(event, false, false);
        if (mAcceptsMouseMoved)
            deliver(*firstResponder(), event);
        break;
    case Goes::TrackingOwner: {
        Responder* target = event.trackingArea() ? event.trackingArea()->owner() : nullptr;
        const std::shared_ptr<View> hit = target ? nullptr : viewAt(event.locationInWindow());
        if (!target)
            target = hit.get();
        if (target)
            deliver(*target, event);
        break;
    }
    case Goes::UnderPointer:
        if (const std::shared_ptr<View> target = viewAt(event.locationInWindow()))
            deliver(*target, event);
        break;
    case Goes::FirstResponder:
        deliver(*firstResponder(), event);
        break;
    }
}

void Window::dispatchMouse(const Event& event)
{
    mMouseLocation = event.locationInWindow();
    const Route& route = *routeOf(event.type());
    std::shared_ptr<View>& grab = mGrabs[route.button];
    std::shared_ptr<View> target;
    switch (route.goes) {
    case Goes::Press:
        target = viewAt(event.locationInWindow());
        grab = target;
        if (target && event.type() == Event::Type::LeftMouseDown && firstResponder() != target.get() &&
            target->acceptsFirstResponder())
            makeFirstResponder(target.get());
        break;
    case Goes::Release:
        target = grab ? std::move(grab) : viewAt(event.locationInWindow());
        grab.reset();
        break;
    default:
        target = grab ? grab : viewAt(event.locationInWindow());
        updateTracking(event, true, false);
        break;
    }
    if (target)
        deliver(*target, event);
    // Areas left or entered during the drag report once the buttons are up.
    if (route.goes == Goes::Release &&
        std::none_of(mGrabs.begin(), mGrabs.end(), [](const auto& held) { return held != nullptr; }))
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
    // Tells the area's owner of an exit, entry or cursor update when the area asks for it.
    const auto tell = [&](Event::Type type, const Change& change, TrackingArea::Option option) {
        Responder* owner = change.area->owner();
        if (!owner || !change.area->hasOption(option))
            return;
        Event told = Event::enterExitEvent(type, location, change.area, event.modifierFlags());
        told.setTimestamp(event.timestamp());
        told.setWindow(this);
        deliver(*owner, told);
    };
    for (const Change& change : exits) {
        change.area->setMouseInside(false);
        tell(Event::Type::MouseExited, change, TrackingArea::MouseEnteredAndExited);
    }
    for (const Change& change : entries) {
        change.area->setMouseInside(true);
        tell(Event::Type::MouseEntered, change, TrackingArea::MouseEnteredAndExited);
        tell(Event::Type::CursorUpdate, change, TrackingArea::CursorUpdate);
    }
    if (exitedCursorArea && !insideCursorArea)
        Cursor::arrowCursor().set();
    const Route* route = routeOf(event.type());
    if (!route || (route->goes != Goes::Move && route->goes != Goes::Drag))
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
        if (mFrameOrigin.x != 0 || mFrameOrigin.y != 0)
            placeHost();
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
        // The window system tells of focus late on a busy machine: a window closed meanwhile
        // (a popover that had the keys) takes them from no one.
        if (!mHost || !mHost->isVisible())
            return;
        makeKeyWindow();
        makeMainWindow();
    } else {
        giveUpStatus(gKeyWindow, *this, &Window::resignKeyWindow);
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
    if (!announceClosing())
        return true;
    mVisible = false;
    giveUpKeyAndMain();
    return true;
}

} // namespace corvex
