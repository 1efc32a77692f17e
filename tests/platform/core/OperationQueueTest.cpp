#include "platform/core/OperationQueue.h"
#include "platform/core/BlockOperation.h"
#include "platform/core/Log.h"
#include "platform/core/Operation.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/Semaphore.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::InFlight;
using corvex::test::runUntil;

namespace {

// Records names in the order they happen, from any thread.
class Journal
{
public:
    void add(const std::string& entry)
    {
        std::lock_guard lock(mMutex);
        mEntries.push_back(entry);
    }
    std::vector<std::string> entries() const
    {
        std::lock_guard lock(mMutex);
        return mEntries;
    }
    std::size_t size() const
    {
        std::lock_guard lock(mMutex);
        return mEntries.size();
    }

private:
    mutable std::mutex mMutex;
    std::vector<std::string> mEntries;
};

std::shared_ptr<BlockOperation> journalOperation(Journal& journal, const std::string& name)
{
    auto operation = std::make_shared<BlockOperation>([&journal, name] { journal.add(name); });
    operation->setName(QString::fromStdString(name));
    return operation;
}

// An asynchronous operation in the way later modules write them: its own flags under its
// own recursive lock, announced with the change hooks while the lock is held; it finishes
// when the test (another thread) says so.
class ManualOperation : public Operation
{
public:
    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override
    {
        std::lock_guard lock(mLock);
        return mExecutingFlag;
    }
    bool isFinished() const override
    {
        std::lock_guard lock(mLock);
        return mFinishedFlag;
    }

    void start() override
    {
        std::lock_guard lock(mLock);
        startThread = std::this_thread::get_id();
        if (isCancelled()) {
            finishLocked();
            return;
        }
        willChangeValueForKey("isExecuting");
        mExecutingFlag = true;
        didChangeValueForKey("isExecuting");
        started = true;
    }

    void finish()
    {
        std::lock_guard lock(mLock);
        finishLocked();
    }

    std::atomic<bool> started{false};
    std::thread::id startThread;

private:
    void finishLocked()
    {
        willChangeValueForKey("isExecuting");
        willChangeValueForKey("isFinished");
        mExecutingFlag = false;
        mFinishedFlag = true;
        didChangeValueForKey("isExecuting");
        didChangeValueForKey("isFinished"); // observers read isFinished() back under our lock
    }

    mutable std::recursive_mutex mLock;
    bool mExecutingFlag = false;
    bool mFinishedFlag = false;
};

} // namespace

TEST(OperationQueue, NeverRunsMoreThanTheMaximumAtOnce)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.limited"));
    EXPECT_EQ(queue.maxConcurrentOperationCount(), OperationQueue::DefaultMaxConcurrentOperationCount);
    queue.setMaxConcurrentOperationCount(3);
    InFlight inFlight;
    std::atomic<int> ran{0};
    const int count = corvex::test::heavyScale(120, 40);
    for (int i = 0; i < count; ++i) {
        queue.addOperationWithBlock([&] {
            inFlight.enter();
            std::this_thread::sleep_for(std::chrono::microseconds(500)); // provokes overlap
            inFlight.leave();
            ++ran;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), count);
    EXPECT_LE(inFlight.most.load(), 3);
    EXPECT_GE(inFlight.most.load(), 1);
    EXPECT_EQ(queue.operationCount(), 0);
    EXPECT_TRUE(queue.operations().empty());
}

TEST(OperationQueue, UnlimitedQueueRunsOperationsSideBySide)
{
    OperationQueue queue;
    EXPECT_FALSE(queue.name().isEmpty()) << "a generated name";
    // Both must be running at once for either to finish.
    Semaphore first;
    Semaphore second;
    std::atomic<bool> timedOut{false};
    queue.addOperationWithBlock([&] {
        first.signal();
        if (!second.wait(20.0))
            timedOut = true;
    });
    queue.addOperationWithBlock([&] {
        second.signal();
        if (!first.wait(20.0))
            timedOut = true;
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(timedOut.load());
}

TEST(OperationQueue, StartsOperationsInTheOrderTheyWereAdded)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.ordered"));
    queue.setMaxConcurrentOperationCount(1);
    Journal journal;
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) {
        expected.push_back(std::to_string(i));
        queue.addOperation(journalOperation(journal, expected.back()));
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.entries(), expected);
}

