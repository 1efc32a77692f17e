#include "platform/core/Operation.h"

#include "platform/core/Log.h"
#include "platform/core/OperationQueue_p.h"

#include <algorithm>
#include <cstring>

namespace corvex {
namespace {

constexpr const char* ExecutingKey = "isExecuting";
constexpr const char* FinishedKey = "isFinished";
constexpr const char* CancelledKey = "isCancelled";
constexpr const char* ReadyKey = "isReady";

// Index of a key the base class observes; -1 for a key of a subclass.
int keyIndex(const char* key)
{
    if (key == nullptr)
        return -1;
    const char* keys[] = {ExecutingKey, FinishedKey, CancelledKey, ReadyKey};
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(key, keys[i]) == 0)
            return i;
    }
    return -1;
}

} // namespace

Operation::Operation() = default;

Operation::~Operation() = default;

void Operation::start()
{
    if (isExecuting() || isFinished() || mStarted.load()) {
        Log::assertionFailure(QStringLiteral("start of operation %1 that has already started").arg(name()));
        return;
    }
    if (!isReady()) {
        Log::assertionFailure(QStringLiteral("start of operation %1 that is not ready").arg(name()));
        return;
    }
    if (mStarted.exchange(true)) {
        Log::assertionFailure(QStringLiteral("start of operation %1 that has already started").arg(name()));
        return;
    }
    if (isCancelled()) {
        willChangeValueForKey(FinishedKey);
        mFinished.store(true);
        didChangeValueForKey(FinishedKey);
        return;
    }
    willChangeValueForKey(ExecutingKey);
    mExecuting.store(true);
    didChangeValueForKey(ExecutingKey);

    main();

    willChangeValueForKey(ExecutingKey);
    willChangeValueForKey(FinishedKey);
    mExecuting.store(false);
    mFinished.store(true);
    didChangeValueForKey(ExecutingKey);
    didChangeValueForKey(FinishedKey);
}

void Operation::main() {}

bool Operation::isAsynchronous() const
{
    return false;
}

bool Operation::isExecuting() const
{
    return mExecuting.load();
}

bool Operation::isFinished() const
{
    return mFinished.load();
}

bool Operation::isCancelled() const
{
    return mCancelled.load();
}

bool Operation::isReady() const
{
    if (isCancelled())
        return true;
    const std::vector<std::shared_ptr<Operation>> dependencies = this->dependencies();
    return std::all_of(dependencies.begin(), dependencies.end(),
                       [](const std::shared_ptr<Operation>& dependency) { return dependency->isFinished(); });
}

void Operation::cancel()
{
    if (mCancelled.load() || isFinished())
        return;
    willChangeValueForKey(CancelledKey);
    willChangeValueForKey(ReadyKey);
    mCancelled.store(true);
    didChangeValueForKey(CancelledKey);
    didChangeValueForKey(ReadyKey);
}

