#include "platform/ui/Popover.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/PopoverDelegate.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

#include <QAction>
#include <QGuiApplication>
#include <QStyleHints>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

bool isEscape(const Event& event)
{
    return event.type() == Event::Type::KeyDown &&
           (event.keyCode() == Event::KeyCodeEscape || event.characters() == QStringLiteral("\x1b"));
}

bool isPress(const Event& event)
{
    return event.type() == Event::Type::LeftMouseDown || event.type() == Event::Type::RightMouseDown ||
           event.type() == Event::Type::OtherMouseDown;
}

// In seconds; Qt's default without a display.
double doubleClickInterval()
{
    return (qGuiApp ? QGuiApplication::styleHints()->mouseDoubleClickInterval() : 400) / 1000.0;
}

// The visible frame of the screen holding most of `rect`, else the main screen's.
Rect visibleFrameFor(const Rect& rect)
{
    Rect best = ScreenFacade::mainScreen().visibleFrame;
    double bestArea = -1;
    for (const ScreenInfo& screen : ScreenFacade::screens()) {
        const double w =
            std::min(rect.maxX(), screen.frame.maxX()) - std::max(rect.minX(), screen.frame.minX());
        const double h =
            std::min(rect.maxY(), screen.frame.maxY()) - std::max(rect.minY(), screen.frame.minY());
        const double area = w > 0 && h > 0 ? w * h : 0;
        if (area > bestArea) {
            bestArea = area;
            best = screen.visibleFrame;
        }
    }
    return best;
}

} // namespace

PlatformColor Popover::frameColor()
{
    return PlatformColor::deviceWhite(0.55);
}

Popover::Popover(bool takesKeyboard) : mTakesKeyboard(takesKeyboard) {}

Popover::~Popover()
{
    detachMonitors();
    if (mWindow)
        mWindow->close();
}

std::shared_ptr<Popover> Popover::create(bool takesKeyboard)
{
    return std::make_shared<Popover>(takesKeyboard);
}

void Popover::setContentViewController(const std::shared_ptr<ViewController>& controller)
{
    mContent = controller;
    if (mShown)
        mShownContent = controller;
}

void Popover::setContentSize(Size size)
{
    mContentSize = size;
    if (mWindow && mShown) {
        mWindow->setContentSize(size);
        place();
    }
}

Rect Popover::frame() const
{
    return mWindow ? mWindow->frame() : Rect();
}

Rect Popover::placedFrame(Size content, const Rect& anchor, Edge edge, const Rect& visible)
{
    // Screen coordinates are y up: the maximum-Y edge of a flipped positioning view is the
    // anchor's lower edge on screen, its minimum-Y edge the upper one. Windows sit on whole
    // points: the edge facing the anchor is rounded away from it, never onto it.
    const auto beside = [&](Edge side) {
        switch (side) {
        case Edge::MaxY:
            return Point(std::round(anchor.midX() - content.width / 2),
                         std::floor(anchor.minY() - content.height));
        case Edge::MinY:
            return Point(std::round(anchor.midX() - content.width / 2), std::ceil(anchor.maxY()));
        case Edge::MinX:
            return Point(std::floor(anchor.minX() - content.width),
                         std::round(anchor.midY() - content.height / 2));
        case Edge::MaxX:
            break;
        }
        return Point(std::ceil(anchor.maxX()), std::round(anchor.midY() - content.height / 2));
    };
    const auto vertical = [](Edge side) { return side == Edge::MaxY || side == Edge::MinY; };
    const auto opposite = [](Edge side) {
        switch (side) {
        case Edge::MaxY:
            return Edge::MinY;
        case Edge::MinY:
            return Edge::MaxY;
        case Edge::MinX:
            return Edge::MaxX;
        case Edge::MaxX:
            break;
        }
        return Edge::MinX;
    };
    // Inside the area along the side's own axis, and no larger than the area across it.
    const auto fits = [&](Edge side) {
        const Point origin = beside(side);
        if (vertical(side))
            return origin.y >= visible.minY() && origin.y + content.height <= visible.maxY() &&
                   content.width <= visible.size.width;
        return origin.x >= visible.minX() && origin.x + content.width <= visible.maxX() &&
               content.height <= visible.size.height;
    };
    // The preferred edge, else the opposite one, else either of the others: beside the anchor
    // and never over it while there is room for it anywhere.
    const Edge across = vertical(edge) ? Edge::MaxX : Edge::MaxY;
    Edge chosen = edge;
    bool found = false;
    for (const Edge side : {edge, opposite(edge), across, opposite(across)}) {
        if (fits(side)) {
            chosen = side;
            found = true;
            break;
        }
    }
    if (!found) {
        // Room nowhere: the preferred edge unless it runs off the area on its own side.
        const Point preferred = beside(edge);
        const bool off = edge == Edge::MaxY   ? preferred.y < visible.minY()
                         : edge == Edge::MinY ? preferred.y + content.height > visible.maxY()
                         : edge == Edge::MinX ? preferred.x < visible.minX()
                                              : preferred.x + content.width > visible.maxX();
        chosen = off ? opposite(edge) : edge;
    }
    Rect frame(beside(chosen), content);
    // Always on screen: moved in from the right and top first, so that a popover larger than
    // the screen keeps its left and lower edges visible.
    frame.origin.x = std::max(visible.minX(), std::min(frame.origin.x, visible.maxX() - content.width));
    frame.origin.y = std::max(visible.minY(), std::min(frame.origin.y, visible.maxY() - content.height));
    return frame;
}

