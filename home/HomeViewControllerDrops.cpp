// The home screen's side of window-level drag and drop: the target under a drag (a document
// or adder of the grid, the dock, the delete area), the choices a drop offers and carrying
// out the chosen one through the storage facade, and the result code every drop ends with.

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "platform/core/Log.h"
#include "storage/PersistenceController.h"

#include <utility>

namespace corvex {

namespace {

Rect homeDropBoundsInWindow(const View& view)
{
    return view.convertRectToView(view.bounds(), nullptr);
}

Rect homeDropInset(const Rect& rect)
{
    return rect.insetBy(rect.width() * 0.2, rect.height() * 0.2);
}

} // namespace

// ---- The window's questions

bool HomeViewController::dragOperationStarted(const DragInfo& info)
{
    if (!mIdeaListView)
        return true;
    mIdeaListView->startTrackingFocusAt(info.location, nullptr);
    mIdeaListView->trackMouseAt(info.location, nullptr);
    mIdeaListView->dockAreaView()->setHidden(false);
    mIdeaListView->deleteAreaView()->setHidden(info.source != DragInfo::Source::ThisWindow);
    reactToStateChange();
    return true;
}

DragTarget HomeViewController::dragOperationUpdate(const DragInfo& info)
{
    DragTarget target;
    if (!mIdeaListView)
        return target;
    mIdeaListView->trackMouseAt(info.location, nullptr);
    mIdeaListView->trackFocusAt(info.location, nullptr);
    const View* focus = mIdeaListView->viewAtFocus();
    if (!focus)
        return target;
    if (dynamic_cast<const DockAreaView*>(focus)) {
        target.object = DragTarget::Dock;
        target.area = homeDropBoundsInWindow(*focus);
        target.gravityRadius = DropAreaGravityRadius;
    } else if (dynamic_cast<const DeleteAreaView*>(focus)) {
        target.object = DragTarget::DeleteArea;
        target.area = homeDropInset(homeDropBoundsInWindow(*focus));
        target.gravityRadius = DropAreaGravityRadius;
    } else if (!(mIdeaListView->readOnly() &&
                 mIdeaListView->indexOfIdeaAdderAtFocus() != IdeaListView::NotFound)) {
        // Search results take drops on their planets only: no place among them is a place
        // in the location's list.
        target.object = GridTarget;
        target.area = homeDropInset(homeDropBoundsInWindow(*focus));
    }
    return target;
}

void HomeViewController::dragOperationExited()
{
    if (mIdeaListView)
        mIdeaListView->stopTrackingFocus();
}

bool HomeViewController::canDecideDrop() const
{
    return !screenOccupied() && mIdeaListView;
}

void HomeViewController::dropWillBeDecided()
{
    mIdeaListView->stopTrackingMouse();
}

bool HomeViewController::acceptDropAt(const DragTarget& target)
{
    if (target.object == GridTarget) {
        acceptDraggedIdeaIntoIdeaList();
        return true;
    }
    if (target.object != DragTarget::Dock)
        return false;
    const IdeaPtr idea = ideaBeingAccepted();
    const QString docIdentifier = ideaBeingAcceptedDocIdentifier();
    if (DocumentWindowServices* window = windowServices())
        window->setDockedIdea(idea, docIdentifier);
    mIdeaListView->dockAreaView()->takeIdeaInside(idea.get(), docIdentifier);
    handleDragEndWithResult(DragResult::Copied);
    return true;
}

void HomeViewController::dockedIdeaDeleted()
{
    mIdeaListView->dockAreaView()->takeIdeaInside(nullptr, QString());
}

bool HomeViewController::offerDeletionAt(const DragTarget& target)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view)
        return false;
    const Point centre = view->convertPointFromView(Point(target.area.midX(), target.area.midY()), nullptr);
    offerDropChoices({DropChoice::Delete}, Rect(centre, Size()), *view);
    reactToStateChange();
    return true;
}

void HomeViewController::dragOperationEndedWithResult(const DragInfo& info, DragResult result)
{
    abandonDrop();
    if (info.tookIdeaOutOfDock(result)) {
        if (DocumentWindowServices* window = windowServices())
            window->removeDockedIdea();
        if (mIdeaListView)
            mIdeaListView->dockAreaView()->takeIdeaInside(nullptr, QString());
    }
    handleDragEndWithResult(result);
}

// ---- Places in the grid

std::uint64_t HomeViewController::indexOfDragFocusPoint(bool& adder) const
{
    if (!mIdeaListView)
        return IdeaListView::NotFound;
    if (mIdeaListView->indexOfIdeaAdderAtFocus() != IdeaListView::NotFound) {
        adder = true;
        return mIdeaListView->indexOfIdeaAdderAtFocus();
    }
    if (mIdeaListView->indexOfIdeaAtFocus() != IdeaListView::NotFound) {
        adder = false;
        return mIdeaListView->indexOfIdeaAtFocus();
    }
    return IdeaListView::NotFound;
}

bool HomeViewController::isDocumentNearAdditionPoint(const QString& docIdentifier, std::uint64_t index) const
{
    const auto list = PersistenceController::singleton().proxyListForLocation(mLocation);
    if (!list || index == IdeaListView::NotFound || index > list->size())
        return false;
    const auto is = [&](std::uint64_t at) {
        return at < list->size() && (*list)[at] && (*list)[at]->docIdentifier() == docIdentifier;
    };
    return (index > 0 && is(index - 1)) || is(index);
}

