#include "platform/core/MainQueue.h"
#include "platform/core/QueueLabels.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <QElapsedTimer>
#include <QString>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

TEST(MainQueueVirtualTime, RunsBlocksInDeadlineOrderWithTheClockAtEachDeadline)
{
    ScopedVirtualTime time;
    const double start = time.now();
    std::vector<QString> order;
    std::vector<double> clocks;
    auto record = [&](QString name) {
        return [&, name] {
            order.push_back(name);
            clocks.push_back(MediaClock::now() - start);
        };
    };
    MainQueue::postAfter(0.3, record(QStringLiteral("0.3")));
    MainQueue::postAfter(0.1, record(QStringLiteral("0.1")));
    MainQueue::postAfter(0.2, record(QStringLiteral("0.2 first")));
    MainQueue::postAfter(0.2, record(QStringLiteral("0.2 second")));

    EXPECT_EQ(time.advance(0.0999), 0);
    EXPECT_TRUE(order.empty());

    time.advance(0.3 - 0.0999);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0], QStringLiteral("0.1"));
    EXPECT_EQ(order[1], QStringLiteral("0.2 first"));
    EXPECT_EQ(order[2], QStringLiteral("0.2 second"));
    EXPECT_EQ(order[3], QStringLiteral("0.3"));
    // The clock inside each block is the block's deadline, computed as start + delay.
    EXPECT_EQ(clocks[0] + start, start + 0.1);
    EXPECT_EQ(clocks[1] + start, start + 0.2);
    EXPECT_EQ(clocks[2] + start, start + 0.2);
    EXPECT_EQ(clocks[3] + start, start + 0.3);
}

TEST(MainQueueVirtualTime, AnHourAheadCostsNoWallTime)
{
    ScopedVirtualTime time;
    bool ran = false;
    MainQueue::postAfter(3600, [&] { ran = true; });
    QElapsedTimer wall;
    wall.start();
    time.advance(3599.5);
    EXPECT_FALSE(ran);
    time.advance(0.5);
    EXPECT_TRUE(ran);
    EXPECT_LT(wall.elapsed(), 1000);
}

TEST(MainQueueVirtualTime, BlocksScheduledDuringAnAdvanceRunWhenDueInsideIt)
{
    ScopedVirtualTime time;
    std::vector<int> order;
    MainQueue::postAfter(0.1, [&] {
        order.push_back(1);
        MainQueue::postAfter(0.1, [&] { order.push_back(3); });
        MainQueue::post([&] { order.push_back(2); });
    });
    MainQueue::postAfter(1.0, [&] { order.push_back(4); });
    time.advance(0.5);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    time.advance(0.5);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(MainQueueVirtualTime, CancelledBlocksNeverRun)
{
    ScopedVirtualTime time;
    int runs = 0;
    const auto id = MainQueue::postAfter(0.1, [&] { ++runs; });
    MainQueue::postAfter(0.2, [&] { ++runs; });
    MainQueue::cancel(id);
    MainQueue::cancel(id); // twice is harmless
    time.advance(1);
    EXPECT_EQ(runs, 1);
}

TEST(MainQueueVirtualTime, ClockIsNeverZero)
{
    ScopedVirtualTime time(0.0);
    EXPECT_GT(MediaClock::now(), 0.0);
}

TEST(MainQueueQtLoop, PostFromAnotherThreadRunsOnTheMainThreadWithTheMainLabel)
{
    std::atomic<bool> ran{false};
    bool onMain = false;
    char label[QueueLabels::MaxLabelLength + 1] = {};
    std::thread worker([&] {
        MainQueue::post([&] {
            onMain = MainQueue::isMainThread();
            QueueLabels::readCurrent(label, sizeof label);
            ran = true;
        });
    });
    worker.join();
    ASSERT_TRUE(corvex::test::runUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain);
    EXPECT_STREQ(label, MainQueue::Label);
}

TEST(MainQueueQtLoop, DelayedBlocksRunInDeadlineOrder)
{
    std::vector<int> order;
    MainQueue::postAfter(0.03, [&] { order.push_back(3); });
    MainQueue::postAfter(0.01, [&] { order.push_back(1); });
    MainQueue::post([&] { order.push_back(0); });
    MainQueue::postAfter(0.02, [&] { order.push_back(2); });
    ASSERT_TRUE(corvex::test::runUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(MainQueueVirtualTime, ANestedAdvanceNeverMovesTheClockBack)
{
    ScopedVirtualTime time;
    const double start = time.now();
    MainQueue::postAfter(0.1, [&] { time.advance(1.0); });
    time.advance(0.5);
    EXPECT_EQ(time.now(), start + 0.1 + 1.0);
}

TEST(MainQueueVirtualTime, CancellingATaskWhoseCaptureSchedulesOnDestructionDoesNotDeadlock)
{
    ScopedVirtualTime time;
    bool ranFromDestructor = false;
    struct PostsWhenDestroyed
    {
        explicit PostsWhenDestroyed(bool* f) : flag(f) {}
        bool* flag;
        ~PostsWhenDestroyed()
        {
            bool* f = flag;
            MainQueue::post([f] { *f = true; });
        }
    };
    auto capture = std::make_shared<PostsWhenDestroyed>(&ranFromDestructor);
    const auto id = MainQueue::postAfter(1.0, [capture] {});
    capture.reset();
    EXPECT_EQ(time.advance(0), 0);
    MainQueue::cancel(id); // destroys the capture, which posts
    time.advance(0);
    EXPECT_TRUE(ranFromDestructor);
}
