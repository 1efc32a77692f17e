#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/gfx/NinePartImage.h"
#include "tests/platform/gfx/PixelTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kImageGroup = QStringLiteral("PlatformImage");

// Checks that `image` shows the test pattern upright over its whole area.
void expectUprightPattern(const QImage& image, const char* what)
{
    const int w = image.width();
    const int h = image.height();
    EXPECT_EQ(pixelAt(image, 0, 0), kRed) << what;
    EXPECT_EQ(pixelAt(image, w - 1, 0), kGreen) << what;
    EXPECT_EQ(pixelAt(image, 0, h - 1), kBlue) << what;
    EXPECT_EQ(pixelAt(image, w - 1, h - 1), kWhite) << what;
}

PlatformImage solidPlatformImage(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    image.fill(color);
    return PlatformImage(image);
}

} // namespace

TEST(NamedImage, LoadsTheImageAndItsDoubleSizeVariant)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.name(), QStringLiteral("test_pattern"));
    EXPECT_EQ(image.size(), Size(8, 8));
    ASSERT_EQ(image.representations().size(), 2u);
    EXPECT_EQ(image.representations()[0].size(), QSize(8, 8));
    EXPECT_EQ(image.representations()[1].size(), QSize(16, 16));
    for (const QImage& rep : image.representations()) {
        EXPECT_EQ(rep.format(), QImage::Format_RGBA8888_Premultiplied);
        expectUprightPattern(rep, "representation");
    }
    // The same pixels again from the cache, also when asked with the file extension.
    const PlatformImage again = PlatformImage::imageNamed(QStringLiteral("test_pattern.png"));
    ASSERT_EQ(again.representations().size(), 2u);
    EXPECT_EQ(again.representations()[1].cacheKey(), image.representations()[1].cacheKey());
}

TEST(NamedImage, AMissingNameIsNullAndLogsNothing)
{
    LogCapture log;
    EXPECT_TRUE(PlatformImage::imageNamed(QStringLiteral("no_such_image")).isNull());
    EXPECT_TRUE(PlatformImage::imageNamed(QStringLiteral("no_such_image")).isNull());
    EXPECT_TRUE(PlatformImage::imageNamed(QString()).isNull());
    EXPECT_TRUE(PlatformImage::imageNamed(QStringLiteral("../images/test_pattern")).isNull());
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(NamedImage, ConcurrentLookupsAgree)
{
    std::vector<PlatformImage> results(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(
            [&results, i] { results[i] = PlatformImage::imageNamed(QStringLiteral("test_pattern")); });
    for (auto& t : threads)
        t.join();
    for (const PlatformImage& r : results) {
        ASSERT_FALSE(r.isNull());
        EXPECT_EQ(r.representations()[0], results[0].representations()[0]);
    }
}

TEST(PlatformImageData, DecodesBytesAndSizesInPixels)
{
    QImage pixels(30, 20, QImage::Format_RGBA8888_Premultiplied);
    pixels.fill(Qt::red);
    const PlatformImage image = PlatformImage::fromData(ImageCodec::encodePNG(pixels));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), Size(30, 20));
    EXPECT_TRUE(PlatformImage::fromData(QByteArray("junk")).isNull());
    EXPECT_EQ(PlatformImage::fromData(QByteArray()).size(), Size());

    PlatformImage resized = image;
    resized.setSize(Size(15, 10));
    EXPECT_EQ(resized.size(), Size(15, 10));
    EXPECT_EQ(image.size(), Size(30, 20)) << "copies keep their own size";
}

TEST(PlatformImageRepresentations, TheBestFitsTheRectangleAtTheScale)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.bestRepresentation(Rect(0, 0, 8, 8), 1).width(), 8);
    EXPECT_EQ(image.bestRepresentation(Rect(0, 0, 8, 8), 2).width(), 16);
    EXPECT_EQ(image.bestRepresentation(Rect(0, 0, 8, 8), 3).width(), 16)
        << "none is large enough: the largest";
    EXPECT_EQ(image.bestRepresentation(Rect(0, 0, 4, 4), 2).width(), 8);
    EXPECT_EQ(image.bestRepresentation(Rect(0, 0, 9, 9), 1).width(), 16);
    EXPECT_EQ(image.bestRepresentation(Rect(), 2).width(), 16)
        << "an empty rectangle stands for the image's size";
    EXPECT_TRUE(PlatformImage().bestRepresentation(Rect(0, 0, 1, 1)).isNull());
}

