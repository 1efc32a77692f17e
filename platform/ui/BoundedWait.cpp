#include "platform/ui/BoundedWait.h"

#include "platform/core/Scheduler.h"
#include "platform/ui/WindowTeardown.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <memory>

namespace corvex {

namespace {
std::function<void()>& boundedWaitPump()
{
    static std::function<void()> pump;
    return pump;
}
} // namespace

void BoundedWait::setPump(std::function<void()> pump)
{
    boundedWaitPump() = std::move(pump);
}

bool BoundedWait::until(const std::function<bool()>& done, double seconds)
{
    if (done())
        return true;
    auto timedOut = std::make_shared<bool>(false);
    Scheduler& scheduler = Scheduler::current();
    const Scheduler::TaskId timer = scheduler.schedule(seconds, [timedOut] { *timedOut = true; });
    const WindowTeardown::ModalLoop loop;
    while (!done() && !*timedOut) {
        if (boundedWaitPump())
            boundedWaitPump()();
        else
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    scheduler.cancel(timer);
    return done();
}

} // namespace corvex
