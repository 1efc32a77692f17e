// Drag and drop on the mind-map screen: starting drags from a planet or the dock, the drop
// target under the pointer (a planet or slot of the map, the dock, the delete area), the
// choices a drop offers and carrying out the chosen one, and the result code every drop ends
// with.

#include "graphics/Geometry.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/DragInfoForIdea.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarFocusObject.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "platform/core/Log.h"
#include "storage/PersistenceController.h"

#include <utility>

namespace corvex {

namespace {

// The centre of a view's frame, and the frame, in window base coordinates.
Rect dropFrameInWindow(const View& view)
{
    if (const View* superview = view.superview())
        return superview->convertRectToView(view.frame(), nullptr);
    return view.frame();
}

bool dropNearView(const View* view, Point locationInWindow)
{
    if (!view || view->isHidden())
        return false;
    const View* superview = view->superview();
    if (!superview)
        return false;
    const Point p = superview->convertPointFromView(locationInWindow, nullptr);
    const Rect frame = view->frame();
    return Geometry::distanceFrom(p, Point(frame.midX(), frame.midY())) <
           float(SolarSystemViewController::DropAreaGravityRadius);
}

} // namespace

// ---- Starting drags

void SolarSystemViewController::startDragForIdea(const QString& ideaIdentifier, const Rect& fromRect,
                                                 const Event& event)
{
    DocumentWindowServices* window = windowServices();
    const IdeaPtr idea = ideaForIdea(ideaIdentifier);
    if (!window || !idea || !mSolarSystem || !mDoc || screenOccupied())
        return;
    DragTarget target;
    target.object = OwnPlanetTarget;
    target.area = mSolarSystem->convertRectToView(fromRect, nullptr);
    const std::shared_ptr<SimpleIdeaView> image = SimpleIdeaView::create(3);
    image->updateWithIdea(idea.get(), mDoc->docIdentifier());
    window->startDragForEvent(event, *mSolarSystem, image, target);
}

void SolarSystemViewController::dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                                             const Event& event)
{
    DocumentWindowServices* window = windowServices();
    View* from = mSolarSystem ? static_cast<View*>(mSolarSystem.get()) : viewIfLoaded().get();
    // No drag starts without a dock to come back to, nor while the screen is busy or a drop
    // made here is still being decided (docking mode lasts until it ends): the window would
    // refuse it, and the refusal's end would end that decision too.
    const bool dropUnderWay = dropBeingDecided() || (mSolarSystem && mSolarSystem->dockingMode());
    if (!window || !ideaView || !mDockAreaView || !from || dropUnderWay || screenOccupied()) {
        // The dock gave its view up: show the window's docked idea again.
        updateStatusDueToPossibleDockingUpdate();
        return;
    }
    DragTarget target;
    target.object = DragTarget::Dock;
    target.area = dropFrameInWindow(*mDockAreaView);
    target.gravityRadius = DropAreaGravityRadius;
    window->startDragForEvent(event, *from, ideaView, target);
}

// ---- The window's questions

bool SolarSystemViewController::dragOperationStarted(const DragInfo& info)
{
    forgetIdeaBeingAccepted();
    if (mSolarSystem) {
        mSolarSystem->stopFocusing();
        mSolarSystem->setDockingMode(true);
    }
    if (mDockAreaView)
        mDockAreaView->setHidden(false);
    if (mDeleteAreaView)
        mDeleteAreaView->setHidden(info.source != DragInfo::Source::ThisWindow);
    if (info.objectType == DragInfo::ObjectType::IdeaObject)
        updateShadowStatusForIdea(DragInfoForIdea::ideaIdentifierOf(info),
                                  DragInfoForIdea::docIdentifierOf(info));
    return true;
}

