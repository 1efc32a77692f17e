#include "graphics/ColorSpaceConverter.h"

#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>

namespace corvex {

// Readable values in assertion messages.
void PrintTo(const RGBA& c, std::ostream* os)
{
    *os << "RGBA(" << c.red << ", " << c.green << ", " << c.blue << ", " << c.alpha << ")";
}
void PrintTo(const HSVA& c, std::ostream* os)
{
    *os << "HSVA(" << c.hue << ", " << c.saturation << ", " << c.value << ", " << c.alpha << ")";
}

} // namespace corvex

using namespace corvex;

namespace {

HSVA toHSV(double r, double g, double b, double a = 1.0)
{
    HSVA hsv;
    ColorSpaceConverter::RGBToHSV(RGBA{r, g, b, a}, hsv);
    return hsv;
}

RGBA toRGB(double h, double s, double v, double a = 1.0)
{
    RGBA rgb;
    ColorSpaceConverter::HSVToRGB(HSVA{h, s, v, a}, rgb);
    return rgb;
}

bool sameRGBA(const RGBA& x, const RGBA& y)
{
    return x.red == y.red && x.green == y.green && x.blue == y.blue && x.alpha == y.alpha;
}

std::string text(const RGBA& c)
{
    std::ostringstream out;
    PrintTo(c, &out);
    return out.str();
}

std::string text(const HSVA& c)
{
    std::ostringstream out;
    PrintTo(c, &out);
    return out.str();
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

} // namespace

TEST(ColorSpaceConverterRGBToHSV, PrimaryAndMixedColoursGiveTheirHues)
{
    const HSVA red = toHSV(255, 0, 0, 0.25);
    EXPECT_EQ(red.hue, 0.0) << text(red);
    EXPECT_EQ(red.saturation, 1.0) << text(red);
    EXPECT_EQ(red.value, 1.0) << text(red);
    EXPECT_EQ(red.alpha, 0.25) << text(red);

    EXPECT_EQ(toHSV(0, 0, 255).hue, 240.0);
    EXPECT_EQ(toHSV(0, 255, 0).hue, 120.0);
    // Red and green tie: counted as green, (blue - red) / delta + 2 = 1 sector.
    EXPECT_EQ(toHSV(255, 255, 0).hue, 60.0);
    EXPECT_EQ(toHSV(0, 255, 255).hue, 180.0);
    // Blue ties the maximum: not counted as blue, the red sector's negative hue wraps.
    EXPECT_EQ(toHSV(255, 0, 255).hue, 300.0);
    EXPECT_EQ(toHSV(255, 0, 1).hue, double(360.0f - 60.0f / 255.0f));
}

TEST(ColorSpaceConverterRGBToHSV, GreysAndBlackHaveNoHueOrSaturation)
{
    const HSVA grey = toHSV(128, 128, 128, 1.0);
    EXPECT_EQ(grey.hue, 0.0) << text(grey);
    EXPECT_EQ(grey.saturation, 0.0) << text(grey);
    // The value is computed in single precision.
    EXPECT_EQ(grey.value, double(128.0f / 255.0f)) << text(grey);

    const HSVA black = toHSV(0, 0, 0, 0.5);
    EXPECT_EQ(black.hue, 0.0) << text(black);
    EXPECT_EQ(black.saturation, 0.0) << text(black);
    EXPECT_EQ(black.value, 0.0) << text(black);
    EXPECT_EQ(black.alpha, 0.5) << text(black);
}

TEST(ColorSpaceConverterRGBToHSV, SaturationIsDeltaOverMaxInSinglePrecision)
{
    const HSVA c = toHSV(200, 100, 50);
    EXPECT_EQ(c.saturation, double(150.0f / 200.0f)) << text(c);
    EXPECT_EQ(c.value, double(200.0f / 255.0f)) << text(c);
    EXPECT_EQ(c.hue, 20.0) << text(c);
}

TEST(ColorSpaceConverterHSVToRGB, SectorsGiveTheirColours)
{
    struct Case
    {
        double hue;
        RGBA expected;
    } cases[] = {{0, {255, 0, 0, 1}},     {60, {255, 255, 0, 1}}, {120, {0, 255, 0, 1}},
                 {180, {0, 255, 255, 1}}, {240, {0, 0, 255, 1}},  {300, {255, 0, 255, 1}},
                 {30, {255, 127.5, 0, 1}}};
    for (const Case& c : cases) {
        const RGBA rgb = toRGB(c.hue, 1, 1);
        EXPECT_TRUE(sameRGBA(rgb, c.expected)) << "hue " << c.hue << ": " << text(rgb);
    }
    const RGBA dim = toRGB(120, 0.5, 0.4, 0.75);
    EXPECT_EQ(dim.red, 0.4 * 0.5 * 255) << text(dim);
    EXPECT_EQ(dim.green, 0.4 * 255) << text(dim);
    EXPECT_EQ(dim.blue, 0.4 * 0.5 * 255) << text(dim);
    EXPECT_EQ(dim.alpha, 0.75) << text(dim);
}

TEST(ColorSpaceConverterHSVToRGB, HueOf360IsHueZeroAndNoSaturationIsGrey)
{
    for (double s : {0.3, 1.0}) {
        for (double v : {0.2, 1.0}) {
            const RGBA at360 = toRGB(360, s, v);
            const RGBA at0 = toRGB(0, s, v);
            EXPECT_TRUE(sameRGBA(at360, at0)) << text(at360) << " vs " << text(at0);
        }
    }
    for (double hue : {0.0, 75.0, 359.0}) {
        const RGBA grey = toRGB(hue, 0, 0.6, 0.5);
        EXPECT_EQ(grey.red, 0.6 * 255) << text(grey);
        EXPECT_EQ(grey.green, 0.6 * 255) << text(grey);
        EXPECT_EQ(grey.blue, 0.6 * 255) << text(grey);
        EXPECT_EQ(grey.alpha, 0.5) << text(grey);
    }
    EXPECT_TRUE(sameRGBA(toRGB(200, -0.5, 0.6), toRGB(0, 0, 0.6)));
}

// Tolerance of the round trip: the forward steps round max, delta, value, saturation, the
// sector quotient, hue x 60 and the wrap by 360 to float, each within half an ulp (at most
// 2^-24 relative; near 360 that is 1.5e-5 degrees a step, under 5e-5 degrees in all, so
// 8e-7 in hue / 60). The back steps multiply by at most 255 x value x saturation. The sum is
// below 3e-4 of a byte step; 5e-4 leaves margin and still proves that every byte rounds back.
TEST(ColorSpaceConverterRoundTrip, ByteColoursComeBackWithinSinglePrecisionError)
{
    constexpr double kTolerance = 5e-4;
    const int stride = test::heavyScale(3, 15); // both divide 255, so 255 is on the grid
    double worst = 0;
    for (int r = 0; r <= 255; r += stride) {
        for (int g = 0; g <= 255; g += stride) {
            for (int b = 0; b <= 255; b += stride) {
                const RGBA in{double(r), double(g), double(b), 0.5};
                HSVA hsv;
                ColorSpaceConverter::RGBToHSV(in, hsv);
                ASSERT_GE(hsv.hue, 0.0) << text(in);
                ASSERT_LT(hsv.hue, 360.0) << text(in);
                RGBA out;
                ColorSpaceConverter::HSVToRGB(hsv, out);
                const double error =
                    std::max({std::fabs(out.red - r), std::fabs(out.green - g), std::fabs(out.blue - b)});
                worst = std::max(worst, error);
                ASSERT_LE(error, kTolerance) << text(in) << " -> " << text(hsv) << " -> " << text(out);
                ASSERT_EQ(out.alpha, 0.5);
            }
        }
    }
    RecordProperty("worst_error", std::to_string(worst));
}

TEST(ColorSpaceConverterFaults, NegativeAndHugeHuesStillGiveAColour)
{
    // Below 0 the hue wraps around the circle.
    for (double hue : {-90.0, -30.0, -360.0, -1000.0}) {
        const double equivalent = std::fmod(hue, 360.0) + (std::fmod(hue, 360.0) < 0 ? 360.0 : 0.0);
        const RGBA wrapped = toRGB(hue, 0.8, 0.9);
        const RGBA inRange = toRGB(equivalent, 0.8, 0.9);
        EXPECT_NEAR(wrapped.red, inRange.red, 1e-9) << "hue " << hue;
        EXPECT_NEAR(wrapped.green, inRange.green, 1e-9) << "hue " << hue;
        EXPECT_NEAR(wrapped.blue, inRange.blue, 1e-9) << "hue " << hue;
    }
    // 360 and above count as 0, as do infinite hues; vast negative hues land in range.
    for (double hue : {720.0, 1e300, kInfinity, -kInfinity})
        EXPECT_TRUE(sameRGBA(toRGB(hue, 0.8, 0.9), toRGB(0, 0.8, 0.9))) << "hue " << hue;
    const RGBA vast = toRGB(-1e300, 0.8, 0.9);
    for (double c : {vast.red, vast.green, vast.blue}) {
        EXPECT_GE(c, 0.9 * 0.2 * 255 - 1e-9) << text(vast);
        EXPECT_LE(c, 0.9 * 255 + 1e-9) << text(vast);
    }
}

TEST(ColorSpaceConverterFaults, EveryOutputIsWrittenAndNaNGivesZero)
{
    const RGBA garbageRGB{1e9, -1e9, 12345, 777};
    const HSVA garbageHSV{1e9, -1e9, 12345, 777};

    RGBA rgb = garbageRGB;
    ColorSpaceConverter::HSVToRGB(HSVA{kNaN, 0.5, 0.5, 1}, rgb);
    EXPECT_TRUE(sameRGBA(rgb, RGBA{0, 0, 0, 1})) << text(rgb);
    rgb = garbageRGB;
    ColorSpaceConverter::HSVToRGB(HSVA{10, kNaN, 0.5, kNaN}, rgb);
    EXPECT_TRUE(sameRGBA(rgb, RGBA{})) << text(rgb);
    rgb = garbageRGB;
    ColorSpaceConverter::HSVToRGB(HSVA{10, 0.5, kInfinity, 1}, rgb);
    EXPECT_TRUE(sameRGBA(rgb, RGBA{0, 0, 0, 1})) << text(rgb);

    HSVA hsv = garbageHSV;
    ColorSpaceConverter::RGBToHSV(RGBA{kNaN, 10, 20, 1}, hsv);
    EXPECT_EQ(hsv.hue, 0.0) << text(hsv);
    EXPECT_EQ(hsv.saturation, 0.0) << text(hsv);
    EXPECT_EQ(hsv.value, 0.0) << text(hsv);
    EXPECT_EQ(hsv.alpha, 1.0) << text(hsv);
    hsv = garbageHSV;
    ColorSpaceConverter::RGBToHSV(RGBA{10, 20, kInfinity, kNaN}, hsv);
    EXPECT_EQ(hsv.hue, 0.0) << text(hsv);
    EXPECT_EQ(hsv.saturation, 0.0) << text(hsv);
    EXPECT_EQ(hsv.value, 0.0) << text(hsv);
    EXPECT_EQ(hsv.alpha, 0.0) << text(hsv);
}

TEST(ColorSpaceConverterTransformPixel, NearGreysBecomeLightAndKeepTheirSaturation)
{
    const HSVA image{200, 0.5, 0.5, 1};
    const HSVA target{120, 0.9, 0.3, 1};
    // Saturation 10 / 200 = 0.05.
    const RGBA pixel{200, 190, 190, 0.4};
    const RGBA out = ColorSpaceConverter::transformPixel(pixel, image, target);
    HSVA back;
    ColorSpaceConverter::RGBToHSV(out, back);
    EXPECT_EQ(back.value, 1.0) << text(out);
    EXPECT_NEAR(back.saturation, 0.05, 1e-6) << text(out);
    EXPECT_NEAR(back.hue, 120.0, 1e-3) << text(out);
    EXPECT_EQ(out.alpha, 0.4) << text(out);

    const RGBA grey = ColorSpaceConverter::transformPixel(RGBA{80, 80, 80, 1}, image, target);
    EXPECT_TRUE(sameRGBA(grey, RGBA{255, 255, 255, 1})) << text(grey);
}

TEST(ColorSpaceConverterTransformPixel, TheReferenceColourBecomesTheTarget)
{
    const RGBA reference{200, 100, 50, 1};
    HSVA image;
    ColorSpaceConverter::RGBToHSV(reference, image);
    const HSVA target{240, 0.5, 0.8, 1};
    const RGBA out = ColorSpaceConverter::transformPixel(RGBA{200, 100, 50, 0.6}, image, target);
    RGBA expected;
    ColorSpaceConverter::HSVToRGB(HSVA{240, 0.5, 0.8, 0.6}, expected);
    EXPECT_TRUE(sameRGBA(out, expected)) << text(out) << " vs " << text(expected);
}

TEST(ColorSpaceConverterTransformPixel, DistanceFromTheReferenceShiftsSaturationAndValue)
{
    const HSVA image{0, 0.5, 0.5, 1};
    const HSVA target{60, 0.5, 0.5, 1};
    // Pixel (255, 0, 0): s = 1, v = 1. s' = |1 - 0.5| x (1 - 0.5) + 0.5 = 0.75;
    // v' = |1 - 0.5| x (1 - 0.5) x -3 + 0.5 = -0.25, clamped to 0.
    const RGBA out = ColorSpaceConverter::transformPixel(RGBA{255, 0, 0, 1}, image, target);
    EXPECT_TRUE(sameRGBA(out, RGBA{0, 0, 0, 1})) << text(out);

    // Pixel (0, 0, 102): s = 1, v = 0.4. s' = 0.75; v' = |0.4 - 0.5| x (-0.1) x -3 + 0.5 = 0.53.
    const RGBA dark = ColorSpaceConverter::transformPixel(RGBA{0, 0, 102, 1}, image, target);
    HSVA back;
    ColorSpaceConverter::RGBToHSV(dark, back);
    EXPECT_NEAR(back.value, 0.53, 1e-6) << text(dark);
    EXPECT_NEAR(back.saturation, 0.75, 1e-6) << text(dark);
    EXPECT_NEAR(back.hue, 60.0, 1e-3) << text(dark);
}

TEST(ColorSpaceConverterTransformPixel, TargetHueIsBroughtIntoRange)
{
    const HSVA image{0, 0.5, 0.5, 1};
    const RGBA pixel{255, 0, 0, 1};
    const HSVA above{400, 1, 1, 1};
    const HSVA below{-30, 1, 1, 1};
    HSVA back;
    ColorSpaceConverter::RGBToHSV(ColorSpaceConverter::transformPixel(pixel, image, above), back);
    EXPECT_NEAR(back.hue, 40.0, 1e-3) << text(back);
    ColorSpaceConverter::RGBToHSV(ColorSpaceConverter::transformPixel(pixel, image, below), back);
    EXPECT_NEAR(back.hue, 330.0, 1e-3) << text(back);
}
