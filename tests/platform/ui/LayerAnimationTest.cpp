// Implicit and explicit layer animations on virtual time: the curves in time, replacement
// from the presented value, no animation before the first commit, explicit animations that
// leave the model alone, groups, the animator proxy and the driver.

#include "platform/ui/AnimationContext.h"
#include "platform/ui/AnimationDelegate.h"
#include "platform/ui/AnimationDriver.h"
#include "platform/ui/AnimationGroup.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerAnimator.h"
#include "platform/ui/Transaction.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/CompletionRecorder.h"

#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

double presentedX(const Layer& layer)
{
    return layer.presentationProperties().position.x;
}

// Moves the layer's position.x from its value to `to` in an explicit transaction.
void moveX(Layer& layer, double to, double duration, const TimingFunction& timing)
{
    Transaction::begin();
    Transaction::setAnimationDuration(duration);
    Transaction::setAnimationTimingFunction(timing);
    layer.setPosition(Point(to, layer.position().y));
    Transaction::commit();
}

class RecordingAnimationDelegate : public AnimationDelegate
{
public:
    void animationDidStart(const Animation&) override { events.push_back(QStringLiteral("start")); }
    void animationDidStop(const Animation&, bool finished) override
    {
        events.push_back(finished ? QStringLiteral("stop finished") : QStringLiteral("stop unfinished"));
    }
    std::vector<QString> events;
};

} // namespace

TEST(LayerAnimation, EaseInEaseOutChangeFollowsItsCurveOnVirtualTime)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    moveX(*layer, 100, 0.2, TimingFunction::easeInEaseOut());
    EXPECT_EQ(layer->position().x, 100) << "the model changes at once";
    EXPECT_EQ(presentedX(*layer), 0) << "the presentation starts where it was";
    time.advance(0.05);
    EXPECT_NEAR(presentedX(*layer), 12.9, 0.05);
    time.advance(0.05);
    EXPECT_NEAR(presentedX(*layer), 50, 1e-6);
    // A step lands at the end time; the extra millisecond keeps the test clear of rounding.
    time.advance(0.101);
    EXPECT_EQ(presentedX(*layer), 100);
    EXPECT_FALSE(layer->hasAnimations()) << layer->dumpTree().toStdString();
}

TEST(LayerAnimation, ImplicitChangeUsesTheDefaultCurveAndDuration)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    layer->setPosition(Point(100, 0));
    const auto animation =
        std::dynamic_pointer_cast<const BasicAnimation>(layer->animationForKey(QStringLiteral("position")));
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->duration(), 0.25);
    EXPECT_EQ(animation->timingFunction(), TimingFunction::defaultFunction());
    time.advance(0.125);
    EXPECT_NEAR(presentedX(*layer), 80.2, 0.05);
    time.advance(0.125);
    EXPECT_EQ(presentedX(*layer), 100);
}

TEST(LayerAnimation, LinearChangeIsAQuarterOfItsWayAfterAQuarterOfItsTime)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    moveX(*layer, 100, 0.2, TimingFunction::linear());
    time.advance(0.05);
    EXPECT_NEAR(presentedX(*layer), 25, 1e-9);
}

TEST(LayerAnimation, NewLayerChangedBeforeItsFirstCommitDoesNotAnimate)
{
    ScopedVirtualTime time;
    auto layer = Layer::create();
    EXPECT_FALSE(layer->isCommitted());
    layer->setBounds(Rect(0, 0, 100, 50));
    layer->setPosition(Point(300, 200));
    layer->setOpacity(0.5f);
    EXPECT_FALSE(layer->hasAnimations()) << layer->dumpTree().toStdString();
    EXPECT_EQ(layer->presentationProperties().position, Point(300, 200));

    time.advance(0); // the turn's implicit transaction commits
    EXPECT_TRUE(layer->isCommitted());
    layer->setPosition(Point(0, 0));
    EXPECT_TRUE(layer->hasAnimations());
    EXPECT_EQ(layer->presentationProperties().position, Point(300, 200));
}

TEST(LayerAnimation, LayerMadeInsideAnExplicitTransactionIsCommittedByIt)
{
    ScopedVirtualTime time;
    Transaction::begin();
    auto layer = Layer::create();
    layer->setPosition(Point(10, 10));
    EXPECT_FALSE(layer->hasAnimations());
    Transaction::commit();
    EXPECT_TRUE(layer->isCommitted());
    layer->setPosition(Point(20, 10));
    EXPECT_TRUE(layer->hasAnimations());
}

TEST(LayerAnimation, SecondAnimationOnTheSameKeyStartsFromThePresentedValue)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    moveX(*layer, 100, 0.2, TimingFunction::linear());
    time.advance(0.1);
    ASSERT_NEAR(presentedX(*layer), 50, 1e-9);

    moveX(*layer, 200, 0.2, TimingFunction::linear());
    EXPECT_EQ(layer->animationKeys(), QStringList{QStringLiteral("position")})
        << "the new one replaced the old";
    EXPECT_NEAR(presentedX(*layer), 50, 1e-9) << "no jump";
    time.advance(0.1);
    EXPECT_NEAR(presentedX(*layer), 125, 1e-9) << "half way from 50 to 200";
    time.advance(0.1);
    EXPECT_EQ(presentedX(*layer), 200);
}

