#include "platform/ui/DragSessionRegistry.h"

#include "platform/ui/DragDestination.h"

namespace corvex {

namespace {
qint64 gLastDragSequenceNumber = 0;
qint64 gRunningDragSession = DragSessionRegistry::NoSession;
} // namespace

DragDestination::~DragDestination() = default;

qint64 DragSessionRegistry::nextSequenceNumber()
{
    return ++gLastDragSequenceNumber;
}

qint64 DragSessionRegistry::runningSessionNumber()
{
    return gRunningDragSession;
}

void DragSessionRegistry::setRunningSessionNumber(qint64 number)
{
    gRunningDragSession = number;
}

} // namespace corvex
