#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvex {

namespace detail {
class OperationQueueCore;
}

// A unit of work with a life cycle (ready, executing, finished), dependencies and
// cancellation, run by an OperationQueue or by calling start(). Always held by a
// std::shared_ptr: dependants and queues find each other through it.
//
// A synchronous operation overrides main(). An asynchronous one overrides start(),
// isAsynchronous(), isExecuting() and isFinished(), keeps its own flags and announces each
// change with willChangeValueForKey / didChangeValueForKey ("isExecuting", "isFinished");
// its queue slot stays taken until it announces "isFinished". The announcements may be made
// while the subclass holds its own (recursive) lock: observers read the flag back through
// the virtual getter on the same thread and never hold a lock of theirs while doing so.
class Operation : public std::enable_shared_from_this<Operation>
{
public:
    using Task = std::function<void()>;

    Operation();
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Default: a cancelled operation becomes finished without running main(); otherwise it
    // is executing while main() runs and finished afterwards. Starting an operation twice,
    // or before it is ready, is an assertion failure and does nothing.
    virtual void start();
    // The work of a synchronous operation; long work checks isCancelled() now and then.
    virtual void main();

    virtual bool isAsynchronous() const;
    virtual bool isExecuting() const;
    virtual bool isFinished() const;
    virtual bool isCancelled() const;
    // True once every dependency has finished, or once the operation is cancelled (a
    // cancelled operation must still be started so that it can finish).
    virtual bool isReady() const;
    // Only marks the operation: a running one decides itself when to stop.
    virtual void cancel();

    // The operation becomes ready only after `operation` has finished; it may belong to
    // another queue. Adding a dependency on itself is an assertion failure.
    void addDependency(std::shared_ptr<Operation> operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    // Runs once, after the operation has finished, on the thread that finished it; it is
    // released afterwards.
    void setCompletionBlock(Task block);

    void setName(const QString& name);
    QString name() const;

    // Blocks until the operation has finished and its completion block has run. Any thread
    // but the operation's own.
    void waitUntilFinished();

protected:
    // The change announcements of the keys "isExecuting", "isFinished", "isCancelled" and
    // "isReady", made in pairs around the change of the value. Observers act on the "did"
    // half and read the value back through its getter.
    void willChangeValueForKey(const char* key);
    void didChangeValueForKey(const char* key);

private:
    friend class detail::OperationQueueCore;

    // Queue side: false when the operation is already in a queue or has finished.
    bool attachToQueue(std::shared_ptr<detail::OperationQueueCore> queue);
    void observeFinished();
    void observeReadinessChange();
    bool addDependant(const std::weak_ptr<Operation>& dependant);
    void removeDependant(const Operation* dependant);

    mutable std::mutex mMutex;
    std::condition_variable mFinishCondition;
    QString mName;
    Task mCompletionBlock;
    std::vector<std::shared_ptr<Operation>> mDependencies;
    std::vector<std::weak_ptr<Operation>> mDependants;
    std::shared_ptr<detail::OperationQueueCore> mQueue; // until finished
    bool mDependantsNotified = false;
    bool mFinishProcessed = false;
    std::thread::id mFinishingThread;

    std::atomic<bool> mExecuting{false};
    std::atomic<bool> mFinished{false};
    std::atomic<bool> mCancelled{false};
    std::atomic<bool> mStarted{false};
    std::atomic<bool> mFinishSeen{false};
    std::atomic<int> mOpenChanges[4] = {};
};

} // namespace corvex
