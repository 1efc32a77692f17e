#include "graphics/ImageExtensions.h"

#include "platform/gfx/GraphicsContext.h"
#include "tests/graphics/ImageTestSupport.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

std::unique_ptr<GraphicsContext> bitmap(bool flipped, int size = 4)
{
    auto context = GraphicsContext::createBitmap(size, size);
    EXPECT_NE(context, nullptr);
    if (flipped) {
        context->translateCTM(0, size);
        context->scaleCTM(1, -1);
    }
    context->setInterpolationQuality(false);
    return context;
}

// Makes `context` the current one for the scope.
class CurrentContext
{
public:
    explicit CurrentContext(GraphicsContext* context) : mSaved(GraphicsContext::current())
    {
        GraphicsContext::setCurrent(context);
    }
    ~CurrentContext() { GraphicsContext::setCurrent(mSaved); }

private:
    GraphicsContext* mSaved;
};

} // namespace

TEST(ImageExtensionsNamed, NamedImagesAreThePlatformsUnchanged)
{
    const PlatformImage pattern = ImageExtensions::deviceImageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(pattern.isNull());
    const PlatformImage platform = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    EXPECT_EQ(pattern.size(), platform.size());
    EXPECT_EQ(pattern.representations().size(), platform.representations().size());
    EXPECT_EQ(ImageExtensions::longImageNamed(QStringLiteral("test_pattern")).size(), platform.size());
    EXPECT_TRUE(ImageExtensions::deviceImageNamed(QStringLiteral("no_such_image")).isNull());
    EXPECT_TRUE(ImageExtensions::longImageNamed(QStringLiteral("no_such_image")).isNull());
}

TEST(ImageExtensionsDrawing, FlippedDrawingMirrorsAsQVImageDoes)
{
    const PlatformImage image(cornerImage());
    for (bool flippedContext : {false, true}) {
        for (bool flippedDrawing : {false, true}) {
            const std::string what = std::string(flippedContext ? "flipped context" : "y-up context") +
                                     (flippedDrawing ? ", flipped drawing" : ", drawing not flipped");
            auto plain = bitmap(flippedContext);
            ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), plain.get(), flippedDrawing);
            expectCornerBlocks(*plain, flippedContext == flippedDrawing, what);

            auto blended = bitmap(flippedContext);
            ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), blended.get(), BlendMode::Normal, 1.0,
                                        flippedDrawing);
            expectCornerBlocks(*blended, flippedContext == flippedDrawing, what + " (blend variant)");
            EXPECT_EQ(blended->gStateDepth(), 0) << what;
            if (flippedContext && flippedDrawing)
                saveForReview(*blended, QStringLiteral("extensions-flipped-flipped"));
        }
    }
    auto defaulted = bitmap(false);
    ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), defaulted.get());
    expectCornerBlocks(*defaulted, true, "default: not flipped");
}

TEST(ImageExtensionsDrawing, BlendVariantPlacesTheImageInTheRectangleWithItsAlpha)
{
    const PlatformImage red(filledImage(2, 2, kRed));
    // Flipped: translated to (x, y + height), so an offset rectangle is honoured.
    auto context = bitmap(true);
    ImageExtensions::drawInRect(red, Rect(2, 1, 2, 2), context.get(), BlendMode::Normal, 0.5, true);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const Pixel p = bitmapPixel(*context, x, y);
            if (x >= 2 && y >= 1 && y < 3) {
                EXPECT_NEAR(p.r, 128, 1) << x << ", " << y << " " << p;
                EXPECT_NEAR(p.a, 128, 1) << x << ", " << y << " " << p;
            } else {
                EXPECT_EQ(p, kClear) << x << ", " << y;
            }
        }
    }
    EXPECT_EQ(context->alpha(), 1.0);
    EXPECT_EQ(context->blendMode(), BlendMode::Normal);
}

