#pragma once

#include "platform/gfx/Point.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace corvex {

// What a window learns of a drag over it, free of Qt's drag classes: the host's adapter
// (QtDragDestinationAdapter) translates Qt's drag events into these calls, and tests make
// them directly. Main thread only.
class DragDestination
{
public:
    // Operation masks of a drag, as bits.
    static constexpr quint64 OperationNone = 0;
    static constexpr quint64 OperationCopy = 1;
    static constexpr quint64 OperationLink = 2;
    static constexpr quint64 OperationGeneric = 4;
    static constexpr quint64 OperationMove = 16;
    static constexpr quint64 OperationEvery = ~quint64(0);

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
        // What the dragging program allows (the bits above).
        quint64 sourceOperationMask = OperationNone;
    };

    virtual ~DragDestination();

    // Each answers the operations the window would perform (OperationNone: none).
    virtual quint64 draggingEntered(const Drag& drag) = 0;
    virtual quint64 draggingUpdated(const Drag& drag) = 0;
    virtual void draggingExited(const Drag& drag) = 0;
    // The drop; true when the window took it.
    virtual bool performDragOperation(const Drag& drag) = 0;
    // The platform's end of a drag over the window (after a drop).
    virtual void draggingEnded(const Drag& drag) = 0;
};

} // namespace corvex
