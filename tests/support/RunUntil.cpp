#include "tests/support/RunUntil.h"

#include "tests/support/VirtualScheduler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace corvex::test {

void processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (auto* virtualTime = dynamic_cast<VirtualScheduler*>(&Scheduler::current()))
        virtualTime->step();
}

bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds)
{
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000.0));
    while (true) {
        if (predicate())
            return true;
        if (deadline.hasExpired())
            return predicate();
        processEvents();
        if (predicate())
            return true;
        // Wait briefly for events from other threads rather than spinning.
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

} // namespace corvex::test
