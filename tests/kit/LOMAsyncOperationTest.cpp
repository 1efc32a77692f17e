#include "kit/core/LOMAsyncOperation.h"

#include "platform/core/OperationQueue.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;

namespace {

// Records what the base class announces and what main() saw.
class RecordingAsyncOperation : public LOMAsyncOperation
{
public:
    QString className() const override { return QStringLiteral("RecordingAsyncOperation"); }
    void main() override
    {
        mainRuns.fetch_add(1);
        if (onMain)
            onMain();
        if (finishInMain)
            finishWithError(Error());
    }

    std::atomic<int> mainRuns{0};
    bool finishInMain = false;
    std::function<void()> onMain;
};

} // namespace

TEST(LOMAsyncOperation, CancelledBeforeStartFinishesWithoutMainOrCompletion)
{
    auto operation = std::make_shared<RecordingAsyncOperation>();
    int completions = 0;
    operation->setAsyncCompletion([&](const Error&) { ++completions; });
    operation->cancel();
    operation->start();
    EXPECT_EQ(operation->mainRuns.load(), 0);
    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_TRUE(operation->isFinished());
}

TEST(LOMAsyncOperation, StartMarksExecutingUntilFinished)
{
    auto operation = std::make_shared<RecordingAsyncOperation>();
    EXPECT_TRUE(operation->isAsynchronous());
    EXPECT_TRUE(operation->isConcurrent());
    EXPECT_EQ(operation->lockName(), QStringLiteral("com.loomworks.RecordingAsyncOperation-lock"));
    operation->start();
    EXPECT_EQ(operation->mainRuns.load(), 1);
    EXPECT_TRUE(operation->isExecuting());
    EXPECT_FALSE(operation->isFinished());
    operation->markDone();
    EXPECT_FALSE(operation->isExecuting());
    EXPECT_TRUE(operation->isFinished());
}

TEST(LOMAsyncOperation, CompletionRunsOnceWithTheErrorBeforeFinished)
{
    auto operation = std::make_shared<RecordingAsyncOperation>();
    int calls = 0;
    bool finishedDuringCompletion = true;
    Error seen;
    operation->setAsyncCompletion([&](const Error& error) {
        ++calls;
        seen = error;
        // Outside the lock: the block may ask the operation.
        finishedDuringCompletion = operation->isFinished();
    });
    operation->start();
    const Error failure(QStringLiteral("LOMNetworkError"), -6);
    operation->finishWithError(failure);
    operation->finishWithError(Error());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, failure);
    EXPECT_FALSE(finishedDuringCompletion);
    EXPECT_TRUE(operation->isFinished());
}

TEST(LOMAsyncOperation, NullErrorIsPassedAndNoCompletionOnlyFinishes)
{
    auto withBlock = std::make_shared<RecordingAsyncOperation>();
    bool called = false;
    withBlock->setAsyncCompletion([&](const Error& error) {
        called = true;
        EXPECT_TRUE(error.isNull());
    });
    withBlock->start();
    withBlock->finishWithError(Error());
    EXPECT_TRUE(called);

    auto without = std::make_shared<RecordingAsyncOperation>();
    without->start();
    without->finishWithError(Error());
    EXPECT_TRUE(without->isFinished());
}

TEST(LOMAsyncOperation, QueueSlotIsHeldUntilTheWorkFinishesLater)
{
    OperationQueue queue(QStringLiteral("kit.async.test"));
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<RecordingAsyncOperation>();
    auto second = std::make_shared<RecordingAsyncOperation>();
    second->finishInMain = true;
    std::promise<void> firstRan;
    first->onMain = [&] { firstRan.set_value(); };
    queue.addOperation(first);
    queue.addOperation(second);
    firstRan.get_future().wait();
    ASSERT_EQ(first->mainRuns.load(), 1);
    // main() has returned, but the work has not finished: the second still waits.
    EXPECT_EQ(second->mainRuns.load(), 0);
    EXPECT_EQ(queue.operationCount(), 2);
    std::thread finisher([&] { first->finishWithError(Error()); });
    finisher.join();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(second->mainRuns.load(), 1);
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(LOMAsyncOperation, ReadersOnOtherThreadsSeeOldOrNewStateNeverTorn)
{
    for (int round = 0; round < 50; ++round) {
        auto operation = std::make_shared<RecordingAsyncOperation>();
        operation->start();
        std::atomic<bool> stop{false};
        std::atomic<int> torn{0};
        std::thread reader([&] {
            while (!stop.load()) {
                const bool finished = operation->isFinished();
                const bool executing = operation->isExecuting();
                // Finished never turns back, and once finished nothing executes.
                if (finished && executing)
                    torn.fetch_add(1);
            }
        });
        operation->markDone();
        stop.store(true);
        reader.join();
        EXPECT_EQ(torn.load(), 0);
    }
}
