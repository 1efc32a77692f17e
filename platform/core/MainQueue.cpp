#include "platform/core/MainQueue.h"

#include <sys/syscall.h> // SYS_gettid
#include <unistd.h>      // getpid, syscall

namespace corvex {

Scheduler::TaskId MainQueue::post(Task task)
{
    return Scheduler::current().schedule(0, std::move(task));
}

Scheduler::TaskId MainQueue::postAfter(double seconds, Task task)
{
    return Scheduler::current().schedule(seconds, std::move(task));
}

void MainQueue::cancel(TaskId id)
{
    Scheduler::current().cancel(id);
}

bool MainQueue::isMainThread()
{
    return ::syscall(SYS_gettid) == ::getpid();
}

} // namespace corvex
