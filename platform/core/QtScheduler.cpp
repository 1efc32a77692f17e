#include "platform/core/QtScheduler.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/QueueLabels.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <ctime> // clock_gettime
#include <vector>

namespace corvex {
namespace {

// Schedulers with work that came before the application object, woken when it is made.
std::mutex gWaitingMutex;
std::vector<QtScheduler*> gWaiting; // guarded by gWaitingMutex
std::once_flag gPreRoutineAdded;

} // namespace

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler()
{
    {
        std::lock_guard lock(gWaitingMutex);
        gWaiting.erase(std::remove(gWaiting.begin(), gWaiting.end(), this), gWaiting.end());
    }
    // The timer first: it is connected to the context. Destroying the context drops the
    // drains still queued for it.
    mTimer.reset();
    std::lock_guard lock(mContextMutex);
    mContext.reset();
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

QObject* QtScheduler::context()
{
    std::lock_guard lock(mContextMutex);
    if (mContext)
        return mContext.get();
    QCoreApplication* app = QCoreApplication::instance();
    // An application object on its way out takes no new object onto its thread.
    if (app == nullptr || QCoreApplication::closingDown())
        return nullptr;
    // Made on whichever thread asks first, then pushed to the application's thread (an
    // object can only be pushed away from its own thread, never pulled in from another).
    auto context = std::make_unique<QObject>();
    context->moveToThread(app->thread());
    mContext = std::move(context);
    return mContext.get();
}

void QtScheduler::wake()
{
    if (mDrainPosted.exchange(true))
        return;
    QObject* target = context();
    if (target == nullptr) {
        mDrainPosted.store(false);
        // The application is ending (a worker's answer arriving as the process quits): nothing
        // will run the work, and the process may already be taking its statics down.
        if (QCoreApplication::closingDown())
            return;
        waitForApplication();
        return;
    }
    QMetaObject::invokeMethod(
        target, [this] { drain(); }, Qt::QueuedConnection);
}

void QtScheduler::waitForApplication()
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        Log::info(QStringLiteral("Main queue: no application object yet; scheduled work waits for it"));
    std::call_once(gPreRoutineAdded, [] { qAddPreRoutine(&QtScheduler::wakeWaitingSchedulers); });
    bool appeared = false;
    {
        std::lock_guard lock(gWaitingMutex);
        // The application object is published before its pre-routines run, and they take
        // this lock: either they find this scheduler in the list, or it is seen here.
        appeared = QCoreApplication::instance() != nullptr;
        if (!appeared && std::find(gWaiting.begin(), gWaiting.end(), this) == gWaiting.end())
            gWaiting.push_back(this);
    }
    if (appeared)
        wake();
}

void QtScheduler::wakeWaitingSchedulers()
{
    std::vector<QtScheduler*> waiting;
    {
        std::lock_guard lock(gWaitingMutex);
        // Called at once when a later application object was already destroyed.
        if (QCoreApplication::instance() == nullptr)
            return;
        waiting.swap(gWaiting);
    }
    for (QtScheduler* scheduler : waiting)
        scheduler->wake();
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
    if (!mTimer) {
        // drain() runs on the context's thread, so the timer is made there.
        mTimer = std::make_unique<QTimer>();
        mTimer->setSingleShot(true);
        mTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(mTimer.get(), &QTimer::timeout, context(), [this] { drain(); });
    }
    const double wait = *earliest - now();
    const int ms = wait <= 0 ? 0 : int(std::min(std::ceil(wait * 1000.0), 2.0e9));
    mTimer->start(ms);
}

} // namespace corvex