DragTarget SolarSystemViewController::dragOperationUpdate(const DragInfo& info)
{
    DragTarget target;
    // Only the map on screen takes drops (not while the overview is shown).
    if (mSolarSystem && !mSolarSystem->isHiddenOrHasHiddenAncestor() && mSolarSystemState == StateMindMap) {
        mSolarSystem->updateFocusBasedOnPoint(info.location, nullptr);
        if (const std::shared_ptr<SolarFocusObject>& focus = mSolarSystem->currentFocusObject()) {
            target.object = MindMapFocusTarget;
            target.area = mSolarSystem->convertRectToView(focus->focusRect(), nullptr);
        }
    }
    if (dropNearView(mDockAreaView.get(), info.location)) {
        target.object = DragTarget::Dock;
        target.area = dropFrameInWindow(*mDockAreaView);
        target.gravityRadius = DropAreaGravityRadius;
    }
    // Tested last so that it wins over the dock; a hidden delete area (a drag from elsewhere)
    // takes nothing.
    if (dropNearView(mDeleteAreaView.get(), info.location)) {
        const Rect frame = dropFrameInWindow(*mDeleteAreaView);
        target.object = DragTarget::DeleteArea;
        target.area = frame.insetBy(frame.width() * 0.2, frame.height() * 0.2);
        target.gravityRadius = DropAreaGravityRadius;
    }
    return target;
}

void SolarSystemViewController::dragOperationExited()
{
    if (mSolarSystem) {
        mSolarSystem->stopFocusing();
        mSolarSystem->setDockingMode(false);
    }
    if (mDeleteAreaView)
        mDeleteAreaView->setHidden(true);
}

bool SolarSystemViewController::canDecideDrop() const
{
    // Not while the screen is busy with something else (an editor, an alert, a switch) or
    // without a tree to put the drop in.
    return !screenOccupied() && mDoc && mRealIdea;
}

void SolarSystemViewController::dropRefused()
{
    handleDragEndWithResult(DragResult::NotAccepted);
}

void SolarSystemViewController::dropTookIdeaOutOfDock()
{
    ScreenDrops::dropTookIdeaOutOfDock();
    updateStatusDueToPossibleDockingUpdate();
}

bool SolarSystemViewController::acceptDropAt(const DragTarget& target)
{
    if (target.object == DragTarget::Dock) {
        acceptDropIntoDock();
        return true;
    }
    if (target.object != MindMapFocusTarget)
        return false;
    if (!mSolarSystem || !mSolarSystem->currentFocusObject()) {
        Log::assertionFailure(
            __LINE__,
            "-[SolarSystemViewController dragOperationEnded:acceptIdea:fromDocument:onCompletion:]");
        handleDragEndWithResult(DragResult::NotAccepted);
        return true;
    }
    acceptDraggedIdeaToSolarSystem();
    return true;
}

bool SolarSystemViewController::offerDeletionAt(const DragTarget&)
{
    if (!mDeleteAreaView || !mDeleteAreaView->superview())
        return false;
    offerDropChoices({DropChoice::Delete}, mDeleteAreaView->frame(), *mDeleteAreaView->superview());
    return true;
}

void SolarSystemViewController::acceptDropIntoDock()
{
    DocumentWindowServices* window = windowServices();
    const IdeaPtr idea = ideaBeingAccepted();
    const QString docIdentifier = ideaBeingAcceptedDocIdentifier();
    if (!window) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    // An idea of a cloud document other than this one waits in the dock as a temporary copy.
    if (docIdentifier != mDoc->docIdentifier() &&
        IdeaDocument::locationFromIdentifier(docIdentifier) != IdeaDocument::TemporaryLocation) {
        std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
        const std::uint64_t serial = dropSerial();
        PersistenceController::singleton().importAndStoreIdea(
            idea, docIdentifier, [weak, serial](const IdeaPtr& copy, const QString& copyDocIdentifier) {
                auto self = weak.lock();
                if (!self || !self->isCurrentDrop(serial))
                    return;
                DocumentWindowServices* services = self->windowServices();
                if (!copy || copyDocIdentifier.isEmpty() || !services) {
                    self->handleDragEndWithResult(DragResult::NotAccepted);
                    return;
                }
                services->setDockedIdea(copy, copyDocIdentifier);
                if (self->mDockAreaView)
                    self->mDockAreaView->takeIdeaInside(copy.get(), copyDocIdentifier);
                self->handleDragEndWithResult(DragResult::Copied);
            });
        return;
    }
    window->setDockedIdea(idea, docIdentifier);
    if (mDockAreaView)
        mDockAreaView->takeIdeaInside(idea.get(), docIdentifier);
    handleDragEndWithResult(DragResult::Copied);
}

// ---- Choices

