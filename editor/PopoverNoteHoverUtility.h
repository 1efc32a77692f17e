#pragma once

#include "mindmap/NoteHoverUtility.h"
#include "platform/gfx/Rect.h"

#include <memory>
#include <optional>

namespace corvex {

class NoteHoverUtilityDelegate;
class Popover;

// The note hover: a note shows in a semi-transient popover that never takes the keyboard
// once the pointer has rested on a note badge for more than 0.5 s, and closes at the first
// report more than 0.1 s after the pointer left every badge. While a note is hovered and no
// popover shows, a tick polls every 50 ms on the main queue (MediaClock time), asking the
// host each time whether a note may show.
//
// What counts as resting on one note: the same idea (its identifier) with the same text;
// reports without an identifier compare the text alone. A popover that closed by itself
// (a click elsewhere) stays the shown one until the pointer has left the badges or
// closeIfOpen, so no second popover shows meanwhile. While a popover shows, the tick goes on
// asking the host: once a note may no longer show (the user works elsewhere), it closes as
// closeIfOpen does. The popover shows above the 20 x 20 square around the resting point
// (below it when there is no room above). Main thread only.
class PopoverNoteHoverUtility : public NoteHoverUtility
{
public:
    static constexpr double TickInterval = 0.05;
    static constexpr double RestTime = 0.5;
    static constexpr double LeaveTime = 0.1;
    static constexpr double AnchorHalfSide = 10;

    explicit PopoverNoteHoverUtility(std::weak_ptr<NoteHoverUtilityDelegate> delegate);
    ~PopoverNoteHoverUtility() override;

    void observeCursorHoveringOver(const std::optional<QString>& note, Point viewPoint) override;
    void observeCursorHoveringOverNoteOfIdea(const std::optional<QString>& note,
                                             const QString& ideaIdentifier, Point viewPoint) override;
    void closeIfOpen() override;

    // The popover shown (null when none).
    const std::shared_ptr<Popover>& notePopover() const { return mNotePopover; }

    // The factory for NoteHoverUtility::setFactory.
    static NoteHoverUtility::Factory factory();

private:
    struct HoveredNote
    {
        QString text;
        QString ideaIdentifier;
        bool operator==(const HoveredNote&) const = default;
    };

    void observe(std::optional<HoveredNote> note, Point viewPoint);
    void ensureHoverDispatch();
    void tick();
    void showNotePopoverFromRect(const Rect& rect);
    void closePopover();

    std::weak_ptr<NoteHoverUtilityDelegate> mDelegate;
    std::optional<HoveredNote> mNoteBeingHovered;
    double mLastValidNoteHoverStartTime = 0;
    Point mLastHoverPoint;
    bool mHasNoteHoverDispatch = false;
    std::shared_ptr<Popover> mNotePopover;
    // Ticks run only while the utility lives (its owner holds it by unique_ptr).
    std::shared_ptr<const int> mLife = std::make_shared<const int>(0);
};

} // namespace corvex
