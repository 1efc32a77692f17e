// Tinting towards a Color: the flat tint (the image's shape filled with the colour, by the
// alpha of each pixel) and the hue-space recolouring relative to the centre pixel, with the
// all-zero reference of a transparent centre; sizes in points and pixels kept.

#include "toolkit/ColorImageTinting.h"
#include "graphics/ColorSpaceConverter.h"
#include "model/Color.h"
#include "platform/gfx/PlatformImage.h"
#include "tests/graphics/ImageTestSupport.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

QImage pixels(int w, int h, Pixel p)
{
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            setPixel(image, x, y, p);
    }
    return image;
}

ColorPtr orange(double alpha = 1.0)
{
    return Color::withRGB(QStringLiteral("Orange"), RGBA{200, 100, 50, alpha});
}

// Premultiplied bytes -> un-premultiplied colour 0..255 and alpha 0..1.
RGBA straight(Pixel p)
{
    return RGBA{p.r * 255.0 / p.a, p.g * 255.0 / p.a, p.b * 255.0 / p.a, p.a / 255.0};
}

Pixel expectedRecoloured(Pixel p, const HSVA& reference, const HSVA& target)
{
    if (p.a == 0)
        return kClear;
    const RGBA r = ColorSpaceConverter::transformPixel(straight(p), reference, target);
    return Pixel{int(r.red * r.alpha), int(r.green * r.alpha), int(r.blue * r.alpha), int(r.alpha * 255)};
}

} // namespace

// ---- Flat tint ----

TEST(ColorImageTinting, AHalfTransparentPixelOfTheColourComesOutAtHalfItsBytes)
{
    // (200, 100, 50) at alpha byte 128: f = 128 / 255, bytes 100, 50, 25 and 128.
    const PlatformImage image(pixels(3, 2, Pixel{128, 128, 128, 128}));
    const PlatformImage tinted = ColorImageTinting::transformImage(image, orange());
    ASSERT_FALSE(tinted.isNull());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(imagePixel(onlyRepresentation(tinted), x, y), kHalfOrange) << x << "," << y;
    }
}

TEST(ColorImageTinting, AnOpaqueImageTakesTheColourEverywhereAndTransparencyStays)
{
    QImage source = pixels(4, 4, kRed);
    setPixel(source, 1, 1, kGreen);
    setPixel(source, 2, 2, kClear);
    setPixel(source, 3, 3, Pixel{10, 20, 30, 64});
    // The colour's own alpha is not used.
    const PlatformImage tinted = ColorImageTinting::transformImage(PlatformImage(source), orange(0.25));
    const QImage& out = onlyRepresentation(tinted);
    EXPECT_EQ(imagePixel(out, 0, 0), (Pixel{200, 100, 50, 255})) << "the former colour is discarded";
    EXPECT_EQ(imagePixel(out, 1, 1), (Pixel{200, 100, 50, 255}));
    EXPECT_EQ(imagePixel(out, 2, 2), kClear) << "a transparent pixel stays transparent";
    // f = 64 / 255 as a float: 200 f = 50.19, 100 f = 25.09, 50 f = 12.5: truncated.
    EXPECT_EQ(imagePixel(out, 3, 3), (Pixel{50, 25, 12, 64}));

    // Every alpha byte survives the round trip through f.
    QImage ramp(256, 1, QImage::Format_RGBA8888_Premultiplied);
    for (int a = 0; a < 256; ++a)
        setPixel(ramp, a, 0, Pixel{0, 0, 0, a});
    const QImage rampOut =
        onlyRepresentation(ColorImageTinting::transformImage(PlatformImage(ramp), orange()));
    for (int a = 0; a < 256; ++a) {
        const float f = float(a / 255.0);
        ASSERT_EQ(imagePixel(rampOut, a, 0),
                  (Pixel{int(200 * double(f)), int(100 * double(f)), int(50 * double(f)), a}))
            << "alpha " << a;
    }
}

TEST(ColorImageTinting, ANullColourGivesTheShapeInTransparentBlack)
{
    const PlatformImage tinted =
        ColorImageTinting::transformImage(PlatformImage(pixels(2, 2, kRed)), nullptr);
    EXPECT_EQ(imagePixel(onlyRepresentation(tinted), 0, 0), (Pixel{0, 0, 0, 255}));
}

