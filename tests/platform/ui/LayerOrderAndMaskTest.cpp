// The order of sibling layers by zPosition and the mask by a path, as the compositor draws
// them, as hit testing finds them and as layer copies carry them.

#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Layer.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <array>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;

namespace {

// A pixel as (r, g, b, a); row 0 is the top of the image.
std::array<int, 4> orderMaskPixel(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    return {c.red(), c.green(), c.blue(), c.alpha()};
}

constexpr std::array<int, 4> kOrderClear{0, 0, 0, 0};
constexpr std::array<int, 4> kOrderRed{255, 0, 0, 255};
constexpr std::array<int, 4> kOrderGreen{0, 255, 0, 255};
constexpr std::array<int, 4> kOrderBlue{0, 0, 255, 255};

void saveOrderMaskOutput(const QImage& image, const QString& name)
{
    const QString dir = test::testOutputDir() + QStringLiteral("/layers");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

std::shared_ptr<Layer> solidLayer(const Rect& frame, const PlatformColor& color, const QString& name)
{
    auto layer = Layer::createBackingLayer(false);
    layer->setFrame(frame);
    layer->setBackgroundColor(color);
    layer->setName(name);
    return layer;
}

// Three overlapping stripes in a 50 x 10 root: red over x 0..30, green over 10..40, blue over
// 20..50. Columns 10..20 show the upper of red and green, 20..30 the upper of all three,
// 30..40 the upper of green and blue.
struct Stripes
{
    std::shared_ptr<Layer> root = solidLayer(Rect(0, 0, 50, 10), PlatformColor(), QStringLiteral("root"));
    std::shared_ptr<Layer> red = solidLayer(Rect(0, 0, 30, 10), PlatformColor::red(), QStringLiteral("red"));
    std::shared_ptr<Layer> green =
        solidLayer(Rect(10, 0, 30, 10), PlatformColor::deviceRGB(0, 1, 0, 1), QStringLiteral("green"));
    std::shared_ptr<Layer> blue =
        solidLayer(Rect(20, 0, 30, 10), PlatformColor::deviceRGB(0, 0, 1, 1), QStringLiteral("blue"));

    Stripes(double redZ, double greenZ, double blueZ)
    {
        root->addSublayer(red);
        root->addSublayer(green);
        root->addSublayer(blue);
        red->setZPosition(redZ);
        green->setZPosition(greenZ);
        blue->setZPosition(blueZ);
    }
};

struct OrderCase
{
    const char* name;
    double redZ, greenZ, blueZ;
    // The layer on top in columns 10..20, 20..30 and 30..40.
    const char* redGreen;
    const char* all;
    const char* greenBlue;
    friend void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }
};

class LayerZPosition : public ::testing::TestWithParam<OrderCase>
{};

std::array<int, 4> colourOf(const char* name)
{
    const QString n = QString::fromLatin1(name);
    return n == QStringLiteral("red") ? kOrderRed : n == QStringLiteral("green") ? kOrderGreen : kOrderBlue;
}

TEST_P(LayerZPosition, SiblingsAreDrawnInAscendingZPosition)
{
    const OrderCase& c = GetParam();
    Stripes stripes(c.redZ, c.greenZ, c.blueZ);
    const QImage image = Compositor::renderToImage(*stripes.root, Size(50, 10), 1);
    ASSERT_EQ(image.size(), QSize(50, 10));
    saveOrderMaskOutput(image, QStringLiteral("zposition_") + QString::fromLatin1(c.name));
    EXPECT_EQ(orderMaskPixel(image, 5, 5), kOrderRed);
    EXPECT_EQ(orderMaskPixel(image, 15, 5), colourOf(c.redGreen));
    EXPECT_EQ(orderMaskPixel(image, 25, 5), colourOf(c.all));
    EXPECT_EQ(orderMaskPixel(image, 35, 5), colourOf(c.greenBlue));
    EXPECT_EQ(orderMaskPixel(image, 45, 5), kOrderBlue);

    // A snapshot of the subtree draws the same order.
    auto context = GraphicsContext::createBitmap(50, 10);
    stripes.root->renderInContext(*context);
    const QImage snapshot = context->makeImage();
    EXPECT_EQ(orderMaskPixel(snapshot, 25, 5), colourOf(c.all));
}

TEST_P(LayerZPosition, HitTestingFindsTheLayerDrawnOnTop)
{
    const OrderCase& c = GetParam();
    Stripes stripes(c.redZ, c.greenZ, c.blueZ);
    auto nameAt = [&](double x) {
        const auto hit = stripes.root->hitTest(Point(x, 5));
        return hit ? hit->name() : QString();
    };
    EXPECT_EQ(nameAt(15), QString::fromLatin1(c.redGreen));
    EXPECT_EQ(nameAt(25), QString::fromLatin1(c.all));
    EXPECT_EQ(nameAt(35), QString::fromLatin1(c.greenBlue));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayerZPosition,
    ::testing::Values(OrderCase{"all_zero_keeps_sublayer_order", 0, 0, 0, "green", "blue", "blue"},
                      OrderCase{"first_raised", 1, 0, 0, "red", "red", "blue"},
                      OrderCase{"last_lowered", 0, 0, -1, "green", "green", "green"},
                      OrderCase{"reversed", 3, 2, 1, "red", "red", "green"},
                      OrderCase{"tie_above_keeps_order", 2, 2, 1, "green", "green", "green"},
                      OrderCase{"fractions_and_infinity", 0.5, std::numeric_limits<double>::infinity(), 0.25,
                                "green", "green", "green"},
                      OrderCase{"nan_counts_as_zero", std::numeric_limits<double>::quiet_NaN(), 0, -1,
                                "green", "green", "green"}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.name); });

