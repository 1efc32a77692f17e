#pragma once

#include "platform/gfx/Point.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class NoteHoverUtilityDelegate;

// The seam to the note popover that shows while the pointer rests on a note badge. The idea
// editor's subsystem makes the real utility and registers its factory at start-up; the mind
// map only reports where the pointer is. Without a registered factory no utility is made and
// the views that would use one show no note hover. Main thread only.
class NoteHoverUtility
{
public:
    // Makes a utility serving `delegate` (held weakly).
    using Factory = std::function<std::unique_ptr<NoteHoverUtility>(std::weak_ptr<NoteHoverUtilityDelegate>)>;

    virtual ~NoteHoverUtility();

    // The note under the pointer (std::nullopt when the pointer is on no note) and the point
    // in the host view's coordinates; called on every pointer movement over the mind map.
    virtual void observeCursorHoveringOver(const std::optional<QString>& note, Point viewPoint) = 0;
    // The same with the identifier of the idea whose note it is. A QString has no identity of
    // its own, so the idea's stands in: staying on one idea keeps the wait for the popover,
    // another idea restarts it even when its note has the same text. The default passes the
    // note on without it.
    virtual void observeCursorHoveringOverNoteOfIdea(const std::optional<QString>& note,
                                                     const QString& ideaIdentifier, Point viewPoint);
    // Closes a popover that is shown and forgets the hovered note (before a large change of
    // the host view). Nothing by default.
    virtual void closeIfOpen();

    // Replaces the factory (an empty one removes it). Called once at start-up, and by tests.
    static void setFactory(Factory factory);
    static bool hasFactory();
    // A utility from the registered factory; null without one.
    static std::unique_ptr<NoteHoverUtility> create(std::weak_ptr<NoteHoverUtilityDelegate> delegate);
};

} // namespace corvex
