// SolarSystem: rotation, mouse and keyboard input, cursor and note hover.

#include "graphics/Geometry.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/NoteHoverUtility.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarRotationAnimator.h"
#include "mindmap/SolarRotationGestureRecognizer.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemDelegate.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Menu.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Window.h"
#include "toolkit/LayerExtensions.h"
#include "toolkit/LongTapAndDragDetector.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Entered and exited, moved, cursor update, active in the active application.
constexpr TrackingArea::Options kSolarTrackingOptions =
    TrackingArea::MouseEnteredAndExited | TrackingArea::MouseMoved | TrackingArea::CursorUpdate |
    TrackingArea::ActiveInActiveApp;

} // namespace

// ---- Rotation ----

bool SolarSystem::shouldIgnoreRotationStart() const
{
    return ideaViewCount() == 0 || mAnimating;
}

void SolarSystem::handleBeginRotationGesture(SolarRotationGestureRecognizer&, float)
{
    if (shouldIgnoreRotationStart()) {
        mRotationGestureAccepted = false;
        return;
    }
    // A spin still running from an earlier flick would fight the new drag over the offset.
    if (mSolarRotationAnimator)
        mSolarRotationAnimator->cancel();
    mSolarRotationAnimator = SolarRotationAnimator::create(mCurrentAngle);
    mSolarRotationAnimator->setDelegate(sharedAs<SolarSystem>());
    mRotationGestureAccepted = true;
}

void SolarSystem::handleChangeRotationGesture(SolarRotationGestureRecognizer&, float rotationAngle)
{
    if (!mRotationGestureAccepted || !mSolarRotationAnimator)
        return;
    mSolarRotationAnimator->addAngle(rotationAngle);
}

void SolarSystem::handleEndRotationGesture(SolarRotationGestureRecognizer&)
{
    if (!mRotationGestureAccepted)
        return;
    mRotationGestureAccepted = false;
    rotationEnded();
}

void SolarSystem::handleEndRotationGesture(SolarRotationGestureRecognizer&, float angularVelocity)
{
    if (!mRotationGestureAccepted || !mSolarRotationAnimator)
        return;
    mRotationGestureAccepted = false;
    // Without a usable speed there is nothing to run on: the release stops the orbit.
    if (!std::isfinite(angularVelocity) || angularVelocity == 0.0f) {
        rotationEnded();
        return;
    }
    mSolarRotationAnimator->addAngularRotationWithVelocity(angularVelocity);
}

Point SolarSystem::orbitVisualCenter() const
{
    return centralCentre();
}

Point SolarSystem::convertPointFromWindow(Point windowPoint) const
{
    return convertPointFromView(windowPoint, nullptr);
}

void SolarSystem::angleUpdate(float angle)
{
    if (!mSolarRotationAnimator || !std::isfinite(angle))
        return;
    mCurrentAngle = angle;
    updateView();
}

void SolarSystem::rotationEnded()
{
    stopAnimations();
    updateView();
}

void SolarSystem::stopAnimations()
{
    if (mSolarRotationAnimator) {
        mSolarRotationAnimator->cancel();
        mSolarRotationAnimator.reset();
    }
    mAnimating = false;
}

// ---- Hit testing ----

std::int64_t SolarSystem::ideaViewAt(Point pointInView) const
{
    // From the top of the stack down, covered planets (which have no layer) included.
    const std::int64_t n = ideaViewCount();
    const float common = planetRadius();
    for (std::int64_t k = n; k-- > 0;) {
        const std::int64_t i = (mStackLowest + k) % n;
        const auto& planet = mIdeaViews[std::size_t(i)];
        if (Geometry::distanceFrom(pointInView, planetCentre(i)) < (planet ? planet->radius() : common))
            return i;
    }
    return SolarLayout::kNotFound;
}

SolarSystem::Hit SolarSystem::viewAtPoint(Point pointInWindow) const
{
    const Point p = convertPointFromView(pointInWindow, nullptr);
    if (const std::int64_t planet = ideaViewAt(p); planet != SolarLayout::kNotFound)
        return {Hit::Kind::Planet, planet};
    if (mParentView && mParentView->hitTest(p))
        return {Hit::Kind::Parent, SolarLayout::kNotFound};
    if (mCentralView && mCentralView->hitTest(p))
        return {Hit::Kind::Central, SolarLayout::kNotFound};
    for (std::int64_t i = 0; i < ideaAdderViewCount(); ++i)
        if (adderContains(i, p))
            return {Hit::Kind::Adder, i};
    return {};
}

// ---- Mouse and keys ----

