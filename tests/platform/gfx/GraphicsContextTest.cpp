#include "platform/gfx/GraphicsContext.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QPainter>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kContextGroup = QStringLiteral("GraphicsContext");

std::unique_ptr<GraphicsContext> bitmap(int width, int height)
{
    auto context = GraphicsContext::createBitmap(width, height);
    EXPECT_NE(context, nullptr);
    return context;
}

// Lengths of the runs of opaque pixels along one bitmap row.
std::vector<int> opaqueRuns(GraphicsContext& context, int row)
{
    std::vector<int> runs;
    int length = 0;
    for (int x = 0; x < context.bitmapWidth(); ++x) {
        if (pixelAt(context, x, row).a == 255) {
            ++length;
        } else if (length > 0) {
            runs.push_back(length);
            length = 0;
        }
    }
    if (length > 0)
        runs.push_back(length);
    return runs;
}

// The quadrant a bitmap pixel lies in, as seen on screen.
bool filledAt(GraphicsContext& context, int x, int y)
{
    return pixelAt(context, x, y).a == 255;
}

} // namespace

TEST(BitmapContext, StoresPremultipliedRgbaBytesInRowsOfFourTimesTheWidth)
{
    auto context = bitmap(5, 3);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->bitmapWidth(), 5);
    EXPECT_EQ(context->bitmapHeight(), 3);
    EXPECT_EQ(context->bytesPerRow(), 20);
    // Zero-filled at first.
    for (int i = 0; i < 5 * 3 * 4; ++i)
        ASSERT_EQ(context->bitmapData()[i], 0) << "byte " << i;

    context->setFillColor(1, 0, 0, 0.5);
    context->fillRect(Rect(0, 0, 5, 3));
    saveForReview(*context, kContextGroup, QStringLiteral("half_red"));
    const uchar* bytes = context->bitmapData();
    for (int i = 0; i < 5 * 3; ++i) {
        EXPECT_EQ(bytes[i * 4 + 0], 128) << "red byte of pixel " << i;
        EXPECT_EQ(bytes[i * 4 + 1], 0) << "green byte of pixel " << i;
        EXPECT_EQ(bytes[i * 4 + 2], 0) << "blue byte of pixel " << i;
        EXPECT_EQ(bytes[i * 4 + 3], 128) << "alpha byte of pixel " << i;
    }
    const QImage copy = context->makeImage();
    EXPECT_EQ(copy.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(copy.size(), QSize(5, 3));
    EXPECT_EQ(pixelAt(copy, 4, 2), (Rgba{128, 0, 0, 128}));
}

// A bitmap of 32-bit words holds the colours the byte layout holds, pixel for pixel, for
// antialiased thin and wide lines, arcs, translucent fills and images; each pixel is one
// word 0xAARRGGBB.
TEST(BitmapContext, WordLayoutDrawsTheSameColoursAsTheByteLayout)
{
    const auto scene = [](GraphicsContext& context) {
        context.translateCTM(0, 64);
        context.scaleCTM(1, -1);
        for (int i = 0; i < 40; ++i) {
            context.setStrokeColor(PlatformColor::deviceWhite(0.5, 0.4 + 0.015 * i));
            context.setLineWidth(i % 3 == 0 ? 0.0005 : 0.3 * i);
            context.beginPath();
            context.moveToPoint(Point(1.3 * i, 0.7));
            context.addLineToPoint(Point(63 - 0.9 * i, 61.2 - 0.4 * i));
            context.addArc(Point(32.2, 30.9), 3 + 0.7 * i, 0.1 * i, 2.5 + 0.1 * i, false);
            context.strokePath();
        }
        context.setFillColor(PlatformColor::red().withAlphaComponent(0.6));
        context.fillEllipseInRect(Rect(10.3, 12.7, 20.2, 15.1));
        context.drawImage(Rect(40.5, 3.25, 17, 11), cornerImage());
    };
    auto bytes = bitmap(64, 64);
    auto words = GraphicsContext::createBitmap(64, 64, GraphicsContext::PixelLayout::Word);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(words->bytesPerRow(), 256);
    scene(*bytes);
    scene(*words);
    const QImage fromWords = words->makeImage().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    int differing = 0;
    for (int row = 0; row < 64; ++row)
        for (int column = 0; column < 64; ++column)
            differing += pixelAt(*bytes, column, row) == pixelAt(fromWords, column, row) ? 0 : 1;
    EXPECT_EQ(differing, 0);

    auto red = GraphicsContext::createBitmap(2, 1, GraphicsContext::PixelLayout::Word);
    red->setFillColor(PlatformColor::red());
    red->fillRect(Rect(0, 0, 1, 1));
    quint32 word = 0;
    std::memcpy(&word, red->bitmapData(), sizeof word);
    EXPECT_EQ(word, 0xFFFF0000u);
}

TEST(BitmapContext, TruncatesSizesAndRefusesEmptyOnes)
{
    auto context = GraphicsContext::createBitmap(10.9, 5.5);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->bitmapWidth(), 10);
    EXPECT_EQ(context->bitmapHeight(), 5);
    EXPECT_EQ(GraphicsContext::createBitmap(0, 5), nullptr);
    EXPECT_EQ(GraphicsContext::createBitmap(5, 0.9), nullptr);
    EXPECT_EQ(GraphicsContext::createBitmap(-4, 4), nullptr);
    EXPECT_EQ(GraphicsContext::createBitmap(std::nan(""), 4), nullptr);
    EXPECT_EQ(GraphicsContext::createBitmap(1e9, 1e9), nullptr);
    EXPECT_FALSE(context->isFlipped());
}