void Popover::place()
{
    if (!mWindow)
        return;
    // Inside the content area of the window it belongs to, where that is on screen: never over
    // the window's menu bar or beyond its edges.
    Rect area = visibleFrameFor(mAnchorOnScreen);
    if (mPositioningWindow && !mPositioningLife.expired()) {
        const Rect content =
            mPositioningWindow->convertRectToScreen(mPositioningWindow->contentRect()).intersection(area);
        if (!content.isEmpty())
            area = content;
    }
    mWindow->setFrame(placedFrame(mContentSize, mAnchorOnScreen, mEdge, area));
}

void Popover::showRelativeToRect(const Rect& rect, View& positioningView, Edge preferredEdge)
{
    const std::shared_ptr<ViewController> content = mContent.lock();
    Window* positioning = positioningView.window();
    if (!content || !positioning) {
        Log::warning(QStringLiteral("Popover: nothing to show or no window to show it in"));
        return;
    }
    if (mShown)
        return;
    mSelfWhileShown = shared_from_this();
    mShownContent = content;
    if (const auto delegate = mDelegate.lock())
        delegate->popoverWillShow(*this);
    if (!mSelfWhileShown)
        return; // closed by the delegate meanwhile
    // The window of the last showing may still be on its way out: this showing takes a new one.
    if (mWindow && mWindow->isClosing())
        mWindow.reset();
    if (!mWindow) {
        mWindow = std::make_shared<Window>(mContentSize);
        mWindow->setCanBecomeMainWindow(false);
        // No window manager frames a popover: a line of its own marks its edge above whatever
        // lies under it (drawn above the content).
        mWindow->rootLayer()->setBorderWidth(FrameWidth);
        mWindow->rootLayer()->setBorderColor(frameColor());
        if (QWidget* host = mWindow->hostWidget()) {
            if (mTakesKeyboard) {
                host->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
            } else {
                host->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
                host->setAttribute(Qt::WA_ShowWithoutActivating);
            }
        }
    }
    mWindow->setContentSize(mContentSize);
    mWindow->setContentView(content->view());
    mPositioningWindow = positioning;
    mPositioningLife = positioning->lifeToken();
    const Rect inBase = positioningView.convertRectToView(rect, nullptr);
    mAnchorOnScreen = positioning->convertRectToScreen(inBase);
    mEdge = preferredEdge;
    place();
    std::weak_ptr<Popover> weak = weak_from_this();
    mPositioningMonitor = positioning->addEventMonitor([weak](const Event& event) {
        const auto self = weak.lock();
        return self && self->positioningEvent(event);
    });
    mOwnMonitor = mWindow->addEventMonitor([weak](const Event& event) {
        const auto self = weak.lock();
        return self && self->popoverEvent(event);
    });
    mKeyObserver = Window::addKeyWindowObserver([weak](Window& key) {
        const auto self = weak.lock();
        if (!self || !self->mShown)
            return;
        if (&key == self->mPositioningWindow && MediaClock::now() <= self->mReclaimKeysUntil)
            self->reclaimKeys();
        else if (self->mBehavior != Behavior::ApplicationDefined && &key != self->mWindow.get() &&
                 &key != self->mPositioningWindow)
            self->closeShown(false);
    });
    mShown = true;
    mShownAt = MediaClock::now();
    mReclaimKeysUntil = -1;
    mSwallowingRelease = false;
    shareShortcuts();
    if (mTakesKeyboard)
        mWindow->makeKeyAndOrderFront();
    else
        mWindow->orderFront();
    if (const auto delegate = mDelegate.lock())
        delegate->popoverDidShow(*this);
}

