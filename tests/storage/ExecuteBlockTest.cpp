#include "storage/ExecuteBlock.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>
#include <limits>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

TEST(ExecuteBlock, ExecuteRunsTheBlockAtOnceAndRepeatsRunItAgainOnTheMainQueue)
{
    ScopedVirtualTime time;
    auto repeater = ExecuteBlock::create();
    EXPECT_FALSE(repeater->checkRepeatState()) << "no block yet";
    int runs = 0;
    repeater->executeBlock([&] { ++runs; });
    EXPECT_EQ(runs, 1) << "at once, on the calling thread";
    EXPECT_TRUE(repeater->checkRepeatState());

    repeater->repeatAsync();
    EXPECT_EQ(runs, 1) << "never inside the call";
    time.runDue();
    EXPECT_EQ(runs, 2);

    repeater->repeatAsyncAfterDelay(1.5);
    time.advance(1.49);
    EXPECT_EQ(runs, 2);
    time.advance(0.01);
    EXPECT_EQ(runs, 3);
    repeater->markDone();
}

TEST(ExecuteBlock, APollingBlockRepeatsItselfUntilItMarksItselfDoneAndIsThenReleased)
{
    ScopedVirtualTime time;
    std::weak_ptr<ExecuteBlock> weak;
    int rounds = 0;
    {
        auto repeater = ExecuteBlock::create();
        weak = repeater;
        // The block holds its ExecuteBlock: only markDone() ends the cycle.
        repeater->executeBlock([&rounds, repeater] {
            if (++rounds == 4)
                repeater->markDone();
            else
                repeater->repeatAsyncAfterDelay(1.0);
        });
    }
    EXPECT_FALSE(weak.expired()) << "the running task keeps itself alive";
    time.advance(10);
    EXPECT_EQ(rounds, 4);
    EXPECT_TRUE(weak.expired()) << "markDone released the block and with it the task";
    EXPECT_EQ(time.scheduler().pendingCount(), 0u);
}

TEST(ExecuteBlock, AfterMarkDoneNothingRunsAndNothingIsScheduled)
{
    ScopedVirtualTime time;
    auto repeater = ExecuteBlock::create();
    int runs = 0;
    repeater->executeBlock([&] { ++runs; });
    repeater->markDone();
    EXPECT_TRUE(repeater->isDone());
    EXPECT_FALSE(repeater->checkRepeatState());

    repeater->executeBlock([&] { runs += 100; });
    EXPECT_EQ(runs, 1) << "executeBlock after markDone does not run the block";
    repeater->repeatAsyncAfterDelay(0.5);
    repeater->repeatAsync();
    EXPECT_EQ(time.scheduler().pendingCount(), 0u) << "repeats after markDone schedule nothing";
    time.advance(1);
    EXPECT_EQ(runs, 1);
}

TEST(ExecuteBlock, ARepeatAlreadyQueuedDoesNotRunOnceMarkedDone)
{
    ScopedVirtualTime time;
    auto repeater = ExecuteBlock::create();
    int runs = 0;
    repeater->executeBlock([&] { ++runs; });
    repeater->repeatAsyncAfterDelay(1.0);
    repeater->markDone();
    time.advance(2);
    EXPECT_EQ(runs, 1);
}

TEST(ExecuteBlock, InvalidDelaysRunInTheNextTurn)
{
    ScopedVirtualTime time;
    auto repeater = ExecuteBlock::create();
    int runs = 0;
    repeater->executeBlock([&] { ++runs; });
    repeater->repeatAsyncAfterDelay(-3);
    repeater->repeatAsyncAfterDelay(std::numeric_limits<double>::quiet_NaN());
    time.runDue();
    EXPECT_EQ(runs, 3);
    repeater->markDone();
}