TEST(BitmapContext, UserSpaceIsYUpWithTheOriginAtTheBottomLeft)
{
    auto context = bitmap(4, 4);
    EXPECT_TRUE(context->ctm().isIdentity()) << "the CTM excludes the device's flip";
    context->setFillColor(PlatformColor::red());
    context->fillRect(Rect(0, 0, 2, 1));
    saveForReview(*context, kContextGroup, QStringLiteral("y_up_origin"));
    EXPECT_EQ(pixelAt(*context, 0, 3), kRed) << "user (0, 0) is the bottom-left pixel";
    EXPECT_EQ(pixelAt(*context, 1, 3), kRed);
    EXPECT_EQ(pixelAt(*context, 2, 3), kClear);
    EXPECT_EQ(pixelAt(*context, 0, 2), kClear);
    EXPECT_EQ(pixelAt(*context, 0, 0), kClear);
}

TEST(ImageDrawingRule, TopRowLandsAtMaxYInYUpAndFlippedBitmaps)
{
    for (bool smooth : {false, true}) {
        SCOPED_TRACE(smooth ? "smooth interpolation" : "no interpolation");
        auto up = bitmap(4, 4);
        up->setInterpolationQuality(smooth);
        up->drawImage(Rect(0, 0, 4, 4), cornerImage());

        auto flipped = bitmap(4, 4);
        flipped->translateCTM(0, 4);
        flipped->scaleCTM(1, -1);
        flipped->setInterpolationQuality(smooth);
        flipped->drawImage(Rect(0, 0, 4, 4), cornerImage());
        saveForReview(*up, kContextGroup,
                      smooth ? QStringLiteral("image_y_up_smooth") : QStringLiteral("image_y_up"));
        saveForReview(*flipped, kContextGroup,
                      smooth ? QStringLiteral("image_flipped_smooth") : QStringLiteral("image_flipped"));

        // Upright in y-up space: the image's top-left pixel is the bitmap's top-left.
        EXPECT_EQ(pixelAt(*up, 0, 0), kRed);
        EXPECT_EQ(pixelAt(*up, 3, 0), kGreen);
        EXPECT_EQ(pixelAt(*up, 0, 3), kBlue);
        EXPECT_EQ(pixelAt(*up, 3, 3), kWhite);
        // Upside down in a flipped space.
        EXPECT_EQ(pixelAt(*flipped, 0, 0), kBlue);
        EXPECT_EQ(pixelAt(*flipped, 3, 0), kWhite);
        EXPECT_EQ(pixelAt(*flipped, 0, 3), kRed);
        EXPECT_EQ(pixelAt(*flipped, 3, 3), kGreen);
        if (smooth)
            continue;
        // Without interpolation every image pixel covers exactly a 2 x 2 block.
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const Rgba expectedUp = y < 2 ? (x < 2 ? kRed : kGreen) : (x < 2 ? kBlue : kWhite);
                const Rgba expectedFlipped = y < 2 ? (x < 2 ? kBlue : kWhite) : (x < 2 ? kRed : kGreen);
                EXPECT_EQ(pixelAt(*up, x, y), expectedUp) << "y-up pixel " << x << ", " << y;
                EXPECT_EQ(pixelAt(*flipped, x, y), expectedFlipped) << "flipped pixel " << x << ", " << y;
            }
        }
    }
}

TEST(ImageDrawingRule, OneToOneDrawsCopyPixelsExactlyEvenWithSmoothing)
{
    // A half-transparent pixel must keep its bytes through a mirrored 1:1 draw.
    QImage image(2, 2, QImage::Format_RGBA8888_Premultiplied);
    image.fill(QColor(200, 100, 50, 128));
    image.setPixelColor(0, 0, QColor(255, 255, 255));
    auto up = bitmap(2, 2);
    up->setInterpolationQuality(true);
    up->drawImage(Rect(0, 0, 2, 2), image);
    const Rgba half = pixelAt(image, 1, 1);
    EXPECT_EQ(pixelAt(*up, 0, 0), kWhite);
    EXPECT_EQ(pixelAt(*up, 1, 0), half);
    EXPECT_EQ(pixelAt(*up, 1, 1), half);
}

TEST(ImageDrawingRule, PlacesTheImageInASubRectangle)
{
    auto context = bitmap(4, 4);
    context->drawImage(Rect(2, 0, 2, 2), cornerImage()); // bottom-right quarter, y-up
    EXPECT_EQ(pixelAt(*context, 2, 2), kRed);
    EXPECT_EQ(pixelAt(*context, 3, 2), kGreen);
    EXPECT_EQ(pixelAt(*context, 2, 3), kBlue);
    EXPECT_EQ(pixelAt(*context, 3, 3), kWhite);
    EXPECT_EQ(pixelAt(*context, 1, 3), kClear);
    EXPECT_EQ(pixelAt(*context, 2, 1), kClear);
    // A rectangle with negative sizes is the same rectangle.
    auto negative = bitmap(4, 4);
    negative->drawImage(Rect(4, 2, -2, -2), cornerImage());
    EXPECT_EQ(negative->makeImage(), context->makeImage());
}