bool Popover::positioningEvent(const Event& event)
{
    if (!mShown || mBehavior == Behavior::ApplicationDefined)
        return false;
    if (mSwallowingRelease && event.type() == Event::Type::LeftMouseUp) {
        mSwallowingRelease = false;
        return true;
    }
    // The second click of a double click whose first click showed the popover is not a click
    // elsewhere: it does nothing, and the popover stays.
    if (event.type() == Event::Type::LeftMouseDown && event.clickCount() > 1 &&
        event.timestamp() - mShownAt <= doubleClickInterval()) {
        mSwallowingRelease = true;
        // The window system gives the click's window the keys, before or soon after the
        // press: the popover takes them back.
        if (mTakesKeyboard) {
            mReclaimKeysUntil = event.timestamp() + doubleClickInterval();
            if (mPositioningWindow->isKeyWindow())
                reclaimKeys();
        }
        return true;
    }
    if (isPress(event) || isEscape(event)) {
        performClose();
        return true;
    }
    return false;
}

bool Popover::popoverEvent(const Event& event)
{
    if (!mShown || mBehavior == Behavior::ApplicationDefined || !isEscape(event))
        return false;
    performClose();
    return true;
}

void Popover::reclaimKeys()
{
    // On a later turn: the window system is still telling of the other window's activation.
    std::weak_ptr<Popover> weak = weak_from_this();
    MainQueue::post([weak] {
        const auto self = weak.lock();
        if (self && self->mShown && self->mWindow)
            self->mWindow->makeKeyWindow();
    });
}

void Popover::shareShortcuts()
{
    // The key equivalents of the window's menus (the actions its menu bar gave its host) work
    // while the popover has the keyboard, for that window.
    if (!mTakesKeyboard || !mWindow || !mWindow->hasHostWidget() || !mPositioningWindow ||
        !mPositioningWindow->hasHostWidget())
        return;
    QWidget* own = mWindow->hostWidget();
    for (QAction* action : mPositioningWindow->hostWidget()->actions()) {
        if (action->shortcut().isEmpty())
            continue;
        own->addAction(action);
        mSharedShortcuts.emplace_back(action);
    }
}

void Popover::withdrawShortcuts()
{
    if (mWindow && mWindow->hasHostWidget()) {
        for (const QPointer<QAction>& action : mSharedShortcuts) {
            if (action)
                mWindow->hostWidget()->removeAction(action);
        }
    }
    mSharedShortcuts.clear();
}

void Popover::detachMonitors()
{
    if (mPositioningMonitor && mPositioningWindow && !mPositioningLife.expired())
        mPositioningWindow->removeEventMonitor(mPositioningMonitor);
    if (mOwnMonitor && mWindow)
        mWindow->removeEventMonitor(mOwnMonitor);
    if (mKeyObserver)
        Window::removeKeyWindowObserver(mKeyObserver);
    mPositioningMonitor = 0;
    mOwnMonitor = 0;
    mKeyObserver = 0;
}

void Popover::performClose()
{
    closeShown(true);
}

void Popover::closeShown(bool keysBack)
{
    if (!mShown)
        return;
    // Kept alive until the delegate has heard of the closing.
    const std::shared_ptr<Popover> keep = std::move(mSelfWhileShown);
    mShown = false;
    detachMonitors();
    withdrawShortcuts();
    if (mWindow) {
        mWindow->close();
        mWindow->setContentView(nullptr);
    }
    if (keysBack && mTakesKeyboard && mPositioningWindow && !mPositioningLife.expired())
        mPositioningWindow->makeKeyWindow();
    mPositioningWindow = nullptr;
    if (const auto delegate = mDelegate.lock())
        delegate->popoverDidClose(*this);
    mShownContent.reset();
}

} // namespace corvex
