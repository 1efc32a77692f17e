#include "mindmap/ScreenDrops.h"

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/DropChoiceMenu.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "storage/PersistenceController.h"

#include <iterator>

namespace corvex {

QString ScreenDrops::dropChoiceTitle(DropChoice choice)
{
    // In the order of DropChoice.
    static constexpr const char* kKeys[] = {"Choice.MoveInside", "Choice.CopyInside", "Choice.MoveHere",
                                            "Choice.CopyHere",   "Choice.CreateLink", "Choice.Delete"};
    const auto at = std::size_t(choice);
    return Globals::normalLocalizedStringForKey(
        QLatin1String(at < std::size(kKeys) ? kKeys[at] : "Choice.Delete"), QString());
}

void ScreenDrops::dragOperationEndedAcceptingIdea(const DragInfo& info, const IdeaPtr& idea,
                                                  const QString& docIdentifier, DropCompletion completion)
{
    // One drop is decided at a time, and none while the screen is busy.
    if (mDrop || !idea || !canDecideDrop()) {
        if (!mDrop)
            dropRefused();
        completion(DragResult::NotAccepted);
        return;
    }
    const DragTarget target = dragOperationUpdate(info);
    dropWillBeDecided();
    mDrop.emplace(Drop{info, target, std::move(completion)});
    ++mDropSerial;
    mIdeaBeingAccepted = idea;
    mIdeaBeingAcceptedDocIdentifier = docIdentifier;

    if (target.object == DragTarget::None) {
        handleDragEndWithResult(DragResult::NotAccepted);
    } else if (target.object != DragTarget::DeleteArea) {
        if (!acceptDropAt(target)) {
            Log::assertionFailure(__LINE__, mAcceptAssertion);
            handleDragEndWithResult(DragResult::NotAccepted);
        }
    } else if (info.source != DragInfo::Source::ThisWindow) {
        Log::assertionFailure(__LINE__, mAcceptAssertion);
        handleDragEndWithResult(DragResult::NotAccepted);
    } else if (info.returnTarget.object == DragTarget::Dock) {
        if (DocumentWindowServices* window = windowServices())
            window->removeDockedIdea();
        dockedIdeaDeleted();
        handleDragEndWithResult(DragResult::Moved);
    } else if (!offerDeletionAt(target)) {
        handleDragEndWithResult(DragResult::NotAccepted);
    }
}

void ScreenDrops::dropTookIdeaOutOfDock()
{
    if (DocumentWindowServices* window = windowServices())
        window->removeDockedIdea();
}

void ScreenDrops::offerDropChoices(const std::vector<DropChoice>& choices, const Rect& rect, View& inView)
{
    std::weak_ptr<ScreenDrops> weak = weakScreenDrops();
    const std::uint64_t serial = mDropSerial;
    DropChoiceMenu::show(choices, rect, inView, [weak, serial](std::optional<DropChoice> choice) {
        auto self = weak.lock();
        if (self && self->mDropSerial == serial)
            self->copyPasteAction(choice);
    });
}

bool ScreenDrops::dropChoiceCounts(const std::optional<DropChoice>& choice)
{
    if (!mDrop || !mIdeaBeingAccepted)
        return false;
    if (!choice) {
        handleDragEndWithResult(DragResult::NotAccepted);
        return false;
    }
    return true;
}

void ScreenDrops::copyAttachmentsThen(StorageLocation location, std::function<void()> then)
{
    std::weak_ptr<ScreenDrops> weak = weakScreenDrops();
    const std::uint64_t serial = mDropSerial;
    PersistenceController::singleton().copyAttachments(
        mIdeaBeingAccepted, mIdeaBeingAcceptedDocIdentifier, location,
        [weak, serial, then = std::move(then)](bool ok) {
            auto self = weak.lock();
            if (!self || !self->isCurrentDrop(serial))
                return;
            if (!ok) {
                self->handleDragEndWithResult(DragResult::NotAccepted);
                return;
            }
            then();
        });
}

IdeaEditingService::EditCompletion ScreenDrops::endDropOnOutcome()
{
    std::weak_ptr<ScreenDrops> weak = weakScreenDrops();
    const std::uint64_t serial = mDropSerial;
    return [weak, serial](const IdeaEditResult& result) {
        auto self = weak.lock();
        if (!self || !self->isCurrentDrop(serial))
            return;
        switch (result.outcome) {
        case IdeaEditOutcome::Copied:
            return self->handleDragEndWithResult(DragResult::Copied);
        case IdeaEditOutcome::Moved:
        case IdeaEditOutcome::Changed:
            return self->handleDragEndWithResult(DragResult::Moved);
        case IdeaEditOutcome::Refused:
            break;
        }
        self->handleDragEndWithResult(DragResult::NotAccepted);
    };
}

void ScreenDrops::forgetIdeaBeingAccepted()
{
    mIdeaBeingAccepted.reset();
    mIdeaBeingAcceptedDocIdentifier.clear();
}

void ScreenDrops::runAfterAcceptance(DragResult result)
{
    if (!mDrop)
        return;
    Drop drop = std::move(*mDrop);
    mDrop.reset();
    if (drop.drag.tookIdeaOutOfDock(result, drop.target))
        dropTookIdeaOutOfDock();
    // A drop decided at once (refused, or the dock's idea deleted) is heard on a later turn
    // too, as every decided one is.
    drop.completion(result);
}

void ScreenDrops::abandonDrop()
{
    // The window ended the drag itself and waits for no answer.
    if (mDrop)
        mDrop->completion.drop();
    mDrop.reset();
    ++mDropSerial;
}

} // namespace corvex
