#pragma once

#include "platform/core/QueueLabels.h"
#include "platform/core/UniqueFunction.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

// A named serial queue: blocks run one at a time, in the order they were submitted, on a
// thread of the queue's own (made at the first async). The object may be destroyed from
// inside one of its own blocks; destroying it runs every block still queued first.
class SerialQueue
{
public:
    using Task = UniqueFunction<void()>;

    // How the queue's thread is scheduled beside the interface thread. Background work
    // (saving, deflating) runs as SCHED_BATCH, at a nice value BackgroundNiceIncrement above
    // the thread that starts it, so that on a busy or single core the woken queue does not
    // take the interface thread's time: woken, it never preempts the running thread (a plain
    // lower nice value does not stop that), and it gets a smaller share while both run.
    // Threads the queue's blocks start inherit both (Linux keeps them per thread).
    enum class ThreadPriority
    {
        Normal,
        Background,
    };
    static constexpr int BackgroundNiceIncrement = 10;

    // The label is copied (at most QueueLabels::MaxLabelLength bytes of UTF-8).
    explicit SerialQueue(const char* label, ThreadPriority priority = ThreadPriority::Normal);
    explicit SerialQueue(const QString& label, ThreadPriority priority = ThreadPriority::Normal);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Runs the block later on the queue's thread. Any thread.
    void async(Task block);

    // Runs the block on the calling thread once every block submitted before it has run,
    // with no other block of this queue running meanwhile and the queue's label as the
    // thread's label. Waits while the queue is suspended. Called from a block of this queue
    // it would never return: that is logged as an assertion failure and the block runs at
    // once instead. An exception from the block reaches the caller.
    void sync(const Task& block);

    // Submits the block with async once `seconds` have passed on the media clock (the
    // current scheduler decides when).
    void after(double seconds, Task block);

    // Counted: a suspended queue starts no new block (the running one goes on) until every
    // suspend has been matched by a resume.
    void suspend();
    void resume();

    QString label() const;
    const char* labelData() const;

    // True inside a block of this queue, including a block run by sync.
    bool isCurrent() const;

    // While on, the queue holds one process activity (ProcessActivity) from the moment a
    // block is queued until no block is left, so that the quit waits for the writes it
    // holds before the process ends: a block cut off by the end of the process would meet
    // libraries already taken down. Off by default.
    void setQuitWaitsForBlocks(bool waits);

private:
    struct State;
    std::shared_ptr<State> mState;
};

} // namespace corvex
