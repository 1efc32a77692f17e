#include "platform/core/Scheduler.h"

#include "platform/core/QtScheduler.h"

#include <atomic>

namespace corvex {
namespace {

std::atomic<Scheduler*> gInstalled{nullptr};

Scheduler& defaultScheduler()
{
    // Never destroyed: tasks may still be scheduled while static objects go away.
    static Scheduler* instance = new QtScheduler;
    return *instance;
}

} // namespace

Scheduler::~Scheduler() = default;

Scheduler& Scheduler::current()
{
    if (Scheduler* installed = gInstalled.load(std::memory_order_acquire))
        return *installed;
    return defaultScheduler();
}

Scheduler* Scheduler::install(Scheduler* scheduler)
{
    return gInstalled.exchange(scheduler, std::memory_order_acq_rel);
}

double MediaClock::now()
{
    return Scheduler::current().now();
}

} // namespace corvex
