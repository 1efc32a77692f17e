#pragma once

// Private to platform/core: the shared state of an OperationQueue, which its operations
// reach while they are in it.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace corvex {
class Operation;
class OperationQueue;
} // namespace corvex

namespace corvex::detail {

class OperationQueueCore : public std::enable_shared_from_this<OperationQueueCore>
{
public:
    explicit OperationQueueCore(QString name);

    const QString& name() const { return mName; }

    // The OperationQueue object in front of this core, while it exists.
    void setOwner(OperationQueue* owner) { mOwner.store(owner); }
    OperationQueue* owner() const { return mOwner.load(); }
    // The core whose operation the calling thread runs.
    static OperationQueueCore* current();

    bool add(const std::shared_ptr<Operation>& operation);
    // From the operation once it has announced isFinished.
    void operationFinished(const Operation* operation);
    // Looks for ready operations to start. `here`: on the calling thread; otherwise on a
    // thread of the global queue, for callers that may hold an operation's lock.
    void requestPump(bool here);

    void setMaxConcurrent(int count);
    int maxConcurrent() const;
    void setSuspended(bool suspended);
    bool isSuspended() const;
    std::vector<std::shared_ptr<Operation>> operations() const;
    int count() const;
    void waitUntilEmpty();

private:
    struct Entry
    {
        std::shared_ptr<Operation> operation;
        bool claimed = false; // handed to a thread to start; holds a slot until finished
    };

    int freeSlotsLocked() const;
    void pump();
    void dispatch(const std::shared_ptr<Operation>& operation);

    const QString mName;
    const QByteArray mLabel;
    std::atomic<OperationQueue*> mOwner{nullptr};
    mutable std::mutex mMutex;
    std::condition_variable mEmptyCondition;
    std::map<std::uint64_t, Entry> mEntries; // by order of addition
    std::unordered_map<const Operation*, std::uint64_t> mIndex;
    std::uint64_t mNextSequence = 1;
    int mMaxConcurrent = -1;
    int mExecuting = 0;
    bool mSuspended = false;
    bool mPumpBusy = false;
    bool mPumpAgain = false;
};

} // namespace corvex::detail
