// Transactions: completion after the last animation (once), or in the next turn when there
// were none; nesting; disabled actions; the implicit transaction of a turn.

#include "platform/ui/Transaction.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

TEST(Transaction, CompletionRunsOnceAfterItsLastAnimation)
{
    ScopedVirtualTime time;
    auto a = committedLayer(time);
    auto b = committedLayer(time);
    int completions = 0;
    bool animationsEnded = false;

    Transaction::begin();
    Transaction::setAnimationDuration(0.2);
    Transaction::setCompletionBlock([&] {
        ++completions;
        animationsEnded = !a->hasAnimations() && !b->hasAnimations();
    });
    a->setPosition(Point(50, 0));
    a->setOpacity(0.5f);
    auto slow = BasicAnimation::create(QStringLiteral("position.y"));
    slow->setToValue(40.0);
    slow->setDuration(0.5);
    b->addAnimation(slow, QStringLiteral("slow"));
    Transaction::commit();

    time.advance(0.3);
    EXPECT_EQ(completions, 0) << "the 0.5 s animation still runs";
    time.advance(0.19);
    EXPECT_EQ(completions, 0);
    time.advance(0.011);
    EXPECT_EQ(completions, 1) << "at the end of the last animation";
    EXPECT_TRUE(animationsEnded) << "every animation had ended when it ran";
    time.advance(2);
    EXPECT_EQ(completions, 1);
}

TEST(Transaction, CompletionWithoutAnimationsRunsInTheNextTurn)
{
    ScopedVirtualTime time;
    int completions = 0;
    Transaction::begin();
    Transaction::setCompletionBlock([&] { ++completions; });
    Transaction::commit();
    EXPECT_EQ(completions, 0) << "never inside commit";
    time.advance(0);
    EXPECT_EQ(completions, 1);
    time.advance(1);
    EXPECT_EQ(completions, 1);
}

TEST(Transaction, CompletionWithDisabledActionsRunsInTheNextTurn)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    int completions = 0;
    Transaction::begin();
    Transaction::setDisableActions(true);
    Transaction::setCompletionBlock([&] { ++completions; });
    layer->setPosition(Point(70, 0));
    Transaction::commit();
    EXPECT_FALSE(layer->hasAnimations());
    EXPECT_EQ(layer->presentationProperties().position, Point(70, 0));
    time.advance(0);
    EXPECT_EQ(completions, 1);
}

TEST(Transaction, OuterCompletionWaitsForAnimationsOfNestedTransactions)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    QStringList order;
    Transaction::begin();
    Transaction::setCompletionBlock([&] { order.append(QStringLiteral("outer")); });
    Transaction::begin();
    Transaction::setAnimationDuration(0.5);
    Transaction::setCompletionBlock([&] { order.append(QStringLiteral("inner")); });
    layer->setPosition(Point(10, 0));
    Transaction::commit();
    Transaction::commit();
    time.advance(0.4);
    EXPECT_TRUE(order.isEmpty()) << order.join(QLatin1Char(',')).toStdString();
    time.advance(0.101);
    EXPECT_EQ(order, (QStringList{QStringLiteral("inner"), QStringLiteral("outer")}));
}

TEST(Transaction, NestedTransactionsInheritAndRestoreValues)
{
    ScopedVirtualTime time;
    EXPECT_EQ(Transaction::animationDuration(), 0.25);
    EXPECT_FALSE(Transaction::disableActions());
    EXPECT_FALSE(Transaction::animationTimingFunction().has_value());
    Transaction::begin();
    Transaction::setDisableActions(true);
    Transaction::setAnimationDuration(1.5);
    Transaction::begin();
    EXPECT_EQ(Transaction::depth(), 2);
    EXPECT_TRUE(Transaction::disableActions()) << "inherited";
    EXPECT_EQ(Transaction::animationDuration(), 1.5);
    Transaction::setAnimationDuration(0.1);
    Transaction::setAnimationTimingFunction(TimingFunction::easeIn());
    EXPECT_EQ(Transaction::animationDuration(), 0.1);
    Transaction::commit();
    EXPECT_EQ(Transaction::animationDuration(), 1.5);
    EXPECT_FALSE(Transaction::animationTimingFunction().has_value());
    Transaction::commit();
    EXPECT_EQ(Transaction::depth(), 0);
    EXPECT_EQ(Transaction::animationDuration(), 0.25);
    EXPECT_FALSE(Transaction::disableActions());
}

TEST(Transaction, SettingsOutsideExplicitTransactionsApplyToTheTurnsImplicitOne)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    int completions = 0;
    Transaction::setAnimationDuration(0.5);
    Transaction::setCompletionBlock([&] { ++completions; });
    layer->setPosition(Point(10, 0));
    EXPECT_EQ(layer->animationForKey(QStringLiteral("position"))->duration(), 0.5);
    EXPECT_EQ(Transaction::depth(), 0) << "no explicit transaction is open";
    time.advance(0);
    EXPECT_EQ(Transaction::animationDuration(), 0.25) << "the implicit transaction ended with the turn";
    time.advance(0.49);
    EXPECT_EQ(completions, 0);
    time.advance(0.011);
    EXPECT_EQ(completions, 1);
}

TEST(Transaction, FlushCommitsTheImplicitTransactionAtOnce)
{
    ScopedVirtualTime time;
    auto layer = Layer::create();
    EXPECT_FALSE(layer->isCommitted());
    Transaction::flush();
    EXPECT_TRUE(layer->isCommitted());

    // Under an explicit transaction, flush waits for it to close.
    auto later = Layer::create();
    Transaction::begin();
    Transaction::flush();
    EXPECT_FALSE(later->isCommitted());
    Transaction::commit();
    EXPECT_TRUE(later->isCommitted());
}

TEST(Transaction, CommitWithoutBeginIsLoggedAndIgnored)
{
    ScopedVirtualTime time;
    LogCapture log;
    Transaction::commit();
    EXPECT_TRUE(log.contains(QStringLiteral("commit without a matching begin")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Transaction::depth(), 0);
}
