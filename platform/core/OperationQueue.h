#pragma once

#include "platform/core/Operation.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

namespace detail {
class OperationQueueCore;
}

// Runs operations on threads of the global queue, each with the queue's name as its thread's
// queue label. Operations start in the order they were added once they are ready, at most
// maxConcurrentOperationCount at a time; a finished operation leaves the queue. Operations
// still in the queue when this object is destroyed go on (unless the queue is suspended).
class OperationQueue
{
public:
    using Task = std::function<void()>;

    static constexpr int DefaultMaxConcurrentOperationCount = -1; // no limit

    // An empty name is replaced by a generated one.
    explicit OperationQueue(QString name = QString());
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // An operation is in at most one queue, once, and not after it has started or finished:
    // anything else is an assertion failure and ignored.
    void addOperation(std::shared_ptr<Operation> operation);
    void addOperationWithBlock(Task block);

    // A negative count means no limit; 0 starts nothing.
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // Cancels every operation in the queue; waiting ones are still started so they finish.
    void cancelAllOperations();
    // Blocks until the queue is empty. Never from one of its own operations.
    void waitUntilAllOperationsAreFinished();

    // Operations not yet finished, in the order they were added.
    int operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;

    // A suspended queue starts no operation; running ones go on.
    void setSuspended(bool suspended);
    bool isSuspended() const;

    QString name() const;

    // The queue whose operation the calling thread is running; nullptr on any other thread
    // (and once that queue object is gone).
    static OperationQueue* currentQueue();

private:
    std::shared_ptr<detail::OperationQueueCore> mCore;
};

} // namespace corvex
