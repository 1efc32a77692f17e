#include "platform/core/OperationQueue.h"

#include "platform/core/BlockOperation.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/OperationQueue_p.h"
#include "platform/core/QueueLabels.h"

#include <atomic>
#include <climits>
#include <utility>

namespace corvex {

namespace detail {
namespace {

// Operations examined per look at the queue without its lock held.
constexpr std::size_t PumpChunk = 32;

QString makeName(QString name)
{
    static std::atomic<int> counter{0};
    if (name.isEmpty())
        name = QStringLiteral("com.tallowfen.corvex.operation-queue.%1").arg(++counter);
    return name;
}

} // namespace

OperationQueueCore::OperationQueueCore(QString name)
    : mName(makeName(std::move(name))), mLabel(mName.toUtf8())
{}

bool OperationQueueCore::add(const std::shared_ptr<Operation>& operation)
{
    // The operation's lock is only ever taken inside ours (never the other way round), so
    // its finish cannot slip between attaching and recording it.
    std::lock_guard lock(mMutex);
    if (!operation->attachToQueue(shared_from_this()))
        return false;
    const std::uint64_t sequence = mNextSequence++;
    mEntries.emplace(sequence, Entry{operation, false});
    mIndex.emplace(operation.get(), sequence);
    return true;
}

void OperationQueueCore::operationFinished(const Operation* operation)
{
    std::shared_ptr<Operation> released; // dropped after the lock
    bool empty = false;
    {
        std::lock_guard lock(mMutex);
        const auto found = mIndex.find(operation);
        if (found == mIndex.end())
            return;
        const auto entry = mEntries.find(found->second);
        if (entry->second.claimed)
            --mExecuting;
        released = std::move(entry->second.operation);
        mEntries.erase(entry);
        mIndex.erase(found);
        empty = mEntries.empty();
    }
    if (empty)
        mEmptyCondition.notify_all();
    requestPump(false);
}

void OperationQueueCore::requestPump(bool here)
{
    {
        std::lock_guard lock(mMutex);
        if (mPumpBusy) {
            // The running look at the queue goes round once more.
            mPumpAgain = true;
            return;
        }
        mPumpBusy = true;
    }
    if (here)
        pump();
    else
        GlobalQueue::async([self = shared_from_this()] { self->pump(); }, GlobalQueue::Priority::High);
}

int OperationQueueCore::freeSlotsLocked() const
{
    if (mSuspended)
        return 0;
    if (mMaxConcurrent < 0)
        return INT_MAX;
    return mMaxConcurrent - mExecuting;
}

// One look at the queue at a time (mPumpBusy), so operations are claimed in the order they
// were added. Readiness is asked without the lock: isReady() may call into other operations.
void OperationQueueCore::pump()
{
    while (true) {
        std::uint64_t cursor = 0;
        {
            std::lock_guard lock(mMutex);
            mPumpAgain = false;
        }
        while (true) {
            std::vector<std::pair<std::uint64_t, std::shared_ptr<Operation>>> waiting;
            int slots = 0;
            {
                std::lock_guard lock(mMutex);
                slots = freeSlotsLocked();
                if (slots > 0) {
                    for (auto it = mEntries.upper_bound(cursor);
                         it != mEntries.end() && waiting.size() < PumpChunk; ++it) {
                        if (!it->second.claimed)
                            waiting.emplace_back(it->first, it->second.operation);
                    }
                }
            }
            if (waiting.empty())
                break;
            std::vector<std::uint64_t> ready;
            for (const auto& [sequence, operation] : waiting) {
                cursor = sequence;
                if (operation->isReady()) {
                    ready.push_back(sequence);
                    if (int(ready.size()) >= slots)
                        break;
                }
            }
            std::vector<std::shared_ptr<Operation>> claimed;
            {
                std::lock_guard lock(mMutex);
                for (const std::uint64_t sequence : ready) {
                    if (freeSlotsLocked() <= 0)
                        break;
                    const auto entry = mEntries.find(sequence);
                    if (entry == mEntries.end() || entry->second.claimed)
                        continue;
                    entry->second.claimed = true;
                    ++mExecuting;
                    claimed.push_back(entry->second.operation);
                }
            }
            for (const std::shared_ptr<Operation>& operation : claimed)
                dispatch(operation);
        }
        std::lock_guard lock(mMutex);
        if (!mPumpAgain) {
            mPumpBusy = false;
            return;
        }
    }
}

namespace {
thread_local OperationQueueCore* tRunningQueueCore = nullptr;
}

OperationQueueCore* OperationQueueCore::current()
{
    return tRunningQueueCore;
}

void OperationQueueCore::dispatch(const std::shared_ptr<Operation>& operation)
{
    GlobalQueue::async([self = shared_from_this(), operation] {
        QueueLabels::Scope scope(self->mLabel.constData());
        OperationQueueCore* const outer = std::exchange(tRunningQueueCore, self.get());
        operation->start();
        tRunningQueueCore = outer;
    });
}

void OperationQueueCore::setMaxConcurrent(int count)
{
    {
        std::lock_guard lock(mMutex);
        mMaxConcurrent = count < 0 ? -1 : count;
    }
    requestPump(true);
}

int OperationQueueCore::maxConcurrent() const
{
    std::lock_guard lock(mMutex);
    return mMaxConcurrent;
}

void OperationQueueCore::setSuspended(bool suspended)
{
    {
        std::lock_guard lock(mMutex);
        mSuspended = suspended;
    }
    if (!suspended)
        requestPump(true);
}

bool OperationQueueCore::isSuspended() const
{
    std::lock_guard lock(mMutex);
    return mSuspended;
}

std::vector<std::shared_ptr<Operation>> OperationQueueCore::operations() const
{
    std::lock_guard lock(mMutex);
    std::vector<std::shared_ptr<Operation>> result;
    result.reserve(mEntries.size());
    for (const auto& [sequence, entry] : mEntries)
        result.push_back(entry.operation);
    return result;
}

int OperationQueueCore::count() const
{
    std::lock_guard lock(mMutex);
    return int(mEntries.size());
}

void OperationQueueCore::waitUntilEmpty()
{
    std::unique_lock lock(mMutex);
    mEmptyCondition.wait(lock, [this] { return mEntries.empty(); });
}

} // namespace detail

OperationQueue::OperationQueue(QString name)
    : mCore(std::make_shared<detail::OperationQueueCore>(std::move(name)))
{
    mCore->setOwner(this);
}

OperationQueue::~OperationQueue()
{
    mCore->setOwner(nullptr);
}

OperationQueue* OperationQueue::currentQueue()
{
    detail::OperationQueueCore* core = detail::OperationQueueCore::current();
    return core != nullptr ? core->owner() : nullptr;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    if (!operation)
        return;
    if (operation->isExecuting() || operation->isFinished() || !mCore->add(operation)) {
        Log::assertionFailure(
            QStringLiteral("operation %1 added to queue %2 while in a queue, started or finished")
                .arg(operation->name(), mCore->name()));
        return;
    }
    mCore->requestPump(true);
}

void OperationQueue::addOperationWithBlock(Task block)
{
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    mCore->setMaxConcurrent(count);
}

int OperationQueue::maxConcurrentOperationCount() const
{
    return mCore->maxConcurrent();
}

void OperationQueue::cancelAllOperations()
{
    for (const std::shared_ptr<Operation>& operation : mCore->operations())
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    mCore->waitUntilEmpty();
}

int OperationQueue::operationCount() const
{
    return mCore->count();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const
{
    return mCore->operations();
}

void OperationQueue::setSuspended(bool suspended)
{
    mCore->setSuspended(suspended);
}

bool OperationQueue::isSuspended() const
{
    return mCore->isSuspended();
}

QString OperationQueue::name() const
{
    return mCore->name();
}

} // namespace corvex