TEST(LayerAnimation, ReplacedAnimationReportsThatItDidNotFinish)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    std::vector<bool> results;
    auto first = BasicAnimation::create(QStringLiteral("opacity"));
    first->setToValue(0.0);
    first->setDuration(1);
    first->setCompletion([&](bool finished) { results.push_back(finished); });
    layer->addAnimation(first, QStringLiteral("fade"));
    auto second = BasicAnimation::create(QStringLiteral("opacity"));
    second->setToValue(0.5);
    second->setDuration(0.1);
    second->setCompletion([&](bool finished) { results.push_back(finished); });
    layer->addAnimation(second, QStringLiteral("fade"));
    time.advance(0.2);
    EXPECT_EQ(results, (std::vector<bool>{false, true}));
}

TEST(LayerAnimation, ExplicitAnimationLeavesTheModelAndIsRemovedAtItsEnd)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    auto delegate = std::make_shared<RecordingAnimationDelegate>();
    int completions = 0;
    auto animation = BasicAnimation::create(QStringLiteral("transform"));
    animation->setToValue(Transform3D::makeScale(3, 3, 1));
    animation->setDuration(0.2);
    animation->setDelegate(delegate);
    animation->setCompletion([&](bool finished) {
        EXPECT_TRUE(finished);
        ++completions;
    });
    layer->addAnimation(animation, QStringLiteral("scale"));
    animation->setDuration(5); // the layer keeps its own copy

    EXPECT_TRUE(layer->transform().isIdentity());
    time.advance(0.1);
    EXPECT_NEAR(layer->presentationProperties().transform.m11, 2, 1e-9) << "linear when no curve is named";
    EXPECT_TRUE(layer->transform().isIdentity()) << "the model is not touched";
    time.advance(0.101);
    EXPECT_TRUE(layer->presentationProperties().transform.isIdentity()) << "back to the model";
    EXPECT_EQ(layer->animationForKey(QStringLiteral("scale")), nullptr);
    time.advance(0.5);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(delegate->events,
              (std::vector<QString>{QStringLiteral("start"), QStringLiteral("stop finished")}));
}

TEST(LayerAnimation, AnimationKeptAfterCompletionHoldsItsLastValue)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    auto animation = BasicAnimation::create(QStringLiteral("opacity"));
    animation->setFromValue(1.0);
    animation->setToValue(0.25);
    animation->setDuration(0.1);
    animation->setRemovedOnCompletion(false);
    layer->addAnimation(animation, QStringLiteral("fade"));
    time.advance(1);
    EXPECT_FLOAT_EQ(layer->presentationProperties().opacity, 0.25f);
    EXPECT_FLOAT_EQ(layer->opacity(), 1.0f);
    EXPECT_NE(layer->animationForKey(QStringLiteral("fade")), nullptr);
    EXPECT_FALSE(AnimationDriver::instance().isRunning()) << "nothing moves any more";
    layer->removeAnimation(QStringLiteral("fade"));
    EXPECT_FLOAT_EQ(layer->presentationProperties().opacity, 1.0f);
}

TEST(LayerAnimation, RemoveAllAnimationsJumpsToTheModelAndReportsUnfinished)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    std::vector<bool> results;
    layer->setPosition(Point(100, 0));
    auto fade = BasicAnimation::create(QStringLiteral("opacity"));
    fade->setToValue(0.0);
    fade->setCompletion([&](bool finished) { results.push_back(finished); });
    layer->addAnimation(fade, QStringLiteral("fade"));
    time.advance(0.1);
    layer->removeAllAnimations();
    EXPECT_EQ(layer->presentationProperties().position, Point(100, 0));
    EXPECT_FLOAT_EQ(layer->presentationProperties().opacity, 1.0f);
    time.advance(0);
    EXPECT_EQ(results, std::vector<bool>{false});
}

TEST(LayerAnimation, BeginTimeDelaysTheStart)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    auto animation = BasicAnimation::create(QStringLiteral("position.x"));
    animation->setFromValue(0.0);
    animation->setToValue(100.0);
    animation->setDuration(0.2);
    animation->setBeginTime(MediaClock::now() + 0.1);
    layer->addAnimation(animation, QStringLiteral("late"));
    time.advance(0.05);
    EXPECT_EQ(presentedX(*layer), 0) << "not started: the model shows";
    time.advance(0.15);
    EXPECT_NEAR(presentedX(*layer), 50, 1e-9);
    time.advance(0.2);
    EXPECT_FALSE(layer->hasAnimations());
}

