#include "overview/GraphScrollView.h"

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/NoteHoverUtility.h"
#include "overview/GraphTileFactory.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Window.h"
#include "toolkit/TapPanSwipeDetector.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr TrackingArea::Options kOverviewTrackingOptions =
    TrackingArea::MouseEnteredAndExited | TrackingArea::MouseMoved | TrackingArea::CursorUpdate |
    TrackingArea::ActiveInActiveApp;

// Scrolling points per wheel notch: a notch scrolls 10 points, and 100 points double nothing
// but zoom by 2, so one notch is a 10 % step.
constexpr double kZoomPointsPerUnit = 100.0;
constexpr float kNoteHoverMinimumZoom = 0.1f;

const QString kZoomIn = QStringLiteral("qvZoomIn:");
const QString kZoomOut = QStringLiteral("qvZoomOut:");
const QString kActualSize = QStringLiteral("qvActualSize:");

bool zoomModifier(const Event& event)
{
    // Ctrl arrives as the Command flag and Super as the Control flag; either zooms.
    return (event.modifierFlags() & (Event::CommandKeyMask | Event::ControlKeyMask)) != 0;
}

} // namespace

// ---- Mouse

void GraphScrollView::mouseDown(const Event& event)
{
    BaseView::mouseDown(event);
    mTapPanSwipeDetector->mouseDown(event);
}

void GraphScrollView::mouseDragged(const Event& event)
{
    BaseView::mouseDragged(event);
    mTapPanSwipeDetector->mouseDragged(event);
}

void GraphScrollView::mouseUp(const Event& event)
{
    BaseView::mouseUp(event);
    mTapPanSwipeDetector->mouseUp(event);
}

void GraphScrollView::mouseMoved(const Event& event)
{
    cursorUpdate(event);
    BaseView::mouseMoved(event);
}

void GraphScrollView::scrollWheel(const Event& event)
{
    if (zoomModifier(event)) {
        const float factor = float(event.scrollingDeltaY() / kZoomPointsPerUnit + 1);
        zoomInCenter(std::clamp(factor, 0.5f, 2.0f));
        return;
    }
    addSomePan(Point(event.scrollingDeltaX(), event.scrollingDeltaY()));
}

void GraphScrollView::magnifyWithEvent(const Event& event)
{
    zoomInCenter(std::clamp(float(event.magnification() + 1), 0.5f, 2.0f));
}

void GraphScrollView::keyDown(const Event& event)
{
    if (event.modifierFlags() & Event::CommandKeyMask) {
        const QString key = event.charactersIgnoringModifiers();
        // "=" shares its key with "+" on most layouts: both zoom in.
        if (key == QStringLiteral("+") || key == QStringLiteral("=")) {
            qvZoomIn();
            return;
        }
        if (key == QStringLiteral("-")) {
            qvZoomOut();
            return;
        }
        if (key == QStringLiteral("9")) {
            qvActualSize();
            return;
        }
    }
    BaseView::keyDown(event);
}

void GraphScrollView::updateTrackingAreas()
{
    if (mTrackingArea)
        removeTrackingArea(mTrackingArea.get());
    mTrackingArea = TrackingArea::create(bounds(), kOverviewTrackingOptions, this);
    addTrackingArea(mTrackingArea);
    BaseView::updateTrackingAreas();
}

// ---- Cursor and note hover

void GraphScrollView::closeNoteHover()
{
    if (mNoteHoverUtility)
        mNoteHoverUtility->closeIfOpen();
}

void GraphScrollView::cursorUpdate(const Event& event)
{
    // A screen over the overview has the pointer: its own cursor and no note from below.
    if (DocumentWindowServices::isCoveredByAnotherScreen(*this))
        return;
    const Point viewPoint = convertPointFromView(event.locationInWindow(), nullptr);
    const Point content = contentPoint(viewPoint);
    const qint64 node = mGraphTileFactory ? mGraphTileFactory->nodeIndexAtPoint(content) : -1;
    const IdeaPtr idea = node >= 0 ? mGraphTileFactory->graph().idea(std::size_t(node)) : nullptr;
    std::optional<QString> note;
    if (node < 0) {
        Cursor::openHandCursor().set();
    } else if (mZoomScale > kNoteHoverMinimumZoom && idea && mGraphTileFactory->noteAtPoint(content, node)) {
        Cursor::contextualMenuCursor().set();
        note = idea->note();
    } else {
        Cursor::pointingHandCursor().set();
    }
    if (mNoteHoverUtility)
        mNoteHoverUtility->observeCursorHoveringOverNoteOfIdea(
            note, node >= 0 ? mGraphTileFactory->graph().identifier(std::size_t(node)) : QString(),
            viewPoint);
}

std::shared_ptr<View> GraphScrollView::hostViewForNoteHoverDisplay()
{
    return view();
}

