#include "platform/core/SerialQueue.h"

#include "platform/core/AlternateSignalStack.h"
#include "platform/core/Log.h"
#include "platform/core/ProcessActivity.h"
#include "platform/core/Scheduler.h"
#include "platform/core/WorkerThread_p.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace corvex {
namespace {

// A sync caller waiting for its turn: the worker hands it the queue when it reaches it.
struct SyncTurn
{
    bool granted = false;
};

struct Entry
{
    SerialQueue::Task block;
    SyncTurn* turn = nullptr;
};

// Copies at most `capacity - 1` bytes without cutting a UTF-8 sequence in two.
void copyLabel(char* out, std::size_t capacity, const char* label)
{
    std::size_t length = label ? std::strlen(label) : 0;
    if (length > capacity - 1) {
        length = capacity - 1;
        while (length > 0 && (static_cast<unsigned char>(label[length]) & 0xC0u) == 0x80u)
            --length;
    }
    if (length > 0)
        std::memcpy(out, label, length);
    out[length] = '\0';
}

} // namespace

struct SerialQueue::State : std::enable_shared_from_this<SerialQueue::State>
{
    char label[QueueLabels::MaxLabelLength + 1] = {};
    SerialQueue::ThreadPriority priority = SerialQueue::ThreadPriority::Normal;

    std::mutex mutex;
    std::condition_variable workCondition; // the worker waits here
    std::condition_variable syncCondition; // sync callers wait here
    std::deque<Entry> pending;
    int suspendCount = 0;
    bool running = false;  // a block (async or sync) holds the queue
    bool stopping = false; // the owning object is gone: drain, then end
    bool workerAlive = false;
    bool workerWaiting = false;
    std::thread worker;
    std::atomic<std::thread::id> owner{}; // the thread running a block of this queue
    bool quitWaits = false;
    ProcessActivity::Token activity = 0; // open while a block is queued or running

    // Need the mutex.
    void beginActivityLocked()
    {
        if (quitWaits && activity == 0)
            activity = ProcessActivity::beginActivity(0, QString::fromUtf8(label));
    }
    void endActivityIfIdleLocked()
    {
        if (activity != 0 && pending.empty() && !running) {
            ProcessActivity::endActivity(activity);
            activity = 0;
        }
    }

    // Needs the mutex. Starts the worker if none runs; after the owner is gone the new
    // worker is detached, as nobody would join it.
    void ensureWorkerLocked()
    {
        if (workerAlive)
            return;
        std::thread thread([self = shared_from_this()] { self->workerMain(); }); // may throw
        workerAlive = true;
        if (stopping)
            thread.detach();
        else
            worker = std::move(thread);
    }

    void wakeWorkerLocked()
    {
        if (workerWaiting)
            workCondition.notify_one();
    }

    void enqueue(SerialQueue::Task block)
    {
        std::lock_guard lock(mutex);
        pending.push_back(Entry{std::move(block), nullptr});
        beginActivityLocked();
        ensureWorkerLocked();
        wakeWorkerLocked();
    }

    bool canStartLocked() const { return !running && suspendCount == 0 && !pending.empty(); }

    void workerMain()
    {
        AlternateSignalStack altStack; // a hook at thread start may have given one already
        detail::nameCurrentThread("corvex-serial");
        if (priority == SerialQueue::ThreadPriority::Background)
            detail::makeCurrentThreadBackground(SerialQueue::BackgroundNiceIncrement);
        {
            std::unique_lock lock(mutex);
            while (true) {
                if (!canStartLocked()) {
                    if (stopping && pending.empty())
                        break;
                    workerWaiting = true;
                    workCondition.wait(lock,
                                       [this] { return canStartLocked() || (stopping && pending.empty()); });
                    workerWaiting = false;
                    continue;
                }
                Entry entry = std::move(pending.front());
                pending.pop_front();
                running = true;
                if (entry.turn != nullptr) {
                    // The sync caller runs the block itself and gives the queue back.
                    entry.turn->granted = true;
                    syncCondition.notify_all();
                    continue;
                }
                owner.store(std::this_thread::get_id());
                lock.unlock();
                // Set for every block, so that a block which changed it does not mislabel the next.
                QueueLabels::setCurrent(label);
                detail::runQueueBlock(entry.block, label);
                entry.block = nullptr; // captured state goes away before the next block
                lock.lock();
                owner.store(std::thread::id());
                running = false;
                endActivityIfIdleLocked();
            }
            workerAlive = false;
        }
        QueueLabels::releaseCurrentThread();
    }
};

