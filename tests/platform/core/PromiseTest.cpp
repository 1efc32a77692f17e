#include "platform/core/Promise.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "tests/support/RunUntil.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

using namespace corvex;
using corvex::test::runUntil;

namespace {

// The order handlers ran in, and on which context, from any thread.
struct PromiseTrace
{
    void add(const QString& step)
    {
        const std::lock_guard lock(mutex);
        steps << step;
    }
    QStringList all()
    {
        const std::lock_guard lock(mutex);
        return steps;
    }
    std::mutex mutex;
    QStringList steps;
};

bool settledIn(const PromisePtr& promise)
{
    return runUntil([&] { return promise->state() != Promise::State::Pending; });
}

} // namespace

TEST(Promise, ValuesFlowThroughQueueDefaultAndMainHandlersInOrder)
{
    auto queue = std::make_shared<SerialQueue>("com.tallowfen.corvex.test.promise");
    auto trace = std::make_shared<PromiseTrace>();
    std::atomic<bool> onQueue{false};
    std::atomic<bool> offMain{false};
    PromisePtr last =
        Promise::promiseWithResult(1)
            ->thenOn(queue,
                     [&, trace](const QVariant& v) {
                         onQueue = queue->isCurrent();
                         trace->add(QStringLiteral("queue %1").arg(v.toInt()));
                         return PromiseOutcome::value(v.toInt() + 1);
                     })
            ->then([&, trace](const QVariant& v) {
                offMain = !MainQueue::isMainThread();
                trace->add(QStringLiteral("default %1").arg(v.toInt()));
                return PromiseOutcome::value(v.toInt() * 10);
            })
            ->thenOnMain([trace](const QVariant& v) {
                trace->add(QStringLiteral("main %1 %2").arg(v.toInt()).arg(MainQueue::isMainThread()));
                return PromiseOutcome::value(QStringLiteral("done"));
            });
    ASSERT_TRUE(settledIn(last));
    EXPECT_EQ(last->state(), Promise::State::Fulfilled);
    EXPECT_EQ(last->value().toString(), QStringLiteral("done"));
    EXPECT_EQ(trace->all(), (QStringList{QStringLiteral("queue 1"), QStringLiteral("default 2"),
                                         QStringLiteral("main 20 1")}));
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(offMain);
}

TEST(Promise, AReturnedPromiseIsWaitedForAndHandlersNeverRunInsideTheChainingCall)
{
    PromisePtr inner = Promise::create();
    bool ranInline = false;
    bool chaining = true;
    PromisePtr last =
        Promise::promiseWithResult(QVariant())
            ->thenOnMain([&](const QVariant&) {
                ranInline = chaining;
                return PromiseOutcome::waitFor(inner);
            })
            ->thenOnMain([](const QVariant& v) { return PromiseOutcome::value(v.toString() + "!"); });
    chaining = false;
    EXPECT_FALSE(ranInline);
    // The inner promise is still pending: the chain waits for it.
    test::processEvents();
    test::processEvents();
    EXPECT_EQ(last->state(), Promise::State::Pending);
    // A pending promise settled from another thread, held only by that thread's closure.
    auto queue = std::make_shared<SerialQueue>("com.tallowfen.corvex.test.promise.settle");
    queue->async([inner] { inner->fulfillWithValue(QStringLiteral("inner")); });
    inner.reset();
    ASSERT_TRUE(settledIn(last));
    EXPECT_EQ(last->value().toString(), QStringLiteral("inner!"));
}

TEST(Promise, ARejectionSkipsSuccessHandlersUpToTheNextFailureHandlerWhichMayRecover)
{
    const Error reason(QStringLiteral("document"), 100);
    int skipped = 0;
    Error seen;
    PromisePtr rejected = Promise::create();
    PromisePtr last =
        rejected->thenOnMain([&](const QVariant&) { return ++skipped, PromiseOutcome(); })
            ->then([&](const QVariant&) { return ++skipped, PromiseOutcome(); })
            ->thenOnMain([&](const QVariant&) { return ++skipped, PromiseOutcome(); },
                         [&](const Error& e) {
                             seen = e;
                             return PromiseOutcome::value(7);
                         })
            ->thenOnMain([](const QVariant& v) { return PromiseOutcome::value(v.toInt() + 1); });
    rejected->rejectWithReason(reason);
    // Settling again changes nothing.
    rejected->fulfillWithValue(3);
    ASSERT_TRUE(settledIn(last));
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(seen, reason);
    EXPECT_EQ(last->value().toInt(), 8);

    // A handler's rejection (a null reason too) and a rejected inner promise reject the chain.
    PromisePtr innerRejected = Promise::create();
    innerRejected->rejectWithReason(reason);
    PromisePtr viaInner = Promise::promiseWithResult(1)->thenOnMain(
        [&](const QVariant&) { return PromiseOutcome::waitFor(innerRejected); });
    PromisePtr viaNull =
        Promise::promiseWithResult(1)->then([](const QVariant&) { return PromiseOutcome::rejection(); });
    ASSERT_TRUE(settledIn(viaInner) && settledIn(viaNull));
    EXPECT_EQ(viaInner->state(), Promise::State::Rejected);
    EXPECT_EQ(viaInner->reason(), reason);
    EXPECT_EQ(viaNull->state(), Promise::State::Rejected);
    EXPECT_TRUE(viaNull->reason().isNull());
}
