#include "editor/PopoverNoteHoverUtility.h"

#include "editor/NoteDisplayViewController.h"
#include "mindmap/NoteHoverUtilityDelegate.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Popover.h"
#include "platform/ui/View.h"

namespace corvex {

PopoverNoteHoverUtility::PopoverNoteHoverUtility(std::weak_ptr<NoteHoverUtilityDelegate> delegate)
    : mDelegate(std::move(delegate))
{}

PopoverNoteHoverUtility::~PopoverNoteHoverUtility()
{
    closePopover();
}

NoteHoverUtility::Factory PopoverNoteHoverUtility::factory()
{
    return [](std::weak_ptr<NoteHoverUtilityDelegate> delegate) -> std::unique_ptr<NoteHoverUtility> {
        return std::make_unique<PopoverNoteHoverUtility>(std::move(delegate));
    };
}

void PopoverNoteHoverUtility::observeCursorHoveringOver(const std::optional<QString>& note, Point viewPoint)
{
    observeCursorHoveringOverNoteOfIdea(note, QString(), viewPoint);
}

void PopoverNoteHoverUtility::observeCursorHoveringOverNoteOfIdea(const std::optional<QString>& note,
                                                                  const QString& ideaIdentifier,
                                                                  Point viewPoint)
{
    std::optional<HoveredNote> hovered;
    if (note)
        hovered = HoveredNote{*note, ideaIdentifier};
    observe(std::move(hovered), viewPoint);
}

void PopoverNoteHoverUtility::observe(std::optional<HoveredNote> note, Point viewPoint)
{
    const double now = MediaClock::now();
    if (note != mNoteBeingHovered)
        mLastValidNoteHoverStartTime = now;
    if (!note && mNotePopover && now - mLastValidNoteHoverStartTime > LeaveTime)
        closePopover();
    mLastHoverPoint = viewPoint;
    mNoteBeingHovered = std::move(note);
    ensureHoverDispatch();
}

void PopoverNoteHoverUtility::closeIfOpen()
{
    closePopover();
    mNoteBeingHovered.reset();
}

void PopoverNoteHoverUtility::ensureHoverDispatch()
{
    if ((!mNoteBeingHovered && !mNotePopover) || mHasNoteHoverDispatch)
        return;
    mHasNoteHoverDispatch = true;
    std::weak_ptr<const int> life = mLife;
    MainQueue::postAfter(TickInterval, [this, life] {
        if (life.lock())
            tick();
    });
}

void PopoverNoteHoverUtility::tick()
{
    mHasNoteHoverDispatch = false;
    if (mNotePopover) {
        // The user works elsewhere (another window, another screen over the host, the pointer
        // gone): the note goes, or is forgotten when it closed by itself meanwhile, and shows
        // again only after a new rest.
        const std::shared_ptr<NoteHoverUtilityDelegate> host = mDelegate.lock();
        if (!host || !host->isNoteHoverDisplayAllowed())
            closeIfOpen();
        else if (mNotePopover->isShown())
            ensureHoverDispatch();
        return;
    }
    if (!mNoteBeingHovered)
        return;
    if (MediaClock::now() - mLastValidNoteHoverStartTime > RestTime) {
        const Rect anchor(mLastHoverPoint.x - AnchorHalfSide, mLastHoverPoint.y - AnchorHalfSide,
                          2 * AnchorHalfSide, 2 * AnchorHalfSide);
        showNotePopoverFromRect(anchor);
    }
    ensureHoverDispatch();
}

void PopoverNoteHoverUtility::showNotePopoverFromRect(const Rect& rect)
{
    closePopover();
    const std::shared_ptr<NoteHoverUtilityDelegate> host = mDelegate.lock();
    if (!host || !host->isNoteHoverDisplayAllowed() || !mNoteBeingHovered)
        return;
    const std::shared_ptr<View> hostView = host->hostViewForNoteHoverDisplay();
    if (!hostView || !hostView->window())
        return;
    auto popover = Popover::create(false);
    popover->setBehavior(Popover::Behavior::SemiTransient);
    auto content = NoteDisplayViewController::initForPopover(popover);
    content->setNoteText(mNoteBeingHovered->text);
    // Above the resting point on the screen, whichever way the host view counts y.
    popover->showRelativeToRect(rect, *hostView,
                                hostView->isFlipped() ? Popover::Edge::MinY : Popover::Edge::MaxY);
    if (popover->isShown())
        mNotePopover = popover;
}

void PopoverNoteHoverUtility::closePopover()
{
    std::shared_ptr<Popover> popover = std::move(mNotePopover);
    mNotePopover.reset();
    if (popover && popover->isShown())
        popover->performClose();
}

} // namespace corvex