TEST(Arcs, ClockwiseQuarterFromUpToRightFillsTheTopRightQuadrantInYUpSpace)
{
    auto context = bitmap(20, 20);
    context->setFillColor(PlatformColor::red());
    context->moveToPoint(Point(10, 10));
    context->addArc(Point(10, 10), 10, std::numbers::pi / 2, 0, true);
    context->closePath();
    context->fillPath();
    saveForReview(*context, kContextGroup, QStringLiteral("arc_clockwise_y_up"));
    EXPECT_TRUE(context->isPathEmpty()) << "painting consumes the path";
    // User maxY is bitmap row 0: the quadrant above and right of the centre is the top-right.
    EXPECT_TRUE(filledAt(*context, 14, 5)) << "top right";
    EXPECT_TRUE(filledAt(*context, 11, 1)) << "top right, near the top";
    EXPECT_FALSE(filledAt(*context, 5, 5)) << "top left";
    EXPECT_FALSE(filledAt(*context, 5, 14)) << "bottom left";
    EXPECT_FALSE(filledAt(*context, 14, 14)) << "bottom right";
    EXPECT_EQ(pixelAt(*context, 0, 0), kClear);
}

TEST(Arcs, CounterClockwiseQuarterAnglesFillThreeQuadrants)
{
    auto context = bitmap(20, 20);
    context->setFillColor(PlatformColor::red());
    context->moveToPoint(Point(10, 10));
    context->addArc(Point(10, 10), 10, std::numbers::pi / 2, 0, false);
    context->closePath();
    context->fillPath();
    saveForReview(*context, kContextGroup, QStringLiteral("arc_counter_clockwise_y_up"));
    EXPECT_FALSE(filledAt(*context, 14, 5)) << "top right";
    EXPECT_TRUE(filledAt(*context, 5, 5)) << "top left";
    EXPECT_TRUE(filledAt(*context, 5, 14)) << "bottom left";
    EXPECT_TRUE(filledAt(*context, 14, 14)) << "bottom right";
}

TEST(Arcs, DirectionFollowsTheUserSpaceSoAFlippedSpaceMirrorsIt)
{
    auto context = bitmap(20, 20);
    context->translateCTM(0, 20);
    context->scaleCTM(1, -1);
    context->setFillColor(PlatformColor::red());
    context->moveToPoint(Point(10, 10));
    context->addArc(Point(10, 10), 10, std::numbers::pi / 2, 0, true);
    context->closePath();
    context->fillPath();
    saveForReview(*context, kContextGroup, QStringLiteral("arc_clockwise_flipped"));
    // y-down: angle pi/2 points down on screen; decreasing to 0 sweeps to the right.
    EXPECT_TRUE(filledAt(*context, 14, 14)) << "bottom right";
    EXPECT_FALSE(filledAt(*context, 14, 5)) << "top right";
    EXPECT_FALSE(filledAt(*context, 5, 5)) << "top left";
    EXPECT_FALSE(filledAt(*context, 5, 14)) << "bottom left";
}

TEST(Dashes, LengthsAreInUserUnitsWhateverTheLineWidth)
{
    auto context = bitmap(64, 8);
    context->setStrokeColor(PlatformColor::black());
    context->setLineWidth(4);
    context->setLineDash(0, {10, 10});
    const Point line[2] = {Point(2, 4), Point(62, 4)};
    context->strokeLineSegments(line, 2);
    saveForReview(*context, kContextGroup, QStringLiteral("dashes_width_4"));
    // The line covers user y 2..6: bitmap rows 2..5.
    for (int row = 2; row <= 5; ++row)
        EXPECT_EQ(opaqueRuns(*context, row), (std::vector<int>{10, 10, 10})) << "row " << row;
    EXPECT_TRUE(opaqueRuns(*context, 1).empty());
    EXPECT_TRUE(opaqueRuns(*context, 6).empty());
    EXPECT_TRUE(filledAt(*context, 2, 3));
    EXPECT_TRUE(filledAt(*context, 11, 3));
    EXPECT_FALSE(filledAt(*context, 12, 3));
    EXPECT_TRUE(filledAt(*context, 22, 3));
}

TEST(Dashes, ScaleWithTheCtmAndStartAtThePhase)
{
    auto context = bitmap(64, 8);
    context->scaleCTM(2, 2);
    context->setLineWidth(2);          // 4 pixels
    context->setLineDash(2.5, {5, 5}); // 10-pixel dashes, the first cut to 5 pixels
    context->moveToPoint(Point(1, 2));
    context->addLineToPoint(Point(31, 2));
    context->strokePath();
    saveForReview(*context, kContextGroup, QStringLiteral("dashes_scaled_phase"));
    EXPECT_EQ(opaqueRuns(*context, 3), (std::vector<int>{5, 10, 10, 5}));

    // An odd list repeats: {10} means 10 on, 10 off.
    auto odd = bitmap(64, 8);
    odd->setLineWidth(4);
    odd->setLineDash(0, {10});
    odd->moveToPoint(Point(2, 4));
    odd->addLineToPoint(Point(62, 4));
    odd->strokePath();
    saveForReview(*odd, kContextGroup, QStringLiteral("dashes_odd_list"));
    EXPECT_EQ(opaqueRuns(*odd, 3), (std::vector<int>{10, 10, 10}));

    // An empty list is a solid line.
    odd->setLineDash(0, {});
    odd->moveToPoint(Point(2, 4));
    odd->addLineToPoint(Point(62, 4));
    odd->strokePath();
    EXPECT_EQ(opaqueRuns(*odd, 3), (std::vector<int>{60}));
}