void SolarSystemViewController::acceptDraggedIdeaToSolarSystem()
{
    const std::shared_ptr<SolarFocusObject> focus =
        mSolarSystem ? mSolarSystem->currentFocusObject() : nullptr;
    const IdeaPtr idea = ideaBeingAccepted();
    if (!focus || !idea || !mRealIdea || !mRootIdea) {
        Log::assertionFailure(__LINE__, "-[SolarSystemViewController acceptDraggedIdeaToSolarSystem]");
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    const QString& from = ideaBeingAcceptedDocIdentifier();
    const bool sameDocument = from == mDoc->docIdentifier();
    std::vector<DropChoice> choices;
    if (focus->focusType() == SolarFocusObject::PlanetFocus) {
        const IdeaPtr child = childIdeaAtFocusIndex(focus->index());
        if (!child) {
            Log::assertionFailure(__LINE__, "-[SolarSystemViewController acceptDraggedIdeaToSolarSystem]");
            handleDragEndWithResult(DragResult::NotAccepted);
            return;
        }
        if (child->identifier() == idea->identifier() && sameDocument) {
            // Dropped back onto itself.
            handleDragEndWithResult(DragResult::Copied);
            return;
        }
        if (child->isLink()) {
            handleDragEndWithResult(DragResult::NotAccepted);
            return;
        }
        if (!from.isNull() && !mRealIdea->couldMyChildBeDescendantOfIdeaWithIdentifier(idea->identifier()))
            choices.push_back(DropChoice::MoveInside);
        choices.push_back(DropChoice::CopyInside);
    } else if (focus->focusType() == SolarFocusObject::AdderFocus) {
        const std::int64_t slot = safeInsertionIndexFromFocusIndex(focus->index());
        const std::int64_t count = std::int64_t(mRealIdea->ideas().size());
        const std::int64_t childIndex = indexOfIdeaWithIdentifier(idea->identifier());
        const bool besideItself = sameDocument && childIndex != NotFound &&
                                  isInsertionIndexAttachedToIndex(slot, childIndex, count);
        if (!from.isNull() &&
            (!sameDocument ||
             (!mRealIdea->couldMyChildBeDescendantOfIdeaWithIdentifier(idea->identifier()) && !besideItself)))
            choices.push_back(DropChoice::MoveHere);
        choices.push_back(DropChoice::CopyHere);
        if (!from.isNull() && sameDocument && !idea->isLink() &&
            mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier()) && childIndex == NotFound)
            choices.push_back(DropChoice::CreateLink);
    } else {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    if (!viewIfLoaded()) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    offerDropChoices(choices, mSolarSystem->convertRectToView(focus->focusRect(), viewIfLoaded().get()),
                     *viewIfLoaded());
}

void SolarSystemViewController::copyPasteAction(std::optional<DropChoice> choice)
{
    if (!dropChoiceCounts(choice))
        return;
    // From the choice until the drop ends the screen is held: its edit may answer later.
    mDropHoldsScreen = !screenOccupied();
    occupyScreen(EditUnderWayOperation);
    if (*choice == DropChoice::Delete) {
        const bool ours = mDoc && ideaBeingAcceptedDocIdentifier() == mDoc->docIdentifier();
        if (!ours || !deleteIdeaWithIdentifier(ideaBeingAccepted()->identifier(), endDropOnOutcome()))
            handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    const std::shared_ptr<SolarFocusObject> focus =
        mSolarSystem ? mSolarSystem->currentFocusObject() : nullptr;
    if (!focus || !mDoc) {
        Log::assertionFailure(__LINE__, "-[SolarSystemViewController copyPasteActionWithTitle:]");
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    if (*choice == DropChoice::CreateLink) {
        performDropChoice(*choice, focus);
        return;
    }
    // The idea's pictures come along first; without them nothing is done.
    const DropChoice chosen = *choice;
    copyAttachmentsThen(mDoc->location(), [this, chosen, focus] { performDropChoice(chosen, focus); });
}

void SolarSystemViewController::performDropChoice(DropChoice choice,
                                                  const std::shared_ptr<SolarFocusObject>& focus)
{
    const IdeaPtr idea = ideaBeingAccepted();
    const QString from = ideaBeingAcceptedDocIdentifier();
    const quint64 type = focus->focusType();
    const std::int64_t index = focus->index();
    const std::int64_t slot = safeInsertionIndexFromFocusIndex(index);
    const bool fromOtherDocument = !mDoc || from != mDoc->docIdentifier();
    const IdeaPtr child = childIdeaAtFocusIndex(index);

    // Every edit ends the drop with its outcome: Moved, Copied (also a move from another
    // document whose source kept the idea) or, refused, not accepted.
    switch (choice) {
    case DropChoice::CopyHere:
        if (type == SolarFocusObject::AdderFocus)
            return copyIdeaAfter(idea, slot, endDropOnOutcome());
        break;
    case DropChoice::CreateLink:
        if (type == SolarFocusObject::AdderFocus)
            return createLinkToIdea(idea, slot, endDropOnOutcome());
        break;
    case DropChoice::CopyInside:
        if (type == SolarFocusObject::ParentFocus)
            return copyToParentTheIdea(idea, endDropOnOutcome());
        if (type == SolarFocusObject::PlanetFocus && child)
            return copyIdeaInside(idea, index, endDropOnOutcome());
        break;
    case DropChoice::MoveHere:
        if (type == SolarFocusObject::AdderFocus) {
            if (child && child->identifier() == idea->identifier() && !fromOtherDocument)
                return handleDragEndWithResult(DragResult::Copied);
            return moveIdeaAfter(idea, from, slot, endDropOnOutcome());
        }
        break;
    case DropChoice::MoveInside:
        if (type == SolarFocusObject::ParentFocus)
            return moveToParentTheIdea(idea, from, endDropOnOutcome());
        if (type == SolarFocusObject::PlanetFocus && child)
            return moveIdeaInside(idea, from, index, endDropOnOutcome());
        break;
    case DropChoice::Delete:
        break;
    }
    handleDragEndWithResult(DragResult::NotAccepted);
}

// ---- Ending drops and drags

void SolarSystemViewController::handleDragEndWithResult(DragResult result)
{
    if (std::exchange(mDropHoldsScreen, false))
        releaseEditHold();
    forgetIdeaBeingAccepted();
    if (mSolarSystem) {
        mSolarSystem->stopFocusing();
        mSolarSystem->setDockingMode(false);
    }
    updateStatusDueToPossibleDockingUpdate();
    if (mDeleteAreaView)
        mDeleteAreaView->setHidden(true);
    runAfterAcceptance(result);
}

void SolarSystemViewController::dragOperationEndedWithResult(const DragInfo& info, DragResult result)
{
    abandonDrop();
    if (info.tookIdeaOutOfDock(result)) {
        if (DocumentWindowServices* window = windowServices())
            window->removeDockedIdea();
    }
    // One of our planets was taken by another screen, which may have changed the tree this
    // screen shares (the same document in another window): show the idea again from the tree.
    // A move into another document took it out through this screen's own editing service.
    if (result != DragResult::NotAccepted && info.returnTarget.object == OwnPlanetTarget && mDoc &&
        mDoc->idea() && !mDrillingUpOrDown)
        modelDidChangeWithNewRootIdea(mDoc->idea());
    handleDragEndWithResult(result);
}

// ---- Dock and shadows

void SolarSystemViewController::updateStatusDueToPossibleDockingUpdate()
{
    refreshDockFromWindow();
}

void SolarSystemViewController::updateShadowStatusForIdea(const QString& ideaIdentifier, const QString&)
{
    if (!mSolarSystem)
        return;
    if (ideaIdentifier.isNull()) {
        mSolarSystem->removeAllShadows();
        return;
    }
    mSolarSystem->setShadowForIdeaAtIndex(indexOfIdeaWithIdentifier(ideaIdentifier));
}

// ---- Index helpers

IdeaPtr SolarSystemViewController::childIdeaAtFocusIndex(std::int64_t index) const
{
    if (!mRealIdea || index < 0 || index >= std::int64_t(mRealIdea->ideas().size()))
        return nullptr;
    return mRealIdea->ideas()[std::size_t(index)];
}

std::int64_t SolarSystemViewController::safeInsertionIndexFromFocusIndex(std::int64_t index) const
{
    const std::int64_t count = mRealIdea ? std::int64_t(mRealIdea->ideas().size()) : 0;
    if (count == 0 || index > count)
        return 0;
    return index;
}

bool SolarSystemViewController::isInsertionIndexAttachedToIndex(std::int64_t slot, std::int64_t child,
                                                                std::int64_t count)
{
    if (count <= 0)
        return false;
    const auto mod = [count](std::int64_t value) { return ((value % count) + count) % count; };
    return mod(slot) == mod(child) || mod(slot + 1) == mod(child);
}

} // namespace corvex