TEST(PlatformImageDrawing, DrawInRectIsUprightInYUpAndFlippedContexts)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());

    auto up = GraphicsContext::createBitmap(8, 8);
    GraphicsContext::setCurrent(up.get());
    image.drawInRect(Rect(0, 0, 8, 8));
    GraphicsContext::setCurrent(nullptr);
    saveForReview(*up, kImageGroup, QStringLiteral("draw_in_rect_y_up"));
    expectUprightPattern(up->makeImage(), "y-up context");

    FlippedCanvas flipped(8, 8);
    GraphicsContext::setCurrent(flipped.context.get());
    image.drawInRect(Rect(0, 0, 8, 8));
    GraphicsContext::setCurrent(nullptr);
    const QImage flippedResult = flipped.finish();
    saveForReview(flippedResult, kImageGroup, QStringLiteral("draw_in_rect_flipped"));
    expectUprightPattern(flippedResult, "flipped context");

    // At twice the scale the 2x pixels land one to one.
    auto twice = GraphicsContext::createBitmap(16, 16);
    twice->scaleCTM(2, 2);
    twice->setInterpolationQuality(false);
    image.drawInRect(*twice, Rect(0, 0, 8, 8));
    saveForReview(*twice, kImageGroup, QStringLiteral("draw_in_rect_scale_2"));
    expectUprightPattern(twice->makeImage(), "scale 2");
    EXPECT_EQ(pixelAt(*twice, 7, 7), kRed);
    EXPECT_EQ(pixelAt(*twice, 8, 8), kWhite);

    // Without a current context nothing happens.
    image.drawInRect(Rect(0, 0, 8, 8));
    image.drawAtPoint(Point(0, 0));
}

TEST(PlatformImageDrawing, DrawAtPointFollowsTheImageDrawingRule)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());

    auto up = GraphicsContext::createBitmap(10, 10);
    GraphicsContext::setCurrent(up.get());
    image.drawAtPoint(Point(2, 0)); // 8 x 8 at the bottom right
    GraphicsContext::setCurrent(nullptr);
    saveForReview(*up, kImageGroup, QStringLiteral("draw_at_point_y_up"));
    EXPECT_EQ(pixelAt(*up, 2, 2), kRed);
    EXPECT_EQ(pixelAt(*up, 9, 9), kWhite);
    EXPECT_EQ(pixelAt(*up, 1, 5), kClear);

    // In a flipped context it is not turned upright: upside down.
    FlippedCanvas flipped(8, 8);
    image.drawAtPoint(*flipped.context, Point(0, 0));
    const QImage result = flipped.finish();
    saveForReview(result, kImageGroup, QStringLiteral("draw_at_point_flipped"));
    EXPECT_EQ(pixelAt(result, 0, 0), kBlue);
    EXPECT_EQ(pixelAt(result, 7, 0), kWhite);
    EXPECT_EQ(pixelAt(result, 0, 7), kRed);
    EXPECT_EQ(pixelAt(result, 7, 7), kGreen);
}

TEST(PlatformImageDrawing, SourceRectangleBlendModeAndFraction)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());

    // The source rectangle is y-up from the image's bottom-left: (0, 4, 4, 4) is the red
    // top-left quarter.
    auto part = GraphicsContext::createBitmap(4, 4);
    image.drawInRect(*part, Rect(0, 0, 4, 4), Rect(0, 4, 4, 4));
    saveForReview(*part, kImageGroup, QStringLiteral("source_rect"));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(*part, x, y), kRed) << x << ", " << y;
    // drawAtPoint draws the part at its own size.
    auto corner = GraphicsContext::createBitmap(8, 8);
    image.drawAtPoint(*corner, Point(0, 0), Rect(4, 0, 4, 4));
    saveForReview(*corner, kImageGroup, QStringLiteral("source_rect_at_point"));
    EXPECT_EQ(pixelAt(*corner, 0, 7), kWhite);
    EXPECT_EQ(pixelAt(*corner, 3, 4), kWhite);
    EXPECT_EQ(pixelAt(*corner, 4, 4), kClear);

    auto faded = GraphicsContext::createBitmap(8, 8);
    image.drawInRect(*faded, Rect(0, 0, 8, 8), Rect(), BlendMode::Normal, 0.5);
    saveForReview(*faded, kImageGroup, QStringLiteral("fraction_half"));
    const Rgba p = pixelAt(*faded, 0, 0);
    EXPECT_NEAR(p.a, 128, 1) << p;
    EXPECT_EQ(faded->alpha(), 1) << "the state is restored";

    auto multiplied = GraphicsContext::createBitmap(8, 8);
    multiplied->setFillColor(0, 1, 1, 1);
    multiplied->fillRect(Rect(0, 0, 8, 8));
    image.drawInRect(*multiplied, Rect(0, 0, 8, 8), Rect(), BlendMode::Multiply);
    saveForReview(*multiplied, kImageGroup, QStringLiteral("multiply_on_cyan"));
    EXPECT_EQ(pixelAt(*multiplied, 0, 0), (Rgba{0, 0, 0, 255})) << "red times cyan";
    EXPECT_EQ(pixelAt(*multiplied, 7, 7), (Rgba{0, 255, 255, 255})) << "white times cyan";
    EXPECT_EQ(multiplied->blendMode(), BlendMode::Normal);
}

