#include "platform/core/QtScheduler.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/QueueLabels.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <ctime> // clock_gettime

namespace corvex {

QtScheduler::QtScheduler() : mContext(new QObject)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        mContext->moveToThread(app->thread());
}

QtScheduler::~QtScheduler()
{
    delete mTimer;
    delete mContext;
}

double QtScheduler::now() const
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const double seconds = double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    return seconds > 0 ? seconds : 1e-9;
}

Scheduler::TaskId QtScheduler::schedule(double delaySeconds, Task task)
{
    if (!(delaySeconds > 0))
        delaySeconds = 0; // also catches NaN
    const auto [id, earliest] = mQueue.push(now() + delaySeconds, std::move(task));
    if (earliest)
        wake();
    return id;
}

void QtScheduler::cancel(TaskId id)
{
    mQueue.cancel(id);
}

void QtScheduler::wake()
{
    if (mDrainPosted.exchange(true))
        return;
    if (QCoreApplication::instance() == nullptr) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            Log::error(QStringLiteral("Main queue: no application object; scheduled work will not run"));
    }
    QMetaObject::invokeMethod(
        mContext, [this] { drain(); }, Qt::QueuedConnection);
}

void QtScheduler::drain()
{
    mDrainPosted.store(false);
    // Only what is due now runs in this turn; work scheduled by these tasks waits for the
    // next turn, so the event loop is never starved.
    const double limit = now();
    QueueLabels::Scope scope(MainQueue::Label);
    while (auto entry = mQueue.popDue(limit))
        entry->task();
    arm();
}

void QtScheduler::arm()
{
    const std::optional<double> earliest = mQueue.earliestDeadline();
    if (!earliest)
        return;
    if (mTimer == nullptr) {
        mTimer = new QTimer;
        mTimer->setSingleShot(true);
        mTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(mTimer, &QTimer::timeout, mContext, [this] { drain(); });
    }
    const double wait = *earliest - now();
    const int ms = wait <= 0 ? 0 : int(std::min(std::ceil(wait * 1000.0), 2.0e9));
    mTimer->start(ms);
}

} // namespace corvex
