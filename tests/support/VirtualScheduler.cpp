#include "tests/support/VirtualScheduler.h"

#include "platform/core/CalendarClock.h"
#include "platform/core/MainQueue.h"
#include "platform/core/QueueLabels.h"
#include "tests/support/LaterTurn.h"

namespace corvex::test {

VirtualScheduler::VirtualScheduler(double start, Mode mode) : mNow(start > 0 ? start : 1.0), mMode(mode) {}

double VirtualScheduler::now() const
{
    return mNow.load();
}

Scheduler::TaskId VirtualScheduler::schedule(double delaySeconds, Task task)
{
    if (!(delaySeconds > 0))
        delaySeconds = 0;
    return mQueue.push(mNow.load() + delaySeconds, std::move(task)).first;
}

void VirtualScheduler::cancel(TaskId id)
{
    mQueue.cancel(id);
}

int VirtualScheduler::advance(double seconds)
{
    const double target = mNow.load() + (seconds > 0 ? seconds : 0);
    int ran = 0;
    QueueLabels::Scope scope(MainQueue::Label);
    while (auto entry = mQueue.popDue(target)) {
        if (entry->deadline > mNow.load())
            mNow.store(entry->deadline);
        const LaterTurn turn;
        entry->task();
        ++ran;
    }
    // A task may have advanced the clock further itself (a nested advance): time never goes back.
    if (target > mNow.load())
        mNow.store(target);
    return ran;
}

int VirtualScheduler::step()
{
    const int ran = runDue();
    if (ran > 0 || mMode != Mode::AutoAdvance)
        return ran;
    const std::optional<double> next = mQueue.earliestDeadline();
    return next ? advance(*next - mNow.load()) : 0;
}

ScopedVirtualTime::ScopedVirtualTime(double start, VirtualScheduler::Mode mode)
    : mScheduler(start, mode), mPrevious(Scheduler::install(&mScheduler))
{
    // Calendar time moves with the virtual clock, from a fixed date.
    mTiedCalendar = !CalendarClock::isTied();
    if (mTiedCalendar)
        CalendarClock::tieToMediaClock(QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));
}

ScopedVirtualTime::~ScopedVirtualTime()
{
    if (mTiedCalendar)
        CalendarClock::untie();
    Scheduler::install(mPrevious);
}

} // namespace corvex::test