TEST(ImageExtensionsDrawing, TheRepresentationFollowsTheRectangleSize)
{
    PlatformImage image(filledImage(2, 2, kRed));
    image.addRepresentation(filledImage(4, 4, kBlue));
    auto small = bitmap(false);
    ImageExtensions::drawInRect(image, Rect(0, 0, 2, 2), small.get(), true);
    EXPECT_EQ(bitmapPixel(*small, 0, 3), kRed);
    auto large = bitmap(false);
    ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), large.get(), true);
    EXPECT_EQ(bitmapPixel(*large, 0, 3), kBlue);
    auto blended = bitmap(false);
    ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), blended.get(), BlendMode::Normal, 1.0, false);
    EXPECT_EQ(bitmapPixel(*blended, 0, 3), kBlue);
}

TEST(ImageExtensionsDrawing, CurrentContextDrawingIsUprightAndIgnoresBlendAndAlpha)
{
    const PlatformImage image(cornerImage());
    auto yUp = bitmap(false);
    {
        CurrentContext current(yUp.get());
        ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), BlendMode::Clear, 0.25);
    }
    expectCornerBlocks(*yUp, true, "current y-up context");

    // A flipped context as a flipped view has one: y-down user space over its device.
    QImage device(4, 4, QImage::Format_RGBA8888_Premultiplied);
    device.fill(Qt::transparent);
    {
        QPainter painter(&device);
        GraphicsContext flipped(&painter, true);
        flipped.setInterpolationQuality(false);
        CurrentContext current(&flipped);
        ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), BlendMode::Clear, 0.25);
    }
    saveForReview(device, QStringLiteral("extensions-current-flipped"));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(imagePixel(device, x, y), kCorners[y / 2][x / 2])
                << "current flipped context: " << x << ", " << y;
    // Without a current context nothing is drawn and nothing fails.
    CurrentContext none(nullptr);
    ImageExtensions::drawInRect(image, Rect(0, 0, 4, 4), BlendMode::Normal, 1.0);
    ImageExtensions::drawAtPoint(image, Point(0, 0), BlendMode::Normal, 1.0);
}

TEST(ImageExtensionsDrawing, DrawAtPointCopiesTheWholeImageAtItsSize)
{
    const PlatformImage orange(filledImage(2, 2, kHalfOrange));
    auto context = bitmap(false);
    context->setFillColor(0, 0, 1, 1);
    context->fillRect(Rect(0, 0, 4, 4));
    {
        CurrentContext current(context.get());
        ImageExtensions::drawAtPoint(orange, Point(1, 1), BlendMode::Normal, 0.5);
    }
    // User (1..3, 1..3) in a y-up 4 x 4 bitmap is memory rows 1 and 2, columns 1 and 2.
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
            EXPECT_EQ(bitmapPixel(*context, x, y), inside ? kHalfOrange : kBlue) << x << ", " << y;
        }
    }
}

TEST(ImageExtensionsScaling, ScaleToSizeMakesOneBitmapOfTheTruncatedSize)
{
    // Top half red, bottom half blue: smooth scaling keeps each half's colour away from the
    // middle.
    QImage source = filledImage(8, 8, kBlue);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            setPixel(source, x, y, kRed);
    const PlatformImage image(source);
    auto sentinel = GraphicsContext::createBitmap(1, 1);
    CurrentContext current(sentinel.get());

    const PlatformImage scaled = ImageExtensions::scaleToSize(image, Size(4.5, 4.9));
    EXPECT_EQ(GraphicsContext::current(), sentinel.get()) << "the current context is restored";
    ASSERT_FALSE(scaled.isNull());
    EXPECT_EQ(scaled.size(), Size(4.5, 4.9));
    ASSERT_EQ(scaled.representations().size(), 1u);
    const QImage pixels = scaled.representations().front();
    saveForReview(pixels, QStringLiteral("extensions-scaled"));
    ASSERT_EQ(pixels.size(), QSize(4, 4));
    // Upright: red on top.
    EXPECT_EQ(imagePixel(pixels, 0, 0), kRed);
    EXPECT_EQ(imagePixel(pixels, 3, 0), kRed);
    EXPECT_EQ(imagePixel(pixels, 0, 3), kBlue);
    EXPECT_EQ(imagePixel(pixels, 3, 3), kBlue);

    EXPECT_TRUE(ImageExtensions::scaleToSize(image, Size(0.5, 4)).isNull());
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
}