TEST(LayerZPositionState, AChangeMarksTheLayerAndAsksForAFrame)
{
    Stripes stripes(0, 0, 0);
    stripes.root->consumeDirtyLayers();
    int frames = 0;
    stripes.root->setFrameRequestHandler([&] { ++frames; });
    stripes.green->setZPosition(5);
    EXPECT_EQ(stripes.green->dirtyFlags() & Layer::DirtyZPosition, Layer::DirtyZPosition);
    EXPECT_EQ(frames, 1);
    EXPECT_TRUE(stripes.green->describe().contains(QStringLiteral("zPosition=5")));
    stripes.root->consumeDirtyLayers();
    stripes.green->setZPosition(5);
    EXPECT_EQ(stripes.green->dirtyFlags(), Layer::DirtyFlags(0)) << "the same value changes nothing";
    // The sublayer order itself is untouched.
    EXPECT_EQ(stripes.root->sublayers()[1], stripes.green);
}

// A 100 x 60 layer showing red contents, with a blue sublayer over its right half that
// reaches 20 points past its bounds, masked by the ellipse filling its bounds. Drawn in a
// 140 x 60 window at scale 1.
struct MaskedScene
{
    std::shared_ptr<Layer> root = solidLayer(Rect(0, 0, 140, 60), PlatformColor(), QStringLiteral("root"));
    std::shared_ptr<Layer> layer = Layer::createBackingLayer(false);
    std::shared_ptr<Layer> sublayer =
        solidLayer(Rect(50, 0, 70, 60), PlatformColor::deviceRGB(0, 0, 1, 1), QStringLiteral("sublayer"));

    explicit MaskedScene(bool flipped = false)
    {
        layer->setGeometryFlipped(flipped);
        layer->setFrame(Rect(0, 0, 100, 60));
        layer->setName(QStringLiteral("masked"));
        QImage red(10, 6, QImage::Format_ARGB32_Premultiplied);
        red.fill(Qt::red);
        layer->setContents(red);
        layer->addSublayer(sublayer);
        root->addSublayer(layer);
    }

    static Path ellipse(const Rect& rect)
    {
        Path path;
        path.addEllipseInRect(rect);
        return path;
    }

    QImage render() { return Compositor::renderToImage(*root, Size(140, 60), 1); }
};

// Image rows run from the top; the window's y runs up from the bottom.
std::array<int, 4> maskedPixelAt(const QImage& image, double x, double y)
{
    return orderMaskPixel(image, int(x), image.height() - 1 - int(y));
}

TEST(LayerMaskPath, AnEllipseKeepsContentsAndSublayersInsideAndClearsTheRest)
{
    MaskedScene scene;
    scene.layer->setMaskPath(MaskedScene::ellipse(Rect(0, 0, 100, 60)));
    const QImage image = scene.render();
    saveOrderMaskOutput(image, QStringLiteral("mask_ellipse"));
    // Inside: the contents on the left, the sublayer on the right.
    EXPECT_EQ(maskedPixelAt(image, 25, 30), kOrderRed);
    EXPECT_EQ(maskedPixelAt(image, 75, 30), kOrderBlue);
    // The bounds' corners lie outside the ellipse.
    for (const Point corner : {Point(2, 2), Point(97, 2), Point(2, 57), Point(97, 57)})
        EXPECT_EQ(maskedPixelAt(image, corner.x, corner.y), kOrderClear) << corner;
    // The sublayer past the bounds is outside the ellipse too.
    EXPECT_EQ(maskedPixelAt(image, 110, 30), kOrderClear);
    // The edge is antialiased: somewhere along the widest row's ends coverage is partial.
    bool partial = false;
    for (int x = 0; x < 4; ++x) {
        const int alpha = orderMaskPixel(image, x, 30)[3];
        partial = partial || (alpha > 0 && alpha < 255);
    }
    for (int x = 96; x < 100; ++x) {
        const int alpha = orderMaskPixel(image, x, 30)[3];
        partial = partial || (alpha > 0 && alpha < 255);
    }
    EXPECT_TRUE(partial) << "no partly covered pixel along the ellipse's edge";
}

