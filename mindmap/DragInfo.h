#pragma once

#include "mindmap/DragTarget.h"
#include "platform/gfx/Point.h"

#include <QtGlobal>

namespace corvex {

// One drag as one window sees it. The window that a drag touches makes its own record and
// hands it to the screen it shows: `location` is the pointer's latest position in that
// window's base coordinates (y up, origin at the bottom left); `source` says where the drag
// began; `returnTarget` is where the dragged planet goes back to, as given by the screen that
// started the drag; `objectType` is what is dragged. Plain values, freely copied.
class DragInfo
{
public:
    // Where the drag began.
    enum class Source : quint64
    {
        ThisWindow = 0,
        OtherWindow = 1,
        OutsideApplication = 2,
    };
    // What is dragged.
    enum class ObjectType : quint64
    {
        IdeaObject = 0,
        FileObject = 1,
    };

    DragInfo() = default;
    DragInfo(const DragInfo&) = default;
    DragInfo& operator=(const DragInfo&) = default;
    virtual ~DragInfo();

    // A drag out of this window's dock (return target: the dock) whose drop was carried out
    // (any result but NotAccepted) somewhere else than the dock: the idea has left the dock.
    // With no drop target (a drag that ended elsewhere) only the first two count.
    bool tookIdeaOutOfDock(DragResult result, const DragTarget& dropTarget = DragTarget()) const
    {
        return result != DragResult::NotAccepted && source == Source::ThisWindow &&
               returnTarget.object == DragTarget::Dock && dropTarget.object != DragTarget::Dock;
    }

    Point location;
    Source source = Source::ThisWindow;
    DragTarget returnTarget;
    ObjectType objectType = ObjectType::IdeaObject;
};

} // namespace corvex