TEST(GState, RestoreBringsBackEveryAttributeAndTheClip)
{
    auto context = bitmap(4, 4);
    context->setFillColor(PlatformColor::red());
    context->setLineWidth(3);
    context->setAlpha(0.5);
    context->setBlendMode(BlendMode::Multiply);
    context->translateCTM(1, 1);
    context->setShouldAntialias(false);

    context->saveGState();
    EXPECT_EQ(context->gStateDepth(), 1);
    context->setFillColor(PlatformColor::white());
    context->setLineWidth(9);
    context->setAlpha(1);
    context->setBlendMode(BlendMode::Copy);
    context->scaleCTM(2, 2);
    context->setShouldAntialias(true);
    context->clipToRect(Rect(0, 0, 1, 1));
    context->restoreGState();

    EXPECT_EQ(context->gStateDepth(), 0);
    EXPECT_EQ(context->fillColor(), PlatformColor::red());
    EXPECT_EQ(context->lineWidth(), 3);
    EXPECT_EQ(context->alpha(), 0.5);
    EXPECT_EQ(context->blendMode(), BlendMode::Multiply);
    EXPECT_EQ(context->ctm(), AffineTransform::makeTranslation(1, 1));
    EXPECT_FALSE(context->shouldAntialias());

    // The clip went with the restore: a fill reaches every pixel.
    context->setBlendMode(BlendMode::Normal);
    context->setAlpha(1);
    context->fillRect(Rect(-1, -1, 4, 4));
    saveForReview(*context, kContextGroup, QStringLiteral("restored_clip"));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(*context, x, y), kRed) << x << ", " << y;
}

TEST(GState, UnbalancedRestoresAreIgnored)
{
    auto context = bitmap(4, 4);
    context->setLineWidth(7);
    context->restoreGState();
    context->restoreGState();
    EXPECT_EQ(context->gStateDepth(), 0);
    EXPECT_EQ(context->lineWidth(), 7);
    context->saveGState();
    context->setLineWidth(2);
    context->restoreGState();
    context->restoreGState();
    EXPECT_EQ(context->lineWidth(), 7);
}

TEST(GState, ThePathIsNotPartOfTheState)
{
    auto context = bitmap(4, 4);
    context->saveGState();
    context->addRect(Rect(0, 0, 2, 2));
    context->restoreGState();
    EXPECT_FALSE(context->isPathEmpty());
}

TEST(GState, PathPointsKeepTheCtmOfTheirTime)
{
    auto context = bitmap(8, 8);
    context->translateCTM(4, 4);
    context->moveToPoint(Point(0, 0));
    context->translateCTM(-4, -4);
    context->addLineToPoint(Point(8, 0));
    context->addLineToPoint(Point(8, 4));
    context->closePath();
    const Rect box = context->currentPath().boundingBox();
    EXPECT_EQ(box, Rect(4, 0, 4, 4));
}

TEST(Clipping, ToRectanglesPathsAndEvenOddPaths)
{
    auto context = bitmap(4, 4);
    context->clipToRect(Rect(0, 0, 2, 2));
    context->setFillColor(PlatformColor::red());
    context->fillRect(Rect(0, 0, 4, 4));
    saveForReview(*context, kContextGroup, QStringLiteral("clip_rect"));
    EXPECT_EQ(pixelAt(*context, 0, 3), kRed);
    EXPECT_EQ(pixelAt(*context, 1, 2), kRed);
    EXPECT_EQ(pixelAt(*context, 2, 3), kClear);
    EXPECT_EQ(pixelAt(*context, 0, 1), kClear);

    // Clips intersect; an even-odd ring leaves its hole.
    auto ring = bitmap(6, 6);
    ring->addRect(Rect(0, 0, 6, 6));
    ring->addRect(Rect(2, 2, 2, 2));
    ring->eoClip();
    EXPECT_TRUE(ring->isPathEmpty()) << "clipping consumes the path";
    ring->clipToRect(Rect(0, 0, 6, 5));
    ring->setFillColor(PlatformColor::red());
    ring->fillRect(Rect(0, 0, 6, 6));
    saveForReview(*ring, kContextGroup, QStringLiteral("clip_even_odd_ring"));
    EXPECT_EQ(pixelAt(*ring, 1, 1), kRed);
    EXPECT_EQ(pixelAt(*ring, 2, 2), kClear) << "the hole";
    EXPECT_EQ(pixelAt(*ring, 3, 3), kClear) << "the hole";
    EXPECT_EQ(pixelAt(*ring, 3, 0), kClear) << "above the clip rectangle";

    // A non-zero clip of the same two rectangles has no hole.
    auto solid = bitmap(6, 6);
    solid->addRect(Rect(0, 0, 6, 6));
    solid->addRect(Rect(2, 2, 2, 2));
    solid->clip();
    solid->setFillColor(PlatformColor::red());
    solid->fillRect(Rect(0, 0, 6, 6));
    EXPECT_EQ(pixelAt(*solid, 2, 2), kRed);

    // Clipping to an empty path leaves nothing to draw into.
    auto none = bitmap(4, 4);
    none->clip();
    none->setFillColor(PlatformColor::red());
    none->fillRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(pixelAt(*none, 1, 1), kClear);
}