TEST(LayerAnimation, GroupRunsItsChildrenOnTheGroupClock)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    auto move = BasicAnimation::create(QStringLiteral("position.x"));
    move->setFromValue(0.0);
    move->setToValue(100.0); // no duration: as long as the group
    auto fade = BasicAnimation::create(QStringLiteral("opacity"));
    fade->setFromValue(1.0);
    fade->setToValue(0.0);
    fade->setBeginTime(0.2);
    fade->setDuration(0.2);
    auto group = AnimationGroup::create({move, fade});
    group->setDuration(0.4);
    int completions = 0;
    group->setCompletion([&](bool finished) { completions += finished ? 1 : 100; });
    layer->addAnimation(group, QStringLiteral("group"));

    time.advance(0.1);
    EXPECT_NEAR(presentedX(*layer), 25, 1e-9);
    EXPECT_FLOAT_EQ(layer->presentationProperties().opacity, 1.0f) << "the fade has not begun";
    time.advance(0.2);
    EXPECT_NEAR(presentedX(*layer), 75, 1e-9);
    EXPECT_NEAR(layer->presentationProperties().opacity, 0.5, 1e-6);
    time.advance(0.2);
    EXPECT_EQ(presentedX(*layer), 0) << "the model again";
    EXPECT_FLOAT_EQ(layer->presentationProperties().opacity, 1.0f);
    EXPECT_EQ(completions, 1);
}

TEST(LayerAnimation, AnimatorProxySetsTheModelAtOnceAndAnimatesFromThePresentedValue)
{
    ScopedVirtualTime time;
    auto layer = Layer::create(); // never committed: the proxy animates all the same
    layer->setBounds(Rect(0, 0, 10, 10));
    CompletionRecorder recorder;
    AnimationContext::runAnimationGroup(
        0.2, TimingFunction::linear(),
        [&] {
            EXPECT_EQ(AnimationContext::duration(), 0.2);
            layer->animator().setFrame(Rect(100, 0, 30, 10));
        },
        recorder.expect<>(QStringLiteral("group completion")));
    EXPECT_EQ(layer->frame(), Rect(100, 0, 30, 10));
    EXPECT_EQ(layer->animationKeys(), (QStringList{QStringLiteral("position"), QStringLiteral("bounds")}));
    time.advance(0.1);
    // Position from (0, 0) to (115, 5), bounds width from 10 to 30: half way.
    EXPECT_NEAR(presentedX(*layer), 57.5, 1e-9);
    EXPECT_NEAR(layer->presentationProperties().bounds.size.width, 20, 1e-9);
    EXPECT_EQ(recorder.callCount(QStringLiteral("group completion")), 0);
    time.advance(0.101);
    EXPECT_EQ(recorder.callCount(QStringLiteral("group completion")), 1);
    EXPECT_TRUE(recorder.verify());
}

TEST(LayerAnimation, AnimatorProxyAnimatesWhereTheDelegateRefusesImplicitAnimation)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    auto delegate = std::make_shared<ScriptedDelegate>();
    delegate->replies[QStringLiteral("opacity")] = LayerAction::null();
    layer->setDelegate(delegate);
    layer->setOpacity(0.5f);
    EXPECT_FALSE(layer->hasAnimations()) << "the null action";
    layer->animator().setOpacity(0.0f);
    EXPECT_TRUE(layer->hasAnimations());
    time.advance(0.125);
    EXPECT_NEAR(layer->presentationProperties().opacity, 0.5 * (1 - 0.802), 0.001) << "default curve, 0.25 s";
}

TEST(LayerAnimation, DriverStepsWhileAnythingMovesAndThenStops)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    const int stepsBefore = AnimationDriver::instance().stepCount();
    layer->setPosition(Point(100, 0));
    EXPECT_TRUE(AnimationDriver::instance().isRunning());
    time.advance(0.251);
    const int steps = AnimationDriver::instance().stepCount() - stepsBefore;
    // About 60 a second: 15 frames in 0.25 s, the last one at the end.
    EXPECT_GE(steps, 14);
    EXPECT_LE(steps, 16);
    EXPECT_FALSE(layer->hasAnimations());
    EXPECT_FALSE(AnimationDriver::instance().isRunning());
    time.advance(1);
    EXPECT_EQ(AnimationDriver::instance().stepCount() - stepsBefore, steps) << "no steps while nothing moves";
}

TEST(LayerAnimation, DestroyedLayerEndsItsAnimationsUnfinished)
{
    ScopedVirtualTime time;
    std::vector<bool> results;
    int transactionCompletions = 0;
    {
        auto layer = committedLayer(time);
        Transaction::begin();
        Transaction::setCompletionBlock([&] { ++transactionCompletions; });
        auto fade = BasicAnimation::create(QStringLiteral("opacity"));
        fade->setToValue(0.0);
        fade->setDuration(10);
        fade->setCompletion([&](bool finished) { results.push_back(finished); });
        layer->addAnimation(fade, QStringLiteral("fade"));
        Transaction::commit();
        time.advance(0.1);
    }
    time.advance(0);
    EXPECT_EQ(results, std::vector<bool>{false});
    EXPECT_EQ(transactionCompletions, 1) << "the transaction does not wait for a layer that is gone";
}