TEST(OperationQueue, RunsOperationsWithTheQueueNameAsThreadLabel)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.labelled"));
    std::string label;
    queue.addOperationWithBlock([&] {
        char buffer[QueueLabels::MaxLabelLength + 1];
        QueueLabels::readCurrent(buffer, sizeof buffer);
        label = buffer;
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(label, "com.tallowfen.corvex.test.labelled");
}

TEST(OperationQueue, DependenciesRunFirstEvenWhenAddedLater)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.dependencies"));
    Journal journal;
    auto first = journalOperation(journal, "first");
    auto second = journalOperation(journal, "second");
    auto third = journalOperation(journal, "third");
    third->addDependency(second);
    second->addDependency(first);
    EXPECT_FALSE(third->isReady());
    EXPECT_EQ(third->dependencies(), (std::vector<std::shared_ptr<Operation>>{second}));
    queue.addOperation(third);
    queue.addOperation(second);
    queue.addOperation(first);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_TRUE(third->isReady());
}

TEST(OperationQueue, DependenciesWorkAcrossQueues)
{
    OperationQueue producer(QStringLiteral("com.tallowfen.corvex.test.producer"));
    OperationQueue consumer(QStringLiteral("com.tallowfen.corvex.test.consumer"));
    producer.setSuspended(true);
    Journal journal;
    auto make = journalOperation(journal, "make");
    auto use = journalOperation(journal, "use");
    use->addDependency(make);
    consumer.addOperation(use);
    producer.addOperation(make);
    EXPECT_EQ(consumer.operationCount(), 1);
    EXPECT_EQ(journal.size(), 0u);
    producer.setSuspended(false);
    use->waitUntilFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"make", "use"}));
    consumer.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(consumer.operationCount(), 0);
}

TEST(OperationQueue, DependencyThatFinishedBeforehandDoesNotHoldTheOperation)
{
    OperationQueue queue;
    Journal journal;
    auto done = journalOperation(journal, "done");
    queue.addOperation(done);
    done->waitUntilFinished();
    auto later = journalOperation(journal, "later");
    later->addDependency(done);
    EXPECT_TRUE(later->isReady());
    queue.addOperation(later);
    later->waitUntilFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"done", "later"}));
}

TEST(OperationQueue, RemovingTheLastUnfinishedDependencyMakesItReady)
{
    OperationQueue queue;
    Journal journal;
    auto never = journalOperation(journal, "never");
    auto waiting = journalOperation(journal, "waiting");
    waiting->addDependency(never);
    queue.addOperation(waiting);
    EXPECT_FALSE(waiting->isReady());
    waiting->removeDependency(never);
    waiting->waitUntilFinished();
    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"waiting"}));
}

TEST(OperationQueue, CancelledBeforeStartFinishesWithoutMainAndRunsItsCompletionOnce)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.cancel"));
    queue.setSuspended(true);
    EXPECT_TRUE(queue.isSuspended());
    std::atomic<int> mainRuns{0};
    std::atomic<int> completions{0};
    auto blocker = std::make_shared<BlockOperation>([] {});
    auto operation = std::make_shared<BlockOperation>([&] { ++mainRuns; });
    operation->addDependency(blocker); // never added to a queue: only cancellation frees it
    operation->setCompletionBlock([&] { ++completions; });
    queue.addOperation(operation);
    EXPECT_FALSE(operation->isReady());
    operation->cancel();
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_TRUE(operation->isReady()) << "a cancelled operation no longer waits for its dependencies";
    EXPECT_FALSE(operation->isFinished()) << "it still has to be started";
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(operation->isFinished());
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_EQ(mainRuns.load(), 0);
    EXPECT_EQ(completions.load(), 1);
}

TEST(OperationQueue, CancelAllOperationsCancelsWaitingOnesAndTheyStillLeave)
{
    OperationQueue queue;
    queue.setSuspended(true);
    std::atomic<int> mainRuns{0};
    std::atomic<int> completions{0};
    std::vector<std::shared_ptr<Operation>> added;
    for (int i = 0; i < 10; ++i) {
        auto operation = std::make_shared<BlockOperation>([&] { ++mainRuns; });
        operation->setCompletionBlock([&] { ++completions; });
        queue.addOperation(operation);
        added.push_back(operation);
    }
    EXPECT_EQ(queue.operationCount(), 10);
    EXPECT_EQ(queue.operations(), added);
    queue.cancelAllOperations();
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(mainRuns.load(), 0);
    EXPECT_EQ(completions.load(), 10);
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, AsynchronousOperationKeepsItsSlotUntilItAnnouncesFinished)
{
    OperationQueue queue(QStringLiteral("com.tallowfen.corvex.test.async"));
    queue.setMaxConcurrentOperationCount(1);
    auto manual = std::make_shared<ManualOperation>();
    std::atomic<int> completions{0};
    manual->setCompletionBlock([&] { ++completions; });
    std::atomic<bool> nextRan{false};
    std::atomic<bool> manualWasFinished{false};
    auto next = std::make_shared<BlockOperation>([&] {
        manualWasFinished = manual->isFinished();
        nextRan = true;
    });
    queue.addOperation(manual);
    queue.addOperation(next);
    ASSERT_TRUE(runUntil([&] { return manual->started.load(); }));
    EXPECT_TRUE(manual->isExecuting());
    EXPECT_FALSE(runUntil([&] { return nextRan.load(); }, 0.05)) << "the slot is still taken";
    EXPECT_EQ(queue.operationCount(), 2);

    std::thread finisher([&] { manual->finish(); });
    finisher.join();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(nextRan.load());
    EXPECT_TRUE(manualWasFinished.load());
    EXPECT_EQ(completions.load(), 1);
    EXPECT_FALSE(manual->isExecuting());
}