// Whether a clip leaves no pixel is known only where QPainter keeps no pixel of it: for
// seeded rectangles a tenth to two thirds of a pixel across, in a flipped and scaled space
// like an overview tile's, every rectangle said to leave none keeps a full-bitmap fill from
// showing, and most that lie inside one pixel are said to.
TEST(Clipping, RectanglesThatRoundToNoPixelAreKnownToLeaveNone)
{
    std::mt19937 random(41);
    std::uniform_real_distribution<double> place(2, 14);
    std::uniform_real_distribution<double> across(0.1, 0.66);
    int claimed = 0;
    int insideOnePixel = 0;
    for (int i = 0; i < 400; ++i) {
        auto context = bitmap(16, 16);
        context->translateCTM(0, 16);
        context->scaleCTM(0.5, -0.5); // user units are half pixels, y downward
        const Rect r(place(random) * 2, place(random) * 2, across(random) * 2, across(random) * 2);
        const bool none = context->clipToRectLeavesNoPixels(r);
        const double x = r.minX() / 2;
        const double y = r.minY() / 2;
        const bool inside = std::floor(x + 0.5) == std::floor(x + r.width() / 2 + 0.5) &&
                            std::floor(y + 0.5) == std::floor(y + r.height() / 2 + 0.5);
        insideOnePixel += inside ? 1 : 0;
        claimed += none ? 1 : 0;
        context->clipToRect(r);
        context->setFillColor(PlatformColor::red());
        context->fillRect(Rect(0, 0, 32, 32));
        bool drawn = false;
        for (int row = 0; row < 16; ++row)
            for (int column = 0; column < 16; ++column)
                drawn = drawn || pixelAt(*context, column, row).a != 0;
        EXPECT_FALSE(none && drawn) << "rectangle " << i << " at " << r.minX() << ", " << r.minY() << " size "
                                    << r.width() << " x " << r.height();
    }
    EXPECT_GT(insideOnePixel, 40);
    EXPECT_GE(claimed, insideOnePixel * 9 / 10);

    // Not known: a rectangle half a pixel across or more, after a path clip, in a turned
    // space, over a painter handed out or one the context did not make.
    const Rect tiny(5.1, 5.1, 0.2, 0.2);
    auto wide = bitmap(16, 16);
    EXPECT_TRUE(wide->clipToRectLeavesNoPixels(tiny));
    EXPECT_FALSE(wide->clipToRectLeavesNoPixels(Rect(5.6, 5.6, 0.6, 0.6)));
    auto pathClip = bitmap(16, 16);
    pathClip->addEllipseInRect(Rect(0, 0, 16, 16));
    pathClip->clip();
    EXPECT_FALSE(pathClip->clipToRectLeavesNoPixels(tiny));
    pathClip->saveGState();
    pathClip->restoreGState();
    EXPECT_FALSE(pathClip->clipToRectLeavesNoPixels(tiny));
    auto turned = bitmap(16, 16);
    turned->rotateCTM(0.1);
    EXPECT_FALSE(turned->clipToRectLeavesNoPixels(tiny));
    auto handedOut = bitmap(16, 16);
    handedOut->saveGState();
    (void)handedOut->painter();
    EXPECT_FALSE(handedOut->clipToRectLeavesNoPixels(tiny));
    handedOut->restoreGState();
    EXPECT_TRUE(handedOut->clipToRectLeavesNoPixels(tiny)) << "known again once restored";
    QImage image(16, 16, QImage::Format_RGBA8888_Premultiplied);
    QPainter painter(&image);
    GraphicsContext borrowed(&painter, false);
    EXPECT_FALSE(borrowed.clipToRectLeavesNoPixels(tiny));
}

TEST(Clipping, ToAMaskPlacedByTheImageDrawingRule)
{
    // Mask: opaque top row, transparent bottom row; drawn into the left half.
    QImage mask(1, 2, QImage::Format_RGBA8888_Premultiplied);
    mask.setPixelColor(0, 0, QColor(0, 0, 0, 255));
    mask.setPixelColor(0, 1, QColor(0, 0, 0, 0));
    auto context = bitmap(4, 4);
    context->setInterpolationQuality(false);
    context->clipToMask(Rect(0, 0, 2, 4), mask);
    context->setFillColor(PlatformColor::red());
    context->fillRect(Rect(0, 0, 4, 4));
    saveForReview(*context, kContextGroup, QStringLiteral("clip_mask"));
    EXPECT_EQ(pixelAt(*context, 0, 0), kRed) << "top left: under the mask's opaque top row";
    EXPECT_EQ(pixelAt(*context, 1, 1), kRed);
    EXPECT_EQ(pixelAt(*context, 0, 2), kClear) << "under the transparent row";
    EXPECT_EQ(pixelAt(*context, 2, 0), kClear) << "outside the mask's rectangle";

    // A grey image without alpha masks by its grey level.
    QImage grey(1, 1, QImage::Format_Grayscale8);
    grey.fill(128);
    auto half = bitmap(2, 2);
    half->clipToMask(Rect(0, 0, 2, 2), grey);
    half->setFillColor(PlatformColor::white());
    half->fillRect(Rect(0, 0, 2, 2));
    const Rgba p = pixelAt(*half, 0, 0);
    EXPECT_NEAR(p.a, 128, 1) << p;
    EXPECT_NEAR(p.r, 128, 1) << p;

    // The mask goes with the graphics state.
    auto restored = bitmap(4, 4);
    restored->saveGState();
    restored->clipToMask(Rect(0, 0, 2, 4), mask);
    restored->restoreGState();
    restored->setFillColor(PlatformColor::red());
    restored->fillRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(pixelAt(*restored, 3, 3), kRed);
}

TEST(Clipping, MaskedClearingRemovesOnlyTheMaskedShare)
{
    QImage mask(2, 1, QImage::Format_RGBA8888_Premultiplied);
    mask.setPixelColor(0, 0, QColor(0, 0, 0, 255));
    mask.setPixelColor(1, 0, QColor(0, 0, 0, 0));
    auto context = bitmap(4, 4);
    context->setFillColor(PlatformColor::red());
    context->fillRect(Rect(0, 0, 4, 4));
    context->setInterpolationQuality(false);
    context->clipToMask(Rect(0, 0, 4, 4), mask);
    context->clearRect(Rect(0, 0, 4, 4));
    saveForReview(*context, kContextGroup, QStringLiteral("clip_mask_clear"));
    EXPECT_EQ(pixelAt(*context, 0, 0), kClear);
    EXPECT_EQ(pixelAt(*context, 3, 0), kRed);
}

