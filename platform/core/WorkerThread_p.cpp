#include "platform/core/WorkerThread_p.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace corvex::detail {

void endForUncaughtException(const char* label)
{
    try {
        throw;
    } catch (const std::exception& e) {
        Log::error(QStringLiteral("Uncaught exception on queue %1: %2")
                       .arg(QString::fromUtf8(label), QString::fromUtf8(e.what())));
        std::terminate();
    } catch (...) {
        Log::error(QStringLiteral("Uncaught exception on queue %1: unknown exception")
                       .arg(QString::fromUtf8(label)));
        std::terminate();
    }
}

void nameCurrentThread(const char* name)
{
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    ::pthread_setname_np(::pthread_self(), shortName);
}

void makeCurrentThreadBackground(int niceIncrement)
{
    static std::atomic<bool> logged{false};
    const auto refused = [](const char* what) {
        if (!logged.exchange(true))
            Log::warning(QStringLiteral("Cannot make a background thread yield to the interface (%1): %2")
                             .arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno))));
    };
    // A thread id in place of a process id addresses that one thread on Linux; both calls
    // keep what the other set (SCHED_BATCH keeps the nice value).
    const auto thread = ::gettid();
    const sched_param parameters{};
    if (::sched_setscheduler(thread, SCHED_BATCH, &parameters) != 0)
        refused("SCHED_BATCH");
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, id_t(thread));
    if (current == -1 && errno != 0)
        return refused("getpriority");
    const int wanted = std::min(current + niceIncrement, 19);
    if (wanted != current && ::setpriority(PRIO_PROCESS, id_t(thread), wanted) != 0)
        refused("setpriority");
}

} // namespace corvex::detail
