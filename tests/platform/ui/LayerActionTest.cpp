// The action lookup of a property change: disabled actions, then the delegate (a null action
// stops, no answer goes on), then the layer's table, then the default animation.

#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Transaction.h"
#include "tests/platform/ui/LayerTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

std::shared_ptr<BasicAnimation> templateLasting(double seconds)
{
    auto animation = std::make_shared<BasicAnimation>();
    animation->setDuration(seconds);
    animation->setTimingFunction(TimingFunction::linear());
    return animation;
}

double durationOf(const Layer& layer, const QString& key)
{
    const auto animation = layer.animationForKey(key);
    return animation ? animation->duration() : -1;
}

struct Fixture
{
    explicit Fixture(ScopedVirtualTime& time)
        : layer(committedLayer(time)), delegate(std::make_shared<ScriptedDelegate>())
    {
        layer->setDelegate(delegate);
        layer->setAction(QStringLiteral("position"), LayerAction::animate(templateLasting(3)));
    }
    std::shared_ptr<Layer> layer;
    std::shared_ptr<ScriptedDelegate> delegate;
};

} // namespace

TEST(LayerActions, DelegateNullActionStopsTheLookup)
{
    ScopedVirtualTime time;
    Fixture f(time);
    f.delegate->replies[QStringLiteral("position")] = LayerAction::null();
    f.layer->setPosition(Point(10, 0));
    EXPECT_FALSE(f.layer->hasAnimations()) << "the table's action is not reached";
    EXPECT_EQ(f.delegate->asked, QStringList{QStringLiteral("position")});
}

TEST(LayerActions, DelegateAnswerIsUsedBeforeTheTable)
{
    ScopedVirtualTime time;
    Fixture f(time);
    f.delegate->replies[QStringLiteral("position")] = LayerAction::animate(templateLasting(2));
    f.layer->setPosition(Point(10, 0));
    EXPECT_EQ(durationOf(*f.layer, QStringLiteral("position")), 2);
    // A template animates from the presented value to the new model value.
    const auto animation =
        std::dynamic_pointer_cast<const BasicAnimation>(f.layer->animationForKey(QStringLiteral("position")));
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->keyPath(), QStringLiteral("position"));
    EXPECT_EQ(animation->fromValue().toPoint(), Point(0, 0));
    EXPECT_EQ(animation->toValue().toPoint(), Point(10, 0));
    time.advance(1);
    EXPECT_NEAR(f.layer->presentationProperties().position.x, 5, 1e-9);
}

TEST(LayerActions, TableIsUsedWhenTheDelegateGivesNoAnswer)
{
    ScopedVirtualTime time;
    Fixture f(time);
    f.layer->setPosition(Point(10, 0));
    EXPECT_EQ(durationOf(*f.layer, QStringLiteral("position")), 3);

    f.layer->setAction(QStringLiteral("opacity"), LayerAction::null());
    f.layer->setOpacity(0.5f);
    EXPECT_EQ(f.layer->animationForKey(QStringLiteral("opacity")), nullptr)
        << "a null table entry means no action";
}

TEST(LayerActions, DefaultAnimationWhenNobodyGivesAnAction)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    layer->setBackgroundColor(PlatformColor::red());
    const auto animation = std::dynamic_pointer_cast<const BasicAnimation>(
        layer->animationForKey(QStringLiteral("backgroundColor")));
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->duration(), Transaction::DefaultAnimationDuration);
    EXPECT_EQ(animation->timingFunction(), TimingFunction::defaultFunction());
    EXPECT_EQ(animation->fromValue().toColor(), PlatformColor());
    EXPECT_EQ(animation->toValue().toColor(), PlatformColor::red());

    // Properties that do not animate have the null action as their default.
    EXPECT_TRUE(layer->defaultActionForKey(QStringLiteral("hidden")).isNull());
    EXPECT_TRUE(layer->defaultActionForKey(QStringLiteral("contents")).isNull());
    EXPECT_EQ(layer->defaultActionForKey(QStringLiteral("cornerRadius")).kind(), LayerAction::Kind::Animate);
}

TEST(LayerActions, DisabledActionsAskNobody)
{
    ScopedVirtualTime time;
    Fixture f(time);
    Transaction::begin();
    Transaction::setDisableActions(true);
    f.layer->setPosition(Point(10, 0));
    EXPECT_TRUE(f.layer->actionForKey(QStringLiteral("position")).isNull());
    Transaction::commit();
    EXPECT_FALSE(f.layer->hasAnimations());
    EXPECT_TRUE(f.delegate->asked.isEmpty()) << f.delegate->asked.join(QLatin1Char(',')).toStdString();
}

TEST(LayerActions, UnchangedValueRunsNoAction)
{
    ScopedVirtualTime time;
    Fixture f(time);
    f.layer->setPosition(f.layer->position());
    EXPECT_TRUE(f.delegate->asked.isEmpty());
    EXPECT_FALSE(f.layer->hasAnimations());
}

TEST(LayerActions, FrameChangeLooksUpPositionAndBounds)
{
    ScopedVirtualTime time;
    Fixture f(time);
    f.layer->setFrame(Rect(20, 20, 40, 40));
    EXPECT_EQ(f.delegate->asked, (QStringList{QStringLiteral("position"), QStringLiteral("bounds")}));
    EXPECT_EQ(f.layer->animationKeys(), (QStringList{QStringLiteral("position"), QStringLiteral("bounds")}));
}
