#pragma once

#include "platform/core/DeadlineQueue.h"
#include "platform/core/Scheduler.h"

#include <atomic>
#include <memory>
#include <mutex>

class QObject;
class QTimer;

namespace corvex {

// The production scheduler: tasks run on the thread of the QCoreApplication inside Qt's
// event loop, woken by a queued call or by one precise timer armed for the earliest
// deadline. Time is CLOCK_MONOTONIC.
//
// It may be made and used on any thread, also before the application object exists: the
// object that receives its queued calls is made on first need, for the application's
// thread, and work scheduled before there is an application waits for it and runs once its
// event loop turns. Destroy it on the application's thread (or after the application is
// gone); tasks still pending are dropped.
class QtScheduler final : public Scheduler
{
public:
    QtScheduler();
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    double now() const override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;

private:
    // The object on the application's thread that queued drains go to; null while there is
    // no application object.
    QObject* context();
    void wake();
    void drain();
    void arm();
    // Wakes the schedulers that had work before the application object existed; runs while
    // the application object is being made (a Qt pre-routine).
    static void wakeWaitingSchedulers();
    void waitForApplication();

    DeadlineQueue mQueue;
    std::mutex mContextMutex;
    std::unique_ptr<QObject> mContext; // on the application's thread; guarded by mContextMutex
    std::unique_ptr<QTimer> mTimer;    // the application's thread only, made on first use
    std::atomic<bool> mDrainPosted{false};
};

} // namespace corvex