std::optional<qint64> HomeViewController::resolvedDropIndex() const
{
    const auto list = PersistenceController::singleton().proxyListForLocation(mLocation);
    if (!list)
        return std::nullopt;
    if (mDropTargetIsAdder && mDropTargetDocIdentifier.isEmpty())
        return qint64(list->size());
    for (std::size_t i = 0; i < list->size(); ++i) {
        if ((*list)[i] && (*list)[i]->docIdentifier() == mDropTargetDocIdentifier)
            return qint64(i);
    }
    return std::nullopt;
}

// ---- Choices

void HomeViewController::acceptDraggedIdeaIntoIdeaList()
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    const IdeaPtr idea = ideaBeingAccepted();
    if (!view || !mIdeaListView || !idea) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    const View* focus = mIdeaListView->viewAtFocus();
    const View* anchorView = focus && focus->superview() ? focus : view.get();
    const Rect anchor = anchorView->superview()
                            ? view->convertRectFromView(anchorView->frame(), anchorView->superview())
                            : view->bounds();
    bool adder = false;
    const std::uint64_t index = indexOfDragFocusPoint(adder);
    const auto& shown = mIdeaListView->proxies();
    if (index == IdeaListView::NotFound || index > shown.size() || (!adder && index == shown.size())) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    mDropTargetIsAdder = adder;
    mDropTargetDocIdentifier =
        index < shown.size() && shown[index] ? shown[index]->docIdentifier() : QString();
    const QString& from = ideaBeingAcceptedDocIdentifier();
    std::vector<DropChoice> choices;
    if (adder) {
        // Beside the adder's own place in the list a move would change nothing.
        const auto at = resolvedDropIndex();
        if (!from.isNull() && at && !isDocumentNearAdditionPoint(from, std::uint64_t(*at)))
            choices.push_back(DropChoice::MoveHere);
        choices.push_back(DropChoice::CopyHere);
    } else {
        if (!from.isNull() && from == mDropTargetDocIdentifier) {
            handleDragEndWithResult(DragResult::Moved);
            return;
        }
        if (!from.isNull() && !idea->identifier().isEmpty())
            choices.push_back(DropChoice::MoveInside);
        choices.push_back(DropChoice::CopyInside);
    }
    offerDropChoices(choices, anchor, *view);
    reactToStateChange();
}

void HomeViewController::copyPasteAction(std::optional<DropChoice> choice)
{
    if (!dropChoiceCounts(choice))
        return;
    // From the choice until the drop ends the screen is held: its edit answers later.
    mDropHoldsScreen = !screenOccupied();
    occupyScreen(EditUnderWayOperation);
    const QString& from = ideaBeingAcceptedDocIdentifier();
    if (*choice == DropChoice::Delete) {
        if (from.isNull()) {
            Log::assertionFailure(__LINE__, "-[HomeViewController copyPasteActionWithTitle:]");
            handleDragEndWithResult(DragResult::NotAccepted);
        } else if (ideaBeingAccepted()->parent()) {
            deleteIdea(ideaBeingAccepted()->identifier(), from, endDropOnOutcome());
        } else {
            deleteDocument(from, endDropOnOutcome());
        }
        return;
    }
    bool adder = false;
    const bool here = *choice == DropChoice::CopyHere || *choice == DropChoice::MoveHere;
    if (indexOfDragFocusPoint(adder) == IdeaListView::NotFound || adder != here ||
        mDropTargetIsAdder != here || !resolvedDropIndex()) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    // The idea's pictures come along first; without them nothing is done.
    const DropChoice chosen = *choice;
    copyAttachmentsThen(mLocation, [this, chosen] { performDropChoice(chosen); });
}

void HomeViewController::performDropChoice(DropChoice choice)
{
    // The target is found again by its document, just before the call: the list may have
    // changed while the menu was open.
    const std::optional<qint64> index = resolvedDropIndex();
    const IdeaPtr idea = ideaBeingAccepted();
    if (!index || !idea) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return;
    }
    using Place = IdeaEditingService::StoredPlace;
    const QString from = ideaBeingAcceptedDocIdentifier();
    // Each ends the drop with its outcome: a move whose source kept the idea ends as Copied.
    switch (choice) {
    case DropChoice::CopyHere:
        return mEditing.copyStoredIdea(idea, from, mLocation, *index, Place::Before, endDropOnOutcome());
    case DropChoice::CopyInside:
        return mEditing.copyStoredIdea(idea, from, mLocation, *index, Place::Inside, endDropOnOutcome());
    case DropChoice::MoveHere:
        return mEditing.moveStoredIdea(idea->identifier(), from, mLocation, *index, Place::Before,
                                       endDropOnOutcome());
    case DropChoice::MoveInside:
        return mEditing.moveStoredIdea(idea->identifier(), from, mLocation, *index, Place::Inside,
                                       endDropOnOutcome());
    case DropChoice::CreateLink:
    case DropChoice::Delete:
        break;
    }
    handleDragEndWithResult(DragResult::NotAccepted);
}

void HomeViewController::handleDragEndWithResult(DragResult result)
{
    if (std::exchange(mDropHoldsScreen, false))
        liberateScreen(EditUnderWayOperation);
    forgetIdeaBeingAccepted();
    mDropTargetDocIdentifier.clear();
    mDropTargetIsAdder = false;
    runAfterAcceptance(result);
    updateStatusDueToPossibleDockingUpdate();
    if (mIdeaListView) {
        mIdeaListView->stopTrackingFocus();
        mIdeaListView->deleteAreaView()->setHidden(true);
        mIdeaListView->stopTrackingMouse();
    }
    reactToStateChange();
}

} // namespace corvex
