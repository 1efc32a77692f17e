#pragma once

#include "platform/gfx/Point.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace corvex {

// The operations of a drag, as bits of a mask: what a dragging program allows and what a
// window answers it would perform. The bits are the platform's drag operation bits.
enum class DragOperation : quint64
{
    None = 0,
    Copy = 1,
    Link = 2,
    Generic = 4,
    Move = 16,
    Every = ~quint64(0),
};

constexpr DragOperation operator|(DragOperation a, DragOperation b)
{
    return DragOperation(quint64(a) | quint64(b));
}
constexpr DragOperation operator&(DragOperation a, DragOperation b)
{
    return DragOperation(quint64(a) & quint64(b));
}
constexpr DragOperation& operator|=(DragOperation& a, DragOperation b)
{
    return a = a | b;
}
// Whether the mask has any of the operations.
constexpr bool hasAnyOf(DragOperation mask, DragOperation operations)
{
    return (mask & operations) != DragOperation::None;
}

// What a window learns of a drag over it, free of Qt's drag classes: the host's adapter
// (QtDragDestinationAdapter) translates Qt's drag events into these calls, and tests make
// them directly. Main thread only.
class DragDestination
{
public:
    // One drag as the window sees it at one moment.
    struct Drag
    {
        // The same number for every event of one drag over the window; drags started by the
        // application carry the number their source was given (DragSessionRegistry).
        qint64 sequenceNumber = 0;
        // The drag was started inside this application.
        bool hasDraggingSource = false;
        // The pointer in the window's base coordinates.
        Point location;
        // The local files a drag from outside carries; absent when it carries no file names
        // at all (never read for a drag of the application).
        std::optional<QStringList> fileNames;
        // What the dragging program allows.
        DragOperation sourceOperationMask = DragOperation::None;
    };

    virtual ~DragDestination();

    // Each answers the operations the window would perform (DragOperation::None: none).
    virtual DragOperation draggingEntered(const Drag& drag) = 0;
    virtual DragOperation draggingUpdated(const Drag& drag) = 0;
    virtual void draggingExited(const Drag& drag) = 0;
    // The drop; true when the window took it.
    virtual bool performDragOperation(const Drag& drag) = 0;
    // The platform's end of a drag over the window (after a drop).
    virtual void draggingEnded(const Drag& drag) = 0;
};

} // namespace corvex
