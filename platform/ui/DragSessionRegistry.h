#pragma once

#include <QtGlobal>
#include <limits>

namespace corvex {

// The sequence numbers of drags: one process-wide counter, a new number per drag the
// application starts and per drag that enters a window from outside, and the number of the
// application's own drag while it runs (only one runs at a time). Main thread only.
class DragSessionRegistry
{
public:
    static constexpr qint64 NoSession = std::numeric_limits<qint64>::min();

    // A number never handed out before.
    static qint64 nextSequenceNumber();
    // The number of the application's drag that runs now; NoSession when none runs.
    static qint64 runningSessionNumber();
    static void setRunningSessionNumber(qint64 number);
};

} // namespace corvex