void Operation::addDependency(std::shared_ptr<Operation> operation)
{
    if (!operation || operation.get() == this) {
        Log::assertionFailure(
            QStringLiteral("operation %1 cannot depend on itself or on nothing").arg(name()));
        return;
    }
    {
        std::lock_guard lock(mMutex);
        if (std::find(mDependencies.begin(), mDependencies.end(), operation) != mDependencies.end())
            return;
        mDependencies.push_back(operation);
    }
    const std::weak_ptr<Operation> self = weak_from_this();
    if (self.expired()) {
        // Without an owner nobody could be told when the dependency finishes.
        Log::assertionFailure(
            QStringLiteral("operation %1 is not held by a shared pointer; its readiness is not announced")
                .arg(name()));
        return;
    }
    // When the dependency has already told its dependants, this one missed it: readiness is
    // simply read back when the queue looks next.
    operation->addDependant(self);
    willChangeValueForKey(ReadyKey);
    didChangeValueForKey(ReadyKey);
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation)
{
    if (!operation)
        return;
    {
        std::lock_guard lock(mMutex);
        const auto it = std::find(mDependencies.begin(), mDependencies.end(), operation);
        if (it == mDependencies.end())
            return;
        mDependencies.erase(it);
    }
    operation->removeDependant(this);
    willChangeValueForKey(ReadyKey);
    didChangeValueForKey(ReadyKey);
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const
{
    std::lock_guard lock(mMutex);
    return mDependencies;
}

void Operation::setCompletionBlock(Task block)
{
    std::lock_guard lock(mMutex);
    mCompletionBlock = std::move(block);
}

void Operation::setName(const QString& name)
{
    std::lock_guard lock(mMutex);
    mName = name;
}

QString Operation::name() const
{
    std::lock_guard lock(mMutex);
    return mName;
}

void Operation::waitUntilFinished()
{
    std::unique_lock lock(mMutex);
    if (mFinishingThread == std::this_thread::get_id())
        return; // asked by the completion block: the operation has finished
    mFinishCondition.wait(lock, [this] { return mFinishProcessed; });
}

void Operation::willChangeValueForKey(const char* key)
{
    const int index = keyIndex(key);
    if (index >= 0)
        mOpenChanges[index].fetch_add(1);
}

void Operation::didChangeValueForKey(const char* key)
{
    const int index = keyIndex(key);
    if (index < 0)
        return;
    if (mOpenChanges[index].fetch_sub(1) <= 0) {
        mOpenChanges[index].fetch_add(1);
        Log::assertionFailure(
            QStringLiteral("didChangeValueForKey(%1) without willChangeValueForKey").arg(QLatin1String(key)));
    }
    switch (index) {
    case 1: // isFinished
        if (isFinished())
            observeFinished();
        break;
    case 2: // isCancelled: a cancelled operation is ready
    case 3: // isReady
        observeReadinessChange();
        break;
    default:
        break;
    }
}

bool Operation::attachToQueue(std::shared_ptr<detail::OperationQueueCore> queue)
{
    std::lock_guard lock(mMutex);
    if (mQueue || mFinishSeen.load() || mStarted.load())
        return false;
    mQueue = std::move(queue);
    return true;
}

void Operation::observeFinished()
{
    if (mFinishSeen.exchange(true))
        return;
    // The queue may hold the last owning reference and drop it below.
    const std::shared_ptr<Operation> keepAlive = weak_from_this().lock();
    Task completion;
    std::vector<std::weak_ptr<Operation>> dependants;
    std::shared_ptr<detail::OperationQueueCore> queue;
    {
        std::lock_guard lock(mMutex);
        mFinishingThread = std::this_thread::get_id();
        completion = std::move(mCompletionBlock);
        mCompletionBlock = nullptr;
        dependants.swap(mDependants);
        mDependantsNotified = true;
        queue = std::move(mQueue);
        mQueue = nullptr;
    }
    if (completion)
        completion();
    completion = nullptr;
    for (const std::weak_ptr<Operation>& weak : dependants) {
        if (const std::shared_ptr<Operation> dependant = weak.lock()) {
            dependant->willChangeValueForKey(ReadyKey);
            dependant->didChangeValueForKey(ReadyKey);
        }
    }
    if (queue)
        queue->operationFinished(this);
    {
        std::lock_guard lock(mMutex);
        mFinishProcessed = true;
        mFinishingThread = std::thread::id();
    }
    mFinishCondition.notify_all();
}

void Operation::observeReadinessChange()
{
    std::shared_ptr<detail::OperationQueueCore> queue;
    {
        std::lock_guard lock(mMutex);
        queue = mQueue;
    }
    // Not here: the announcement may come with the operation's own lock held, and the
    // queue would call back into every waiting operation.
    if (queue)
        queue->requestPump(false);
}

bool Operation::addDependant(const std::weak_ptr<Operation>& dependant)
{
    std::lock_guard lock(mMutex);
    if (mDependantsNotified)
        return false;
    std::erase_if(mDependants, [](const std::weak_ptr<Operation>& weak) { return weak.expired(); });
    mDependants.push_back(dependant);
    return true;
}

void Operation::removeDependant(const Operation* dependant)
{
    std::lock_guard lock(mMutex);
    std::erase_if(mDependants, [dependant](const std::weak_ptr<Operation>& weak) {
        const std::shared_ptr<Operation> strong = weak.lock();
        return !strong || strong.get() == dependant;
    });
}

} // namespace corvex