TEST(Blending, MultiplyAlphaClearAndCopy)
{
    auto context = bitmap(4, 4);
    context->setFillColor(1, 1, 0, 1);
    context->fillRect(Rect(0, 0, 4, 4));
    context->setBlendMode(BlendMode::Multiply);
    context->setFillColor(0, 1, 1, 1);
    context->fillRect(Rect(0, 0, 2, 4));
    EXPECT_EQ(pixelAt(*context, 0, 0), (Rgba{0, 255, 0, 255})) << "yellow times cyan";
    EXPECT_EQ(pixelAt(*context, 3, 0), (Rgba{255, 255, 0, 255}));

    // Multiplying by a 10 % black darkens by a tenth.
    context->setFillColor(0, 0, 0, 0.1);
    context->fillRect(Rect(2, 0, 2, 4));
    const Rgba darker = pixelAt(*context, 3, 0);
    EXPECT_NEAR(darker.r, 230, 1) << darker;
    EXPECT_EQ(darker.a, 255);

    context->setBlendMode(BlendMode::Normal);
    context->setAlpha(0.5);
    context->setFillColor(0, 0, 1, 1);
    context->clearRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(pixelAt(*context, 2, 2), kClear) << "clearing ignores alpha";
    context->fillRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(pixelAt(*context, 2, 2), (Rgba{0, 0, 128, 128}));

    // Copy replaces, alpha included.
    context->setAlpha(1);
    context->setBlendMode(BlendMode::Copy);
    context->setFillColor(1, 0, 0, 0.5);
    context->fillRect(Rect(0, 0, 1, 1));
    saveForReview(*context, kContextGroup, QStringLiteral("blending"));
    EXPECT_EQ(pixelAt(*context, 0, 3), (Rgba{128, 0, 0, 128}));
    EXPECT_EQ(pixelAt(*context, 1, 3), (Rgba{0, 0, 128, 128}));
}

TEST(BlendModes, MapToCompositionModesAndReadFromNumbers)
{
    EXPECT_EQ(compositionModeFor(BlendMode::Normal), QPainter::CompositionMode_SourceOver);
    EXPECT_EQ(compositionModeFor(BlendMode::Multiply), QPainter::CompositionMode_Multiply);
    EXPECT_EQ(compositionModeFor(BlendMode::SoftLight), QPainter::CompositionMode_SoftLight);
    EXPECT_EQ(compositionModeFor(BlendMode::Difference), QPainter::CompositionMode_Difference);
    EXPECT_EQ(compositionModeFor(BlendMode::Copy), QPainter::CompositionMode_Source);
    EXPECT_EQ(compositionModeFor(BlendMode::Clear), QPainter::CompositionMode_Clear);
    EXPECT_EQ(compositionModeFor(BlendMode::PlusLighter), QPainter::CompositionMode_Plus);
    EXPECT_EQ(compositionModeFor(BlendMode::Hue), QPainter::CompositionMode_SourceOver);
    EXPECT_EQ(blendModeFromNumber(1), BlendMode::Multiply);
    EXPECT_EQ(blendModeFromNumber(17), BlendMode::Copy);
    EXPECT_EQ(blendModeFromNumber(27), BlendMode::PlusLighter);
    EXPECT_EQ(blendModeFromNumber(28), BlendMode::Normal);
    EXPECT_EQ(blendModeFromNumber(-1), BlendMode::Normal);
}

TEST(Colors, ComponentsAreClampedAndNaNReadsAsZero)
{
    const PlatformColor c = PlatformColor::deviceRGB(1.5, -0.2, std::nan(""), 2);
    EXPECT_EQ(c.redComponent(), 1);
    EXPECT_EQ(c.greenComponent(), 0);
    EXPECT_EQ(c.blueComponent(), 0);
    EXPECT_EQ(c.alphaComponent(), 1);
    EXPECT_EQ(PlatformColor::deviceWhite(0.5).withAlphaComponent(std::nan("")).alphaComponent(), 0);
    EXPECT_EQ(PlatformColor::lightGray().redComponent(), 2.0 / 3.0);
    EXPECT_EQ(PlatformColor::darkGray().greenComponent(), 1.0 / 3.0);
    EXPECT_EQ(PlatformColor::clear().alphaComponent(), 0);
    EXPECT_EQ(PlatformColor::calibratedRGB(0.1, 0.2, 0.3), PlatformColor::sRGB(0.1, 0.2, 0.3));
    EXPECT_EQ(PlatformColor::calibratedWhite(0.25, 0.5), PlatformColor::deviceRGB(0.25, 0.25, 0.25, 0.5));
    // Byte values survive the trip through QColor.
    for (int v = 0; v < 256; ++v) {
        const QColor q = PlatformColor::deviceRGB(v / 255.0, 0, 0, v / 255.0).toQColor();
        ASSERT_EQ(q.red(), v);
        ASSERT_EQ(q.alpha(), v);
    }
    EXPECT_EQ(PlatformColor::fromQColor(QColor(255, 0, 0)), PlatformColor::red());
}