TEST(OperationQueue, AsynchronousOperationsFinishingOnManyThreadsAllLeave)
{
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(4);
    const int count = corvex::test::heavyScale(200, 50);
    std::vector<std::shared_ptr<ManualOperation>> operations;
    for (int i = 0; i < count; ++i) {
        operations.push_back(std::make_shared<ManualOperation>());
        if (i > 0 && i % 10 == 0)
            operations.back()->addDependency(operations[i - 1]);
        queue.addOperation(operations.back());
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> finishers;
    for (int t = 0; t < 4; ++t) {
        finishers.emplace_back([&, t] {
            while (!stop.load()) {
                for (int i = t; i < count; i += 4) {
                    if (operations[i]->started.load() && !operations[i]->isFinished())
                        operations[i]->finish();
                }
                std::this_thread::yield();
            }
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    stop = true;
    for (std::thread& finisher : finishers)
        finisher.join();
    int unfinished = 0;
    for (const auto& operation : operations)
        unfinished += !operation->isFinished();
    EXPECT_EQ(unfinished, 0);
}

TEST(OperationQueue, WaitUntilAllOperationsAreFinishedWaitsForEveryCompletion)
{
    OperationQueue queue;
    std::atomic<int> completions{0};
    const int count = corvex::test::heavyScale(500, 100);
    for (int i = 0; i < count; ++i) {
        auto operation = std::make_shared<BlockOperation>([] {});
        operation->addExecutionBlock([] {});
        operation->setCompletionBlock([&] { ++completions; });
        queue.addOperation(operation);
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(completions.load(), count);
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(Operation, StartedDirectlyRunsMainOnTheCallerAndItsBlocksInOrder)
{
    std::vector<int> order;
    std::atomic<int> completions{0};
    std::thread::id completionThread;
    auto operation = std::make_shared<BlockOperation>([&] { order.push_back(1); });
    operation->addExecutionBlock([&] { order.push_back(2); });
    EXPECT_EQ(operation->executionBlocks().size(), 2u);
    operation->setCompletionBlock([&] {
        completionThread = std::this_thread::get_id();
        ++completions;
    });
    EXPECT_FALSE(operation->isAsynchronous());
    EXPECT_TRUE(operation->isReady());
    operation->start();
    operation->waitUntilFinished();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(completions.load(), 1);
    EXPECT_EQ(completionThread, std::this_thread::get_id()) << "on the thread that finished it";
}

TEST(Operation, MisuseIsReportedAndIgnored)
{
    corvex::test::LogCapture log;
    int runs = 0;
    auto operation = std::make_shared<BlockOperation>([&] { ++runs; });
    operation->setName(QStringLiteral("twice"));
    EXPECT_EQ(operation->name(), QStringLiteral("twice"));
    operation->addDependency(operation);
    EXPECT_TRUE(operation->dependencies().empty());
    operation->start();
    operation->start();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("start of operation twice that has already started")));

    auto blocked = std::make_shared<BlockOperation>([&] { ++runs; });
    blocked->addDependency(std::make_shared<BlockOperation>());
    blocked->start();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("that is not ready")));

    OperationQueue first;
    OperationQueue second;
    first.setSuspended(true);
    auto shared = std::make_shared<BlockOperation>([&] { ++runs; });
    first.addOperation(shared);
    second.addOperation(shared);
    first.addOperation(operation); // already finished
    EXPECT_EQ(second.operationCount(), 0);
    EXPECT_EQ(first.operationCount(), 1);
    EXPECT_EQ(log.count(QStringLiteral("while in a queue, started or finished")), 2);
    first.setSuspended(false);
    first.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(runs, 2);
}