void SolarSystem::mouseDown(const Event& event)
{
    const auto keepAlive = sharedAs<SolarSystem>();
    BaseView::mouseDown(event);
    if (mUserInteractionDisabled)
        return;
    if (viewAtPoint(event.locationInWindow()).kind != Hit::Kind::Nothing)
        mLongTapAndDragDetector->mouseDown(event);
    mSolarRotationGestureRecognizer->mouseDown(event);
}

void SolarSystem::mouseDragged(const Event& event)
{
    const auto keepAlive = sharedAs<SolarSystem>();
    BaseView::mouseDragged(event);
    mLongTapAndDragDetector->mouseDragged(event);
    mSolarRotationGestureRecognizer->mouseDragged(event);
}

void SolarSystem::mouseUp(const Event& event)
{
    const auto keepAlive = sharedAs<SolarSystem>();
    BaseView::mouseUp(event);
    mLongTapAndDragDetector->mouseUp(event);
    mSolarRotationGestureRecognizer->mouseUp(event);
}

void SolarSystem::mouseMoved(const Event& event)
{
    cursorUpdate(event);
    BaseView::mouseMoved(event);
}

void SolarSystem::keyDown(const Event& event)
{
    if (event.charactersIgnoringModifiers() == QStringLiteral(" ")) {
        qvAddNewElement();
        return;
    }
    BaseView::keyDown(event);
}

std::shared_ptr<Menu> SolarSystem::menuForEvent(const Event& event)
{
    const auto delegate = mDelegate.lock();
    if (!delegate)
        return nullptr;
    const Hit hit = viewAtPoint(event.locationInWindow());
    switch (hit.kind) {
    case Hit::Kind::Planet:
        return delegate->onRightClickAtIdea(planetIdentifier(hit.index));
    case Hit::Kind::Central:
        return delegate->onRightClickAtIdea(mCentralView->ideaIdentifier());
    case Hit::Kind::Parent: {
        const auto& parent = mParentView->objectTag();
        return parent ? delegate->onRightClickAtIdea(parent->identifier()) : nullptr;
    }
    default:
        return nullptr;
    }
}

void SolarSystem::updateTrackingAreas()
{
    if (mTrackingArea)
        removeTrackingArea(mTrackingArea.get());
    mTrackingArea = TrackingArea::create(bounds(), kSolarTrackingOptions, this);
    addTrackingArea(mTrackingArea);
    BaseView::updateTrackingAreas();
}

// ---- Cursor and note hover ----

bool SolarSystem::coveredByAnotherScreen() const
{
    return DocumentWindowServices::isCoveredByAnotherScreen(*this);
}

void SolarSystem::observeNote(const std::optional<QString>& note, const QString& ideaIdentifier,
                              Point viewPoint)
{
    if (mNoteHoverUtility)
        mNoteHoverUtility->observeCursorHoveringOverNoteOfIdea(note, ideaIdentifier, viewPoint);
}

void SolarSystem::cursorUpdate(const Event& event)
{
    if (coveredByAnotherScreen())
        return;
    const Point p = convertPointFromView(event.locationInWindow(), nullptr);
    const Hit hit = viewAtPoint(event.locationInWindow());
    switch (hit.kind) {
    case Hit::Kind::Nothing:
        observeNote(std::nullopt, QString(), p);
        if (mSolarRotationGestureRecognizer->mightRotateDueToEvent(event))
            Cursor::openHandCursor().set();
        else
            Cursor::arrowCursor().set();
        return;
    case Hit::Kind::Planet: {
        const PlanetLayer& planet = *ideaViewAtIndex(hit.index);
        const Point local = p - planet.frame().origin + planet.bounds().origin;
        if (planet.hitsNote(local) && planet.note()) {
            Cursor::contextualMenuCursor().set();
            observeNote(planet.note(), planet.ideaIdentifier(), p);
        } else {
            Cursor::pointingHandCursor().set();
            observeNote(std::nullopt, QString(), p);
        }
        return;
    }
    case Hit::Kind::Central: {
        const Point local = mCentralView->convertPointFromView(event.locationInWindow(), nullptr);
        const std::optional<QString> note = mCentralView->note();
        if (mCentralView->hitsNote(local) && note) {
            Cursor::contextualMenuCursor().set();
            observeNote(note, mCentralView->ideaIdentifier(), p);
        } else {
            Cursor::pointingHandCursor().set();
            observeNote(std::nullopt, QString(), p);
        }
        return;
    }
    case Hit::Kind::Parent:
    case Hit::Kind::Adder:
        Cursor::pointingHandCursor().set();
        observeNote(std::nullopt, QString(), p);
        return;
    }
}

std::shared_ptr<View> SolarSystem::hostViewForNoteHoverDisplay()
{
    return shared_from_this();
}

