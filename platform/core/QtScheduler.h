#pragma once

#include "platform/core/DeadlineQueue.h"
#include "platform/core/Scheduler.h"

#include <atomic>

class QObject;
class QTimer;

namespace corvex {

// The production scheduler: tasks run on the thread of the QCoreApplication inside Qt's
// event loop, woken by a queued call or by one precise timer armed for the earliest
// deadline. Time is CLOCK_MONOTONIC.
class QtScheduler final : public Scheduler
{
public:
    QtScheduler();
    ~QtScheduler() override;

    double now() const override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;

private:
    void wake();
    void drain();
    void arm();

    DeadlineQueue mQueue;
    QObject* mContext;        // lives on the main thread; receives the queued drains
    QTimer* mTimer = nullptr; // main thread only, made on first use
    std::atomic<bool> mDrainPosted{false};
};

} // namespace corvex
