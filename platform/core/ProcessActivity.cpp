#include "platform/core/ProcessActivity.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

namespace corvex {

namespace {

struct ActivityCounters
{
    std::mutex mutex;
    std::condition_variable closed;
    int sudden = 0;
    int automatic = 0;
    std::set<ProcessActivity::Token> open;
    ProcessActivity::Token next = 1;

    bool anyOpenLocked() const { return sudden > 0 || automatic > 0 || !open.empty(); }
};

ActivityCounters& activityCounters()
{
    static ActivityCounters* const counters = new ActivityCounters; // lives to the process's end
    return *counters;
}

void changeCounter(int ActivityCounters::*counter, int delta, const char* what)
{
    ActivityCounters& counters = activityCounters();
    std::lock_guard lock(counters.mutex);
    int& value = counters.*counter;
    if (delta < 0 && value == 0) {
        Log::warning(QStringLiteral("Unbalanced enabling of %1 termination").arg(QLatin1String(what)));
        return;
    }
    value += delta;
    if (!counters.anyOpenLocked())
        counters.closed.notify_all();
}

} // namespace

void ProcessActivity::disableSuddenTermination()
{
    changeCounter(&ActivityCounters::sudden, 1, "sudden");
}

void ProcessActivity::enableSuddenTermination()
{
    changeCounter(&ActivityCounters::sudden, -1, "sudden");
}

void ProcessActivity::disableAutomaticTermination(const QString&)
{
    changeCounter(&ActivityCounters::automatic, 1, "automatic");
}

void ProcessActivity::enableAutomaticTermination(const QString&)
{
    changeCounter(&ActivityCounters::automatic, -1, "automatic");
}

ProcessActivity::Token ProcessActivity::beginActivity(std::uint64_t, const QString&)
{
    ActivityCounters& counters = activityCounters();
    std::lock_guard lock(counters.mutex);
    const Token token = counters.next++;
    counters.open.insert(token);
    return token;
}

void ProcessActivity::endActivity(Token token)
{
    ActivityCounters& counters = activityCounters();
    std::lock_guard lock(counters.mutex);
    if (counters.open.erase(token) > 0 && !counters.anyOpenLocked())
        counters.closed.notify_all();
}

int ProcessActivity::suddenTerminationDisablements()
{
    std::lock_guard lock(activityCounters().mutex);
    return activityCounters().sudden;
}

int ProcessActivity::automaticTerminationDisablements()
{
    std::lock_guard lock(activityCounters().mutex);
    return activityCounters().automatic;
}

int ProcessActivity::openActivities()
{
    std::lock_guard lock(activityCounters().mutex);
    return int(activityCounters().open.size());
}

bool ProcessActivity::anyOpen()
{
    std::lock_guard lock(activityCounters().mutex);
    return activityCounters().anyOpenLocked();
}

bool ProcessActivity::waitWhileOpen(double timeoutSeconds)
{
    ActivityCounters& counters = activityCounters();
    std::unique_lock lock(counters.mutex);
    return counters.closed.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
                                    [&] { return !counters.anyOpenLocked(); });
}

} // namespace corvex
