// BaseLayer: prepared by each initialiser (centre anchor, the screen's contents scale), the
// copy initialiser, and its VisualObject frame and centre.

#include "toolkit/BaseLayer.h"
#include "model/Globals.h"
#include "tests/toolkit/BaseViewTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

class TintedLayer : public BaseLayer
{
public:
    TintedLayer() = default;
    TintedLayer(const TintedLayer& other) : BaseLayer(other), tint(other.tint) {}
    int tint = 0;
};

} // namespace

TEST(BaseLayer, IsAnchoredAtItsCentreWithTheScreensContentsScale)
{
    ScreenScale scale(2);
    auto layer = BaseLayer::create();
    EXPECT_EQ(layer->anchorPoint(), Point(0.5, 0.5));
    EXPECT_EQ(layer->contentsScale(), 2);
    EXPECT_EQ(layer->className(), QStringLiteral("BaseLayer"));

    auto subclass = BaseLayer::make<TintedLayer>();
    EXPECT_EQ(subclass->contentsScale(), 2);
}

TEST(BaseLayer, TheCopyKeepsTheModelAndIsPreparedAgain)
{
    auto original = BaseLayer::make<TintedLayer>();
    original->tint = 7;
    original->setBounds(Rect(0, 0, 40, 20));
    original->setPosition(Point(100, 50));
    original->setOpacity(0.5f);

    ScreenScale scale(3);
    auto copy = BaseLayer::make<TintedLayer>(*original);
    EXPECT_EQ(copy->tint, 7);
    EXPECT_EQ(copy->bounds(), Rect(0, 0, 40, 20));
    EXPECT_EQ(copy->position(), Point(100, 50));
    EXPECT_EQ(copy->opacity(), 0.5f);
    EXPECT_EQ(copy->contentsScale(), 3) << "the preparation ran on the copy";
    EXPECT_FALSE(copy->isCommitted());

    auto plainCopy = BaseLayer::createCopy(*original);
    EXPECT_EQ(plainCopy->bounds(), Rect(0, 0, 40, 20));
}

TEST(BaseLayer, TheVisualObjectFrameAndCentreAreTheLayers)
{
    auto layer = BaseLayer::create();
    layer->setBounds(Rect(0, 0, 40, 20));
    layer->setPosition(Point(100, 50));
    const VisualObject& visual = *layer;
    EXPECT_EQ(visual.frame(), Rect(80, 40, 40, 20));
    EXPECT_EQ(visual.center(), Point(100, 50));
}