bool SolarSystem::isNoteHoverDisplayAllowed() const
{
    const Window* shownIn = window();
    return shownIn && shownIn->isKeyWindow() && mTrackingArea && mTrackingArea->isMouseInside() &&
           !coveredByAnotherScreen();
}

// ---- Taps and drags (LongTapAndDragGestureDetectorDelegate) ----

std::shared_ptr<void> SolarSystem::startDragGestureIfPossible(Point point)
{
    if (mUserInteractionDisabled)
        return nullptr;
    const std::int64_t index = ideaViewAt(convertPointFromView(point, nullptr));
    const auto delegate = mDelegate.lock();
    if (index == SolarLayout::kNotFound || !delegate)
        return nullptr;
    const PlanetLayer& planet = *ideaViewAtIndex(index);
    const std::optional<Event>& last = mLongTapAndDragDetector->lastEvent();
    delegate->startDragForIdea(planet.ideaIdentifier(), planet.frame(), last ? *last : Event());
    return nullptr;
}

void SolarSystem::dragGestureUpdate(Point) {}

void SolarSystem::dragGestureDone(Point) {}

void SolarSystem::dragGestureCancel(Point) {}

void SolarSystem::singleTap(Point point)
{
    if (mUserInteractionDisabled)
        return;
    const Hit hit = viewAtPoint(point);
    switch (hit.kind) {
    case Hit::Kind::Planet:
        handleTapOnIdeaLayer(hit.index);
        return;
    case Hit::Kind::Central:
        handleTapOnCentralView();
        return;
    case Hit::Kind::Parent:
        handleTapOnParentIdeaView(*mParentView);
        return;
    case Hit::Kind::Adder:
        handleTapOnIdeaAdderView(*ideaAdderViewAtIndex(hit.index));
        return;
    case Hit::Kind::Nothing:
        return;
    }
}

void SolarSystem::doubleTap(Point point)
{
    if (mUserInteractionDisabled)
        return;
    const Hit hit = viewAtPoint(point);
    if (hit.kind == Hit::Kind::Planet)
        handleDoubleTapOnIdeaLayer(hit.index);
}

void SolarSystem::handleTapOnIdeaLayer(std::int64_t index)
{
    if (mDrillWaitingConfirmation || !validPlanetIndex(index))
        return;
    const QString identifier = planetIdentifier(index);
    auto token = std::make_shared<const int>(0);
    mDrillWaitingConfirmation = token;
    std::weak_ptr<SolarSystem> weak = sharedAs<SolarSystem>();
    // The token, not a cancelled timer, decides: a double click or another tap replaces or
    // clears it, and this block then does nothing.
    MainQueue::postAfter(kDrillConfirmationDelay, [weak, token, identifier] {
        const auto self = weak.lock();
        if (!self || self->mDrillWaitingConfirmation != token)
            return;
        self->mDrillWaitingConfirmation.reset();
        if (self->mUserInteractionDisabled)
            return;
        if (const auto delegate = self->mDelegate.lock())
            delegate->onDrillDownTo(identifier);
    });
}

void SolarSystem::handleDoubleTapOnIdeaLayer(std::int64_t index)
{
    mDrillWaitingConfirmation.reset();
    if (!validPlanetIndex(index))
        return;
    if (const auto delegate = mDelegate.lock())
        delegate->onEditIdea(planetIdentifier(index));
}

void SolarSystem::handleTapOnCentralView()
{
    mDrillWaitingConfirmation.reset();
    const QString identifier = mCentralView ? mCentralView->ideaIdentifier() : QString();
    if (const auto delegate = mDelegate.lock())
        delegate->onEditIdea(identifier);
}

void SolarSystem::handleTapOnParentIdeaView(ParentIdeaView&)
{
    mDrillWaitingConfirmation.reset();
    if (const auto delegate = mDelegate.lock())
        delegate->onDrillUp();
}

void SolarSystem::handleTapOnIdeaAdderView(IdeaAdderView& adder)
{
    stopAnimations();
    const std::int64_t index = indexOfAdder(&adder);
    if (index == SolarLayout::kNotFound)
        return;
    if (const auto delegate = mDelegate.lock())
        delegate->onAddNewIdeaAfterIndex(index, adder.frame());
}

void SolarSystem::qvAddNewElement()
{
    const std::int64_t n = ideaViewCount();
    const auto adder = ideaAdderViewAtIndex(std::max<std::int64_t>(std::min(ideaAdderViewCount(), n - 1), 0));
    if (const auto delegate = mDelegate.lock())
        delegate->onAddNewIdeaAfterIndex(n - 1, adder ? adder->frame() : Rect());
}

} // namespace corvex