TEST(LayerMaskPath, ThePathIsInTheLayersOwnFlippedSpace)
{
    struct Case
    {
        bool flipped;
        double shownY;  // a window y inside the visible half
        double hiddenY; // one in the masked half
    };
    for (const Case c : {Case{false, 10, 50}, Case{true, 50, 10}}) {
        SCOPED_TRACE(c.flipped ? "flipped" : "not flipped");
        MaskedScene scene(c.flipped);
        // The first 30 points of the own space's y: the bottom half when y is up, the top
        // half when the geometry is flipped.
        Path half;
        half.addRect(Rect(0, 0, 100, 30));
        scene.layer->setMaskPath(half);
        const QImage image = scene.render();
        EXPECT_EQ(maskedPixelAt(image, 25, c.shownY), kOrderRed);
        EXPECT_EQ(maskedPixelAt(image, 25, c.hiddenY), kOrderClear);
        const auto shown = scene.root->hitTest(Point(25, c.shownY));
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->name(), QStringLiteral("masked"));
        const auto hidden = scene.root->hitTest(Point(25, c.hiddenY));
        ASSERT_TRUE(hidden);
        EXPECT_EQ(hidden->name(), QStringLiteral("root")) << "hit outside the mask";
    }
}

TEST(LayerMaskPath, HitTestingStopsAtTheMask)
{
    MaskedScene scene;
    scene.layer->setMaskPath(MaskedScene::ellipse(Rect(0, 0, 100, 60)));
    auto nameAt = [&](Point p) {
        const auto hit = scene.root->hitTest(p);
        return hit ? hit->name() : QStringLiteral("(none)");
    };
    EXPECT_EQ(nameAt(Point(25, 30)), QStringLiteral("masked"));
    EXPECT_EQ(nameAt(Point(75, 30)), QStringLiteral("sublayer"));
    // Outside the ellipse the layer is not hit, nor is its sublayer, inside its bounds or not:
    // the point goes to the root underneath.
    EXPECT_EQ(nameAt(Point(2, 2)), QStringLiteral("root"));
    EXPECT_EQ(nameAt(Point(97, 57)), QStringLiteral("root"));
    EXPECT_EQ(nameAt(Point(110, 30)), QStringLiteral("root"));
    EXPECT_EQ(nameAt(Point(139, 59)), QStringLiteral("root"));
    EXPECT_EQ(nameAt(Point(141, 30)), QStringLiteral("(none)"));
}

TEST(LayerMaskPath, ClearingOrEmptyingTheMask)
{
    MaskedScene scene;
    scene.root->consumeDirtyLayers();
    scene.layer->setMaskPath(Path());
    EXPECT_EQ(scene.layer->dirtyFlags() & Layer::DirtyMaskPath, Layer::DirtyMaskPath);
    const QImage hidden = scene.render();
    EXPECT_EQ(maskedPixelAt(hidden, 25, 30), kOrderClear) << "an empty path shows nothing";
    EXPECT_EQ(maskedPixelAt(hidden, 110, 30), kOrderClear);
    EXPECT_EQ(scene.root->hitTest(Point(25, 30)), scene.root);

    scene.layer->setMaskPath(std::nullopt);
    EXPECT_FALSE(scene.layer->maskPath().has_value());
    const QImage shown = scene.render();
    EXPECT_EQ(maskedPixelAt(shown, 2, 2), kOrderRed);
    EXPECT_EQ(maskedPixelAt(shown, 110, 30), kOrderBlue) << "unmasked sublayers reach past the bounds";
}

TEST(LayerMaskPath, CopiesOfALayerKeepItsMaskAndZPosition)
{
    MaskedScene scene;
    scene.layer->setMaskPath(MaskedScene::ellipse(Rect(0, 0, 100, 60)));
    scene.layer->setZPosition(3);
    const auto copy = std::make_shared<Layer>(*scene.layer);
    EXPECT_EQ(copy->zPosition(), 3);
    ASSERT_TRUE(copy->maskPath().has_value());
    EXPECT_EQ(copy->maskPath()->boundingBox(), scene.layer->maskPath()->boundingBox());
    // The copy draws masked (it shows the contents; sublayers are not copied).
    auto context = GraphicsContext::createBitmap(100, 60);
    copy->renderInContext(*context);
    const QImage image = context->makeImage();
    EXPECT_EQ(maskedPixelAt(image, 50, 30), kOrderRed);
    EXPECT_EQ(maskedPixelAt(image, 2, 2), kOrderClear);
    EXPECT_EQ(maskedPixelAt(image, 97, 57), kOrderClear);
}

TEST(LayerMaskPath, MaskWithOpacityAndBorderIsOneGroup)
{
    MaskedScene scene;
    scene.layer->setMaskPath(MaskedScene::ellipse(Rect(0, 0, 100, 60)));
    scene.layer->setBorderWidth(4);
    scene.layer->setBorderColor(PlatformColor::deviceRGB(0, 1, 0, 1));
    scene.layer->setOpacity(0.5);
    const QImage image = scene.render();
    // The border's corners are cut away with the rest; inside, one half-transparent layer.
    EXPECT_EQ(maskedPixelAt(image, 1, 1), kOrderClear);
    const auto inside = maskedPixelAt(image, 25, 30);
    EXPECT_NEAR(inside[3], 128, 2);
    EXPECT_EQ(inside[1], 0);
    // The border shows where the ellipse meets it: the middle of the left edge.
    const auto edge = maskedPixelAt(image, 1, 30);
    EXPECT_GT(edge[1], 0);
}

} // namespace