SerialQueue::SerialQueue(const char* label, ThreadPriority priority) : mState(std::make_shared<State>())
{
    copyLabel(mState->label, sizeof mState->label, label);
    mState->priority = priority;
}

SerialQueue::SerialQueue(const QString& label, ThreadPriority priority)
    : SerialQueue(label.toUtf8().constData(), priority)
{}

SerialQueue::~SerialQueue()
{
    std::thread worker;
    bool wasSuspended = false;
    {
        std::lock_guard lock(mState->mutex);
        if (mState->suspendCount > 0) {
            // Queued blocks must still run once: a suspended queue is resumed to drain.
            wasSuspended = true;
            mState->suspendCount = 0;
        }
        mState->stopping = true;
        mState->workCondition.notify_all();
        worker = std::move(mState->worker);
    }
    if (wasSuspended)
        Log::assertionFailure(QStringLiteral("destroying suspended queue %1").arg(label()));
    if (!worker.joinable())
        return;
    // From inside a block of this queue (its worker, or a sync caller holding it) a join
    // would wait for ourselves: the worker drains and ends on its own instead.
    if (worker.get_id() == std::this_thread::get_id() || isCurrent())
        worker.detach();
    else
        worker.join();
}

void SerialQueue::async(Task block)
{
    mState->enqueue(std::move(block));
}

void SerialQueue::sync(const Task& block)
{
    // A local owner: the block may destroy this object, and the state must outlive the
    // release below.
    const std::shared_ptr<State> keepAlive = mState;
    State& state = *keepAlive;
    if (isCurrent()) {
        Log::assertionFailure(QStringLiteral("sync on the current queue %1").arg(label()));
        block();
        return;
    }
    {
        std::unique_lock lock(state.mutex);
        if (!state.running && state.suspendCount == 0 && state.pending.empty()) {
            state.running = true;
        } else {
            state.ensureWorkerLocked(); // first: if it throws, no turn points into this frame
            SyncTurn turn;
            state.pending.push_back(Entry{nullptr, &turn});
            state.wakeWorkerLocked();
            state.syncCondition.wait(lock, [&turn] { return turn.granted; });
        }
        state.owner.store(std::this_thread::get_id());
    }
    struct Release
    {
        State& state;
        ~Release()
        {
            std::lock_guard lock(state.mutex);
            state.owner.store(std::thread::id());
            state.running = false;
            state.endActivityIfIdleLocked();
            state.wakeWorkerLocked();
        }
    } release{state};
    QueueLabels::Scope scope(state.label);
    block();
}

void SerialQueue::after(double seconds, Task block)
{
    // The shared state keeps the queue's thread able to run the block even if this object
    // is destroyed before the deadline.
    Scheduler::current().schedule(
        seconds, [state = mState, block = std::move(block)]() mutable { state->enqueue(std::move(block)); });
}

void SerialQueue::suspend()
{
    std::lock_guard lock(mState->mutex);
    ++mState->suspendCount;
}

void SerialQueue::resume()
{
    {
        std::lock_guard lock(mState->mutex);
        if (mState->suspendCount > 0) {
            if (--mState->suspendCount == 0)
                mState->wakeWorkerLocked();
            return;
        }
    }
    Log::assertionFailure(QStringLiteral("resume of queue %1 that is not suspended").arg(label()));
}

QString SerialQueue::label() const
{
    return QString::fromUtf8(mState->label);
}

const char* SerialQueue::labelData() const
{
    return mState->label;
}

bool SerialQueue::isCurrent() const
{
    return mState->owner.load() == std::this_thread::get_id();
}

void SerialQueue::setQuitWaitsForBlocks(bool waits)
{
    std::lock_guard lock(mState->mutex);
    mState->quitWaits = waits;
    if (waits && (mState->running || !mState->pending.empty()))
        mState->beginActivityLocked();
    else if (!waits && mState->activity != 0) {
        ProcessActivity::endActivity(mState->activity);
        mState->activity = 0;
    }
}

} // namespace corvex
