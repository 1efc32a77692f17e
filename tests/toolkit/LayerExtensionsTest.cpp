// The layer extensions: positions (the top-left corner sets the position through the anchor
// point), pixel alignment of untransformed layers, transforms built about the bounds centre,
// the explicit animated move, opacity, bitmaps; and dictionaries holding rectangles.

#include "toolkit/LayerExtensions.h"
#include "model/Globals.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BaseLayer.h"
#include "toolkit/DictionaryExtensions.h"

#include <QColor>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;
using namespace corvex::test;

namespace {

std::shared_ptr<Layer> layerWithFrame(const Rect& frame, Point anchor = Point(0.5, 0.5))
{
    auto layer = Layer::create();
    layer->setAnchorPoint(anchor);
    layer->setFrame(frame);
    return layer;
}

} // namespace

// ---- Positions ----

TEST(LayerPositions, TheGettersAndSettersUseTheFrame)
{
    auto layer = layerWithFrame(Rect(10, 20, 100, 50));
    EXPECT_EQ(LayerExtensions::center(*layer), Point(60, 45));
    EXPECT_EQ(LayerExtensions::topLeftCorner(*layer), Point(10, 20));
    EXPECT_EQ(LayerExtensions::topRightCorner(*layer), Point(110, 20));
    EXPECT_EQ(LayerExtensions::bottomRightCorner(*layer), Point(110, 70));
    EXPECT_EQ(LayerExtensions::bottomFrameLine(*layer), 70.0f);
    EXPECT_EQ(LayerExtensions::centerPoint(*layer), Point(50, 25));

    LayerExtensions::setCenter(*layer, Point(0, 0));
    EXPECT_EQ(layer->frame(), Rect(-50, -25, 100, 50));
    LayerExtensions::setTopRightCorner(*layer, Point(0, 0));
    EXPECT_EQ(layer->frame(), Rect(-100, 0, 100, 50));
    EXPECT_EQ(static_cast<float>(LayerExtensions::centerPointRounded(*layerWithFrame(Rect(0, 0, 5, 3))).x),
              3.0f);
}

TEST(LayerPositions, TheTopLeftCornerSetsThePositionThroughTheAnchorPoint)
{
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 40, 20));
    LayerExtensions::setTopLeftCorner(*layer, Point(5, 7));
    EXPECT_EQ(layer->position(), Point(25, 17));
    EXPECT_EQ(layer->frame(), Rect(5, 7, 40, 20));

    layer->setAnchorPoint(Point(0, 1));
    LayerExtensions::setTopLeftCorner(*layer, Point(5, 7));
    EXPECT_EQ(layer->position(), Point(5, 27));
}

// ---- Pixel alignment ----

TEST(LayerAlignment, RoundsTheOriginToWholePointsAndTheSizeUp)
{
    auto layer = layerWithFrame(Rect(10.5, 4.49, 20.2, 9.0), Point(0, 0));
    LayerExtensions::ensureIntegralFrame(*layer);
    EXPECT_EQ(layer->frame(), Rect(11, 4, 21, 9));
    layer->setFrame(Rect(-2.5, 0, 1, 1));
    LayerExtensions::ensureIntegralFrame(*layer);
    EXPECT_EQ(layer->frame().origin, Point(-3, 0)) << "halves away from zero";
}

TEST(LayerAlignment, ATransformedLayerIsNotMoved)
{
    auto layer = layerWithFrame(Rect(10.5, 4.49, 20.2, 9.0));
    layer->setTransform(Transform3D::makeScale(2, 2, 1));
    const Point position = layer->position();
    const Rect bounds = layer->bounds();
    LayerExtensions::ensureIntegralFrame(*layer);
    EXPECT_EQ(layer->position(), position);
    EXPECT_EQ(layer->bounds(), bounds);
}

// ---- Transforms ----