TEST(Colors, PatternColoursTileFromTheUserOriginUpright)
{
    auto context = bitmap(6, 6);
    context->setFillColor(PlatformColor::patternImage(cornerImage()));
    EXPECT_TRUE(context->fillColor().isPattern());
    context->setInterpolationQuality(false);
    context->fillRect(Rect(0, 0, 6, 6));
    saveForReview(*context, kContextGroup, QStringLiteral("pattern_fill"));
    // Tiles end at user y = 0 (the bottom row) and are upright on screen.
    EXPECT_EQ(pixelAt(*context, 0, 5), kBlue) << "bottom-left pixel: the tile's bottom-left";
    EXPECT_EQ(pixelAt(*context, 1, 5), kWhite);
    EXPECT_EQ(pixelAt(*context, 0, 4), kRed);
    EXPECT_EQ(pixelAt(*context, 1, 4), kGreen);
    EXPECT_EQ(pixelAt(*context, 2, 4), kRed) << "the next tile";
    EXPECT_EQ(pixelAt(*context, 0, 0), kRed);

    // Moving the user origin moves the tiles.
    auto shifted = bitmap(6, 6);
    shifted->translateCTM(1, 0);
    shifted->setFillColor(PlatformColor::patternImage(cornerImage()));
    shifted->setInterpolationQuality(false);
    shifted->fillRect(Rect(-1, 0, 6, 6));
    EXPECT_EQ(pixelAt(*shifted, 1, 5), kBlue);
    EXPECT_EQ(pixelAt(*shifted, 0, 5), kWhite);
}

TEST(Drawing, StrokedRectanglesEllipsesAndTiles)
{
    auto context = bitmap(10, 10);
    context->setStrokeColor(PlatformColor::black());
    context->strokeRectWithWidth(Rect(2, 2, 6, 6), 2);
    saveForReview(*context, kContextGroup, QStringLiteral("stroke_rect"));
    EXPECT_EQ(context->lineWidth(), 1) << "the width is for this stroke only";
    EXPECT_EQ(pixelAt(*context, 1, 5).a, 255) << "the left edge covers x 1..3";
    EXPECT_EQ(pixelAt(*context, 2, 5).a, 255);
    EXPECT_EQ(pixelAt(*context, 3, 5).a, 0);
    EXPECT_EQ(pixelAt(*context, 0, 5).a, 0);

    auto ellipse = bitmap(10, 10);
    ellipse->setFillColor(PlatformColor::red());
    ellipse->fillEllipseInRect(Rect(0, 0, 10, 10));
    saveForReview(*ellipse, kContextGroup, QStringLiteral("ellipse"));
    EXPECT_EQ(pixelAt(*ellipse, 5, 5), kRed);
    EXPECT_EQ(pixelAt(*ellipse, 0, 0), kClear);

    auto tiles = bitmap(4, 4);
    tiles->setInterpolationQuality(false);
    tiles->drawTiledImage(Rect(1, 1, 2, 2), cornerImage());
    saveForReview(*tiles, kContextGroup, QStringLiteral("tiled_image"));
    // Tile (1..3, 1..3) in user space: its top-left pixel is the image's, at bitmap (1, 1).
    EXPECT_EQ(pixelAt(*tiles, 1, 1), kRed);
    EXPECT_EQ(pixelAt(*tiles, 2, 2), kWhite);
    EXPECT_EQ(pixelAt(*tiles, 3, 3), kRed) << "the tile below-right";
    EXPECT_EQ(pixelAt(*tiles, 0, 0), kWhite) << "the tile above-left";
}