TEST(ColorImageTinting, KeepsThePointSizeAndThePixelsOfTheRepresentationUsed)
{
    // A 2x representation only: 8 x 6 pixels shown as 4 x 3 points.
    const PlatformImage image(pixels(8, 6, kBlue), Size(4, 3));
    const PlatformImage tinted = ColorImageTinting::transformImage(image, orange());
    EXPECT_EQ(tinted.size(), Size(4, 3));
    ASSERT_EQ(tinted.representations().size(), 1u);
    EXPECT_EQ(onlyRepresentation(tinted).size(), QSize(8, 6));
    EXPECT_EQ(onlyRepresentation(tinted).format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(onlyRepresentation(tinted).bytesPerLine(), 4 * 8) << "rows of exactly 4 x width bytes";
    EXPECT_EQ(imagePixel(onlyRepresentation(image), 0, 0), kBlue) << "the source is left alone";

    EXPECT_TRUE(ColorImageTinting::transformImage(PlatformImage(), orange()).isNull());
    EXPECT_TRUE(ColorImageTinting::transformImageWithRealTransform(PlatformImage(), orange()).isNull());
    PlatformImage flat(pixels(2, 2, kRed));
    flat.setSize(Size(2, 0));
    EXPECT_TRUE(ColorImageTinting::transformImage(flat, orange()).isNull()) << "no pixels to tint";
}

// ---- Hue-space recolouring ----

TEST(ColorImageTinting, RecolouringFollowsThePixelRuleRelativeToTheCentrePixel)
{
    // A 5 x 5 image: a saturated teal centre, coloured and grey pixels around it.
    QImage source = pixels(5, 5, Pixel{30, 160, 140, 255});
    setPixel(source, 0, 0, Pixel{200, 40, 40, 255});
    setPixel(source, 4, 0, Pixel{60, 60, 60, 255}); // grey: saturation below 0.12
    setPixel(source, 0, 4, Pixel{50, 20, 10, 128}); // half transparent
    setPixel(source, 4, 4, kClear);
    setPixel(source, 2, 2, Pixel{20, 120, 200, 255}); // the centre: row 5 / 2, column 5 / 2
    const ColorPtr target = orange();
    const PlatformImage out =
        ColorImageTinting::transformImageWithRealTransform(PlatformImage(source), target);
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.size(), Size(5, 5));

    HSVA reference;
    ColorSpaceConverter::RGBToHSV(straight(Pixel{20, 120, 200, 255}), reference);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            const Pixel in = imagePixel(source, x, y);
            EXPECT_EQ(imagePixel(onlyRepresentation(out), x, y),
                      expectedRecoloured(in, reference, target->hsva()))
                << x << "," << y;
        }
    }
    EXPECT_EQ(imagePixel(onlyRepresentation(out), 4, 4), kClear) << "a transparent pixel stays (0, 0, 0, 0)";
    // The grey pixel: value 1, its saturation (0) kept, so white.
    EXPECT_EQ(imagePixel(onlyRepresentation(out), 4, 0), kWhite);
    EXPECT_EQ(imagePixel(onlyRepresentation(out), 0, 4).a, 128) << "the pixel keeps its alpha";
}

TEST(ColorImageTinting, ATransparentCentreGivesTheAllZeroReference)
{
    QImage source = pixels(4, 4, Pixel{200, 40, 40, 255});
    setPixel(source, 2, 2, kClear); // row 4 / 2, column 4 / 2
    setPixel(source, 0, 0, Pixel{10, 90, 30, 200});
    const ColorPtr target = Color::withHSV(QStringLiteral("Sky"), HSVA{210, 0.6, 0.9, 1});
    const PlatformImage out =
        ColorImageTinting::transformImageWithRealTransform(PlatformImage(source), target);
    ASSERT_FALSE(out.isNull());
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(imagePixel(onlyRepresentation(out), x, y),
                      expectedRecoloured(imagePixel(source, x, y), HSVA{}, target->hsva()))
                << x << "," << y;
    }
    // Twice the same answer: nothing uninitialised is read.
    const PlatformImage again =
        ColorImageTinting::transformImageWithRealTransform(PlatformImage(source), target);
    EXPECT_EQ(onlyRepresentation(again), onlyRepresentation(out));
}

TEST(ColorImageTinting, ANullTargetRecoloursTowardsTheAllZeroColour)
{
    const QImage source = pixels(2, 2, Pixel{200, 40, 40, 255});
    const PlatformImage out =
        ColorImageTinting::transformImageWithRealTransform(PlatformImage(source), nullptr);
    HSVA reference;
    ColorSpaceConverter::RGBToHSV(straight(Pixel{200, 40, 40, 255}), reference);
    EXPECT_EQ(imagePixel(onlyRepresentation(out), 0, 0),
              expectedRecoloured(Pixel{200, 40, 40, 255}, reference, HSVA{}));
}