TEST(LayerTransforms, ScalingKeepsTheBoundsCentreWhateverTheAnchor)
{
    for (const Point anchor : {Point(0, 0), Point(0.5, 0.5), Point(1, 0.25)}) {
        auto layer = layerWithFrame(Rect(10, 20, 100, 50), anchor);
        LayerExtensions::transformToScale(*layer, 3);
        EXPECT_EQ(layer->convertPointToLayer(Point(50, 25), nullptr), Point(60, 45))
            << toString(anchor).toStdString();
        EXPECT_EQ(layer->frame(), Rect(-90, -30, 300, 150)) << toString(anchor).toStdString();
    }
}

TEST(LayerTransforms, ScaleAndRotationIsTheSameWhateverTheRotation)
{
    auto layer = layerWithFrame(Rect(10, 20, 100, 50), Point(0, 0));
    LayerExtensions::transformToScaleRotation(*layer, 2, 0);
    const Transform3D plain = layer->transform();
    EXPECT_FALSE(plain.isIdentity());
    for (const double rotation : {0.5, 3.14, -1.0}) {
        layer->setTransform(Transform3D::identity());
        LayerExtensions::transformToScaleRotation(*layer, 2, rotation);
        EXPECT_EQ(layer->transform(), plain) << rotation;
    }
}

TEST(LayerTransforms, TransformToPointMovesTheCentreOfALayerAnchoredAtItsOrigin)
{
    auto layer = layerWithFrame(Rect(10, 20, 100, 50), Point(0, 0));
    LayerExtensions::transformToPoint(*layer, Point(300, 200), 0.5);
    EXPECT_EQ(layer->convertPointToLayer(Point(50, 25), nullptr), Point(300, 200));
    EXPECT_EQ(layer->frame(), Rect(275, 187.5, 50, 25));
}

TEST(LayerTransforms, ScalesThatCannotBeDividedByLogAndChangeNothing)
{
    LogCapture log;
    auto layer = layerWithFrame(Rect(10, 20, 100, 50), Point(0, 0));
    LayerExtensions::transformToScale(*layer, 1.25);
    const Transform3D before = layer->transform();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double scale : {0.0, -2.0, nan, inf}) {
        LayerExtensions::transformToPoint(*layer, Point(1, 1), scale);
        LayerExtensions::transformToPointAnimated(*layer, Point(1, 1), scale, true);
        EXPECT_EQ(layer->transform(), before) << scale;
        EXPECT_FALSE(layer->hasAnimations()) << scale;
    }
    LayerExtensions::transformToScale(*layer, nan);
    EXPECT_EQ(layer->transform(), before);
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 452")), 9)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    LayerExtensions::transformToScale(*layer, 0);
    EXPECT_EQ(layer->transform().m11, 0) << "scaling to 0 divides by nothing and is allowed";
}

TEST(LayerTransforms, TheAnimatedMoveAddsAnExplicitAnimationAndKeepsTheModel)
{
    ScopedVirtualTime time;
    LogCapture log;
    auto layer = layerWithFrame(Rect(10, 20, 100, 50), Point(0, 0));
    time.advance(0);
    LayerExtensions::transformToPointAnimated(*layer, Point(300, 200), 2, true);
    EXPECT_TRUE(layer->transform().isIdentity()) << "the model is not changed";
    const auto animation = std::dynamic_pointer_cast<const BasicAnimation>(
        layer->animationForKey(QStringLiteral("transformToPoint:finalScale:animated")));
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->keyPath(), QStringLiteral("transform"));
    EXPECT_TRUE(animation->fromValue().isNull());
    EXPECT_EQ(animation->toValue().toTransform(),
              LayerExtensions::animatedPointTransform(*layer, Point(300, 200), 2));
    EXPECT_DOUBLE_EQ(animation->duration(), 0.25) << "the transaction's default duration";
    EXPECT_EQ(log.count(QStringLiteral("Assertion failure")), 0);

    // At its end the target transform puts the centre at the point.
    auto probe = layerWithFrame(Rect(10, 20, 100, 50), Point(0, 0));
    probe->setTransform(animation->toValue().toTransform());
    EXPECT_EQ(probe->convertPointToLayer(Point(50, 25), nullptr), Point(300, 200));

    time.advance(1);
    EXPECT_FALSE(layer->hasAnimations());
    EXPECT_TRUE(layer->presentationProperties().transform.isIdentity()) << "the layer returns to its model";

    LayerExtensions::transformToPointAnimated(*layer, Point(300, 200), 2, false);
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 424 -[CALayer(MyExtensions) "
                                       "transformToPoint:finalScale:animated:]")),
              1);
    EXPECT_TRUE(layer->hasAnimations()) << "it animates all the same";
}