TEST(Drawing, LinearGradientsStopWhereAsked)
{
    const std::vector<std::pair<double, PlatformColor>> stops = {{0, PlatformColor::black()},
                                                                 {1, PlatformColor::white()}};
    auto context = bitmap(20, 2);
    context->drawLinearGradient(stops, Point(5, 0), Point(15, 0), false, false);
    saveForReview(*context, kContextGroup, QStringLiteral("linear_gradient_bounded"));
    EXPECT_EQ(pixelAt(*context, 2, 0), kClear) << "before the start";
    EXPECT_EQ(pixelAt(*context, 18, 0), kClear) << "after the end";
    const Rgba mid = pixelAt(*context, 10, 0);
    EXPECT_NEAR(mid.r, 128, 16) << mid;
    EXPECT_EQ(mid.a, 255);

    auto extended = bitmap(20, 2);
    extended->drawLinearGradient(stops, Point(5, 0), Point(15, 0));
    saveForReview(*extended, kContextGroup, QStringLiteral("linear_gradient_extended"));
    EXPECT_EQ(pixelAt(*extended, 1, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(*extended, 19, 0), kWhite);
}

TEST(Drawing, RadialGradientsCanStopAtTheEndCircle)
{
    const std::vector<std::pair<double, PlatformColor>> stops = {{0, PlatformColor::white()},
                                                                 {1, PlatformColor::black()}};
    auto context = bitmap(40, 40);
    context->drawRadialGradient(stops, Point(20, 20), 0, Point(20, 20), 10, false, false);
    saveForReview(*context, kContextGroup, QStringLiteral("radial_gradient"));
    EXPECT_GT(pixelAt(*context, 20, 20).r, 200) << "white at the centre";
    EXPECT_EQ(pixelAt(*context, 20, 20).a, 255);
    EXPECT_EQ(pixelAt(*context, 2, 2), kClear) << "nothing past the end circle";

    auto past = bitmap(40, 40);
    past->drawRadialGradient(stops, Point(20, 20), 0, Point(20, 20), 10, false, true);
    EXPECT_EQ(pixelAt(*past, 2, 2), (Rgba{0, 0, 0, 255})) << "the end colour goes on";
}

TEST(PainterContext, WorksInTheCallersSpaceAndHandsThePainterBack)
{
    QImage image(10, 10, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(2, 0);
    {
        GraphicsContext context(&painter, true);
        EXPECT_TRUE(context.isFlipped());
        EXPECT_EQ(context.bitmapData(), nullptr);
        EXPECT_EQ(context.bytesPerRow(), 0);
        context.saveGState(); // left unbalanced on purpose
        context.translateCTM(1, 1);
        context.setFillColor(PlatformColor::red());
        context.fillRect(Rect(0, 0, 2, 2)); // y-down: the top-left area, moved by (2, 0) + (1, 1)
    }
    painter.end();
    saveForReview(image, kContextGroup, QStringLiteral("painter_context"));
    EXPECT_EQ(pixelAt(image, 3, 1), kRed);
    EXPECT_EQ(pixelAt(image, 4, 2), kRed);
    EXPECT_EQ(pixelAt(image, 2, 1), kClear);
    EXPECT_EQ(pixelAt(image, 3, 0), kClear);

    QPainter again(&image);
    again.translate(5, 5);
    const QTransform before = again.worldTransform();
    {
        GraphicsContext context(&again, false);
        context.scaleCTM(3, 3);
        context.clipToRect(Rect(0, 0, 1, 1));
        (void)context.painter();
    }
    EXPECT_EQ(again.worldTransform(), before);
    EXPECT_FALSE(again.hasClipping());
}

TEST(CurrentContext, IsPerThread)
{
    auto context = bitmap(2, 2);
    EXPECT_EQ(GraphicsContext::current(), nullptr);
    GraphicsContext::setCurrent(context.get());
    EXPECT_EQ(GraphicsContext::current(), context.get());
    GraphicsContext* seenElsewhere = context.get();
    std::thread([&] { seenElsewhere = GraphicsContext::current(); }).join();
    EXPECT_EQ(seenElsewhere, nullptr);
    context.reset();
    EXPECT_EQ(GraphicsContext::current(), nullptr) << "a destroyed context stops being current";
}

TEST(PainterAccess, CarriesTheCtmAndColours)
{
    auto context = bitmap(8, 8);
    context->translateCTM(2, 2);
    context->setFillColor(PlatformColor::red());
    QPainter* p = context->painter();
    p->setPen(Qt::NoPen);
    p->drawRect(QRectF(0, 0, 2, 2));
    saveForReview(*context, kContextGroup, QStringLiteral("painter_access"));
    // User (2..4, 2..4) in y-up: bitmap columns 2..3, rows 4..5.
    EXPECT_EQ(pixelAt(*context, 2, 4), kRed);
    EXPECT_EQ(pixelAt(*context, 3, 5), kRed);
    EXPECT_EQ(pixelAt(*context, 2, 6), kClear);
    EXPECT_DOUBLE_EQ(context->userSpaceScale(), 1.0);
    context->scaleCTM(2, 2);
    EXPECT_DOUBLE_EQ(context->userSpaceScale(), 2.0);
}

// Marks of whole pixels at seeded points of a flipped, scaled and moved space like an overview
// tile's: each fills exactly the 2 x 2 pixels nearest around its point (the pixel holding the
// point among them), opaque and unblended, later marks over earlier ones; a turned space
// still fills around each point.
TEST(PixelMarks, EachMarkFillsTheTwoByTwoPixelsNearestAroundItsPoint)
{
    std::mt19937 random(54);
    std::uniform_real_distribution<double> place(4, 28);
    for (int i = 0; i < 50; ++i) {
        auto context = bitmap(32, 32);
        context->translateCTM(0.3, 32);
        context->scaleCTM(0.25, -0.25); // user units are quarter pixels, y downward
        const Point user(place(random) * 4, place(random) * 4);
        context->fillDevicePixelSquares({{user, qRgb(200, 0, 0)}}, 2);
        // The point in pixels, rows counted from the top.
        const double x = 0.3 + user.x / 4;
        const double y = user.y / 4;
        const int left = int(std::round(x - 1));
        const int top = int(std::round(y - 1));
        EXPECT_LE(left, int(std::floor(x)));
        EXPECT_LE(top, int(std::floor(y)));
        for (int row = 0; row < 32; ++row)
            for (int column = 0; column < 32; ++column) {
                const bool inside = column >= left && column < left + 2 && row >= top && row < top + 2;
                const Rgba seen = pixelAt(*context, column, row);
                EXPECT_EQ(seen.a, inside ? 255 : 0) << column << ", " << row << " for " << x << ", " << y;
                if (inside) {
                    EXPECT_EQ(seen.r, 200);
                }
            }
    }
    // y up: (3, 3) covers columns 2 and 3 of rows 4 and 5, (4, 4) columns 3 and 4 of rows 3
    // and 4.
    auto two = bitmap(8, 8);
    two->fillDevicePixelSquares({{Point(3, 3), qRgb(0, 0, 255)}, {Point(4, 4), qRgb(0, 255, 0)}}, 2);
    EXPECT_EQ(pixelAt(*two, 3, 4).g, 255) << "the later mark lies over the earlier";
    EXPECT_EQ(pixelAt(*two, 2, 5).b, 255);
    EXPECT_EQ(pixelAt(*two, 4, 5).a, 0);
    auto turned = bitmap(16, 16);
    turned->translateCTM(8, 8);
    turned->rotateCTM(0.3);
    turned->fillDevicePixelSquares({{Point(0, 0), qRgb(0, 0, 255)}}, 2);
    EXPECT_GT(pixelAt(*turned, 8, 8).a, 0);
    EXPECT_EQ(pixelAt(*turned, 2, 2).a, 0);
}