bool GraphScrollView::isNoteHoverDisplayAllowed() const
{
    const Window* shownIn = window();
    return shownIn && shownIn->isKeyWindow() && mTrackingArea && mTrackingArea->isMouseInside() &&
           !DocumentWindowServices::isCoveredByAnotherScreen(*this);
}

// ---- Taps and pans (window points and vectors, y up; this view is flipped)

void GraphScrollView::panGestureStarted(Point)
{
    stopAnimation();
}

void GraphScrollView::panGestureUpdate(Point movement)
{
    addSomePan(Point(movement.x, -movement.y));
}

void GraphScrollView::panGestureDone(Point movement, Point swipe)
{
    addSomePan(Point(movement.x, -movement.y));
    handlePanDone(Point(swipe.x, -swipe.y));
}

void GraphScrollView::singleTap(Point point)
{
    if (!mGraphTileFactory)
        return;
    const IdeaPtr idea = mGraphTileFactory->ideaAtPoint(contentPoint(convertPointFromView(point, nullptr)));
    if (idea)
        openOrFocusIdea(idea);
}

void GraphScrollView::doubleTap(Point) {}

// ---- Context menu

std::shared_ptr<MenuItem> GraphScrollView::pickItem(const QString& title, const IdeaPtr& idea, bool newWindow)
{
    std::weak_ptr<GraphScrollView> weak = sharedAs<GraphScrollView>();
    auto item = MenuItem::create(title, [weak, idea, newWindow](MenuItem&) {
        const auto self = weak.lock();
        if (!self || !idea)
            return;
        if (!newWindow) {
            self->openOrFocusIdea(idea);
        } else if (const auto delegate = self->mDelegate.lock()) {
            delegate->openIdeaInNewWindow(idea);
        }
    });
    item->setRepresentedObject(idea);
    return item;
}

std::shared_ptr<MenuItem> GraphScrollView::zoomItem(const QString& title, const QString& actionId,
                                                    const QString& key)
{
    std::weak_ptr<GraphScrollView> weak = sharedAs<GraphScrollView>();
    auto item = MenuItem::create(title, [weak, actionId](MenuItem& chosen) {
        if (const auto self = weak.lock())
            self->performAction(actionId, chosen);
    });
    item->setKeyEquivalent(key);
    item->setKeyEquivalentModifierMask(Event::CommandKeyMask);
    item->setEnabled(validateAction(actionId, *item));
    return item;
}

std::shared_ptr<Menu> GraphScrollView::menuForEvent(const Event& event)
{
    const Point viewPoint = convertPointFromView(event.locationInWindow(), nullptr);
    const IdeaPtr idea =
        mGraphTileFactory ? mGraphTileFactory->ideaAtPoint(contentPoint(viewPoint)) : nullptr;
    auto menu = Menu::create(QString());
    const auto delegate = mDelegate.lock();
    if (idea && idea->isLink()) {
        menu->addItem(pickItem(QStringLiteral("Follow link"), idea, false));
    } else {
        menu->addItem(pickItem(QStringLiteral("Open"), idea, false));
        if (delegate && delegate->canOpenIdeaInNewWindow())
            menu->addItem(pickItem(QStringLiteral("Open in New Window"), idea, true));
    }
    menu->addItem(MenuItem::separator());
    menu->addItem(zoomItem(QStringLiteral("Zoom In"), kZoomIn, QStringLiteral("+")));
    menu->addItem(zoomItem(QStringLiteral("Zoom Out"), kZoomOut, QStringLiteral("-")));
    menu->addItem(zoomItem(QStringLiteral("Zoom to Fit"), kActualSize, QStringLiteral("9")));
    return menu;
}

// ---- Actions

bool GraphScrollView::respondsToAction(const QString& actionId) const
{
    return actionId == kZoomIn || actionId == kZoomOut || actionId == kActualSize;
}

bool GraphScrollView::validateAction(const QString& actionId, const MenuItem&)
{
    if (actionId == kZoomIn)
        return tentativeZoom(1.5f) != mZoomScale;
    if (actionId == kZoomOut)
        return tentativeZoom(0.75f) != mZoomScale;
    if (actionId == kActualSize) {
        if (!mGraphTileFactory)
            return false;
        const Size content = mGraphTileFactory->contentSize();
        const bool centred = mDataCenter.x == content.width / 2 && mDataCenter.y == content.height / 2;
        return !centred || tentativeZoom(-10000.0f) != mZoomScale;
    }
    return true;
}

void GraphScrollView::performAction(const QString& actionId, MenuItem&)
{
    if (actionId == kZoomIn)
        qvZoomIn();
    else if (actionId == kZoomOut)
        qvZoomOut();
    else if (actionId == kActualSize)
        qvActualSize();
}

} // namespace corvex
