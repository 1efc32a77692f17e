#pragma once

#include "mindmap/DragInfo.h"
#include "mindmap/DragInfoForIdea.h"
#include "mindmap/DragTarget.h"
#include "model/Idea.h"
#include "platform/core/Completion.h"

#include <QString>
#include <functional>

namespace corvex {

// How a document window talks to the screen it shows about drags: the window holds one
// delegate, its current screen, and calls it on the main thread in the order below. The
// records are the window's own (DragInfo; DragInfoForIdea for ideas).
class DragSupportDelegate
{
public:
    // Takes a drop's result code (DragResult); answered exactly once, on the main thread (the
    // window hears it on a later turn however soon the screen answers).
    using DropCompletion = Completion<DragResult>;

    virtual ~DragSupportDelegate();

    // A drag entered the window. true: the screen takes part (shows its dock and focus aids);
    // false: the window ignores this drag until it enters again.
    virtual bool dragOperationStarted(const DragInfo& info) = 0;
    // Asked for idea drags when they enter, on every move and once at the drop: the screen
    // moves its focus to `info.location` and answers the target under it (object 0: none).
    virtual DragTarget dragOperationUpdate(const DragInfo& info) = 0;
    // The drag left the window where it began and goes on elsewhere; it is not over.
    virtual void dragOperationExited() = 0;
    // The idea (already loaded) was dropped on a target the update named; the document
    // identifier is the one it was dragged from (null for a docked idea without document).
    // The screen decides what the drop means and calls the completion once with the code.
    // The same screen then hears no dragOperationEndedWithResult for this drag.
    virtual void dragOperationEndedAcceptingIdea(const DragInfo& info, const IdeaPtr& idea,
                                                 const QString& docIdentifier, DropCompletion completion) = 0;
    // The drag is over for this window, with its final result: the screen where it began
    // learns whether the idea was taken (Moved, Copied) or not (NotAccepted).
    virtual void dragOperationEndedWithResult(const DragInfo& info, DragResult result) = 0;
};

} // namespace corvex