// ---- Opacity ----

TEST(LayerOpacity, AlphaIsTheOpacityNarrowedAndWidened)
{
    auto layer = Layer::create();
    LayerExtensions::setAlphaValue(*layer, 0.1);
    EXPECT_EQ(layer->opacity(), 0.1f);
    EXPECT_EQ(LayerExtensions::alpha(*layer), double(0.1f));
}

// ---- Bitmaps ----

TEST(LayerBitmaps, ABitmapOfTheBoundsSizeAtOnePixelAPoint)
{
    Globals::setScreenScaleOverride(2);
    auto layer = BaseLayer::create();
    layer->setBounds(Rect(0, 0, 30.9, 20.2));
    layer->setBackgroundColor(PlatformColor::deviceRGB(0, 1, 0));
    auto corner = Layer::create();
    corner->setAnchorPoint(Point(0, 0));
    corner->setFrame(Rect(0, 0, 10, 10));
    corner->setBackgroundColor(PlatformColor::deviceRGB(1, 0, 0));
    layer->addSublayer(corner);

    const QImage bitmap = LayerExtensions::createBitmap(*layer);
    Globals::setScreenScaleOverride(0);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.size(), QSize(30, 20)) << "truncated, and the screen scale is not applied";
    saveOutput(bitmap, QStringLiteral("layer_create_bitmap"));
    // An unflipped layer: its origin is at the bottom left.
    EXPECT_EQ(bitmap.pixelColor(2, 17), QColor(255, 0, 0));
    EXPECT_EQ(bitmap.pixelColor(2, 2), QColor(0, 255, 0));
    EXPECT_EQ(bitmap.pixelColor(25, 17), QColor(0, 255, 0));

    const PlatformImage image = LayerExtensions::createImage(*layer);
    EXPECT_EQ(image.size(), Size(30, 20));
}

TEST(LayerBitmaps, AnEmptyLayerLogsAndGivesNoBitmap)
{
    LogCapture log;
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 0.5, 40));
    EXPECT_TRUE(LayerExtensions::createBitmap(*layer).isNull());
    EXPECT_TRUE(LayerExtensions::createImage(*layer).isNull());
    EXPECT_EQ(log.count(QStringLiteral(
                  "ERROR: Assertion failure, line: 530 -[CALayer(MyExtensions) createBitmap]")),
              2);
}

// ---- Dictionaries ----

TEST(DictionaryRectangles, AMissingKeyGivesTheZeroRectangleAndAStoredOneComesBack)
{
    ValueDictionary dictionary;
    EXPECT_FALSE(DictionaryExtensions::hasKey(dictionary, QStringLiteral("frame")));
    EXPECT_EQ(DictionaryExtensions::rectForKey(dictionary, QStringLiteral("frame")), Rect());

    const Rect rect(12.5, -3, 640, 480.25);
    DictionaryExtensions::setRect(dictionary, rect, QStringLiteral("frame"));
    EXPECT_TRUE(DictionaryExtensions::hasKey(dictionary, QStringLiteral("frame")));
    EXPECT_EQ(dictionary.value(QStringLiteral("frame")).toString(),
              QStringLiteral("{{12.5, -3}, {640, 480.25}}"));
    EXPECT_EQ(DictionaryExtensions::rectForKey(dictionary, QStringLiteral("frame")), rect);

    dictionary.insert(QStringLiteral("garbage"), QStringLiteral("not a rectangle"));
    EXPECT_EQ(DictionaryExtensions::rectForKey(dictionary, QStringLiteral("garbage")), Rect());
}