TEST(NinePart, CornersKeepTheirSizeEdgesAndCentreStretch)
{
    // Corners 2 x 2, edges 2 thick, a 12 x 10 frame: the centre is 8 x 6.
    const PlatformImage topLeft = solidPlatformImage(2, 2, QColor(255, 0, 0));
    const PlatformImage top = solidPlatformImage(1, 2, QColor(0, 255, 0));
    const PlatformImage topRight = solidPlatformImage(2, 2, QColor(0, 0, 255));
    const PlatformImage left = solidPlatformImage(2, 1, QColor(255, 255, 0));
    const PlatformImage center = solidPlatformImage(1, 1, QColor(255, 255, 255));
    const PlatformImage right = solidPlatformImage(2, 1, QColor(0, 255, 255));
    const PlatformImage bottomLeft = solidPlatformImage(2, 2, QColor(255, 0, 255));
    const PlatformImage bottom = solidPlatformImage(1, 2, QColor(128, 128, 128));
    const PlatformImage bottomRight = solidPlatformImage(2, 2, QColor(0, 0, 0));

    auto checkUpright = [&](const QImage& result, const char* what) {
        // Rows and columns as seen on screen, the frame at (1, 1).
        EXPECT_EQ(pixelAt(result, 0, 0), kClear) << what;
        EXPECT_EQ(pixelAt(result, 1, 1), kRed) << what << ": top left";
        EXPECT_EQ(pixelAt(result, 2, 2), kRed) << what;
        EXPECT_EQ(pixelAt(result, 3, 1), kGreen) << what << ": top edge";
        EXPECT_EQ(pixelAt(result, 10, 2), kGreen) << what;
        EXPECT_EQ(pixelAt(result, 11, 1), kBlue) << what << ": top right";
        EXPECT_EQ(pixelAt(result, 1, 3), (Rgba{255, 255, 0, 255})) << what << ": left edge";
        EXPECT_EQ(pixelAt(result, 2, 8), (Rgba{255, 255, 0, 255})) << what;
        EXPECT_EQ(pixelAt(result, 3, 3), kWhite) << what << ": centre";
        EXPECT_EQ(pixelAt(result, 10, 8), kWhite) << what;
        EXPECT_EQ(pixelAt(result, 12, 5), (Rgba{0, 255, 255, 255})) << what << ": right edge";
        EXPECT_EQ(pixelAt(result, 1, 9), (Rgba{255, 0, 255, 255})) << what << ": bottom left";
        EXPECT_EQ(pixelAt(result, 6, 10), (Rgba{128, 128, 128, 255})) << what << ": bottom edge";
        EXPECT_EQ(pixelAt(result, 12, 10), (Rgba{0, 0, 0, 255})) << what << ": bottom right";
        EXPECT_EQ(pixelAt(result, 13, 11), kClear) << what;
    };

    auto up = GraphicsContext::createBitmap(14, 12);
    up->setInterpolationQuality(false);
    NinePartImage::draw(*up, Rect(1, 1, 12, 10), topLeft, top, topRight, left, center, right, bottomLeft,
                        bottom, bottomRight);
    saveForReview(*up, kImageGroup, QStringLiteral("nine_part_y_up"));
    checkUpright(up->makeImage(), "y-up");

    FlippedCanvas flipped(14, 12);
    flipped.context->setInterpolationQuality(false);
    NinePartImage::draw(*flipped.context, Rect(1, 1, 12, 10), topLeft, top, topRight, left, center, right,
                        bottomLeft, bottom, bottomRight);
    const QImage flippedResult = flipped.finish();
    saveForReview(flippedResult, kImageGroup, QStringLiteral("nine_part_flipped"));
    checkUpright(flippedResult, "flipped");
}

TEST(NinePart, LeavesOutNullPartsAndEmptyFrames)
{
    const PlatformImage corner = solidPlatformImage(2, 2, QColor(255, 0, 0));
    auto context = GraphicsContext::createBitmap(6, 6);
    NinePartImage::draw(*context, Rect(0, 0, 6, 6), corner, {}, corner, {}, {}, {}, corner, {}, corner);
    saveForReview(*context, kImageGroup, QStringLiteral("nine_part_corners_only"));
    EXPECT_EQ(pixelAt(*context, 0, 0), kRed);
    EXPECT_EQ(pixelAt(*context, 5, 5), kRed);
    EXPECT_EQ(pixelAt(*context, 3, 3), kClear);
    NinePartImage::draw(*context, Rect(0, 0, 0, 6), corner, corner, corner, corner, corner, corner, corner,
                        corner, corner);
    EXPECT_EQ(pixelAt(*context, 3, 3), kClear);
}
