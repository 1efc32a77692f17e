#include "platform/gfx/FilterImage.h"
#include "tests/platform/gfx/PixelTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::pixelAt;
using corvex::test::Rgba;
using corvex::test::saveForReview;

namespace {

const QString kFilterGroup = QStringLiteral("filters");

QImage solid(int width, int height, const QColor& color)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    image.fill(color);
    return image;
}

// A picture with a bit of everything: hues across, brightness down, a translucent band
// unless asked for an opaque one.
QImage sampleImage(int width, int height, bool opaque = false)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = (!opaque && y >= height / 3 && y < height / 2) ? 128 : 255;
            image.setPixelColor(x, y,
                                QColor::fromHsv((x * 359) / std::max(1, width - 1), 200,
                                                255 - (y * 200) / std::max(1, height - 1), alpha));
        }
    }
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

long long alphaSum(const QImage& image)
{
    long long sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            sum += row[4 * x + 3];
    }
    return sum;
}

// The 1D Gaussian the blur should use (sigma = radius, taps out to ceil(3 sigma)), computed
// here independently, in double precision.
std::vector<double> referenceKernel(double sigma)
{
    const int margin = int(std::ceil(3 * sigma));
    std::vector<double> kernel(2 * margin + 1);
    double sum = 0;
    for (int i = -margin; i <= margin; ++i)
        sum += kernel[i + margin] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    return kernel;
}

} // namespace

TEST(FilterImageSource, RenderingTheExtentGivesTheImageBack)
{
    const QImage image = sampleImage(37, 23);
    const FilterImage filter = FilterImage::fromImage(image);
    EXPECT_EQ(filter.extent(), Rect(0, 0, 37, 23));
    const QImage back = filter.render(filter.extent());
    ASSERT_EQ(back.size(), image.size());
    EXPECT_EQ(back.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(back, image);
}

TEST(FilterImageSource, TheOriginIsTheBottomLeft)
{
    // Filter space is y-up: the image's top row lies at y 1..2 of a 2 x 2 image.
    const FilterImage filter = FilterImage::fromImage(corvex::test::cornerImage());
    EXPECT_EQ(pixelAt(filter.render(Rect(0, 1, 1, 1)), 0, 0), corvex::test::kRed);
    EXPECT_EQ(pixelAt(filter.render(Rect(1, 1, 1, 1)), 0, 0), corvex::test::kGreen);
    EXPECT_EQ(pixelAt(filter.render(Rect(0, 0, 1, 1)), 0, 0), corvex::test::kBlue);
    EXPECT_EQ(pixelAt(filter.render(Rect(1, 0, 1, 1)), 0, 0), corvex::test::kWhite);
    // Outside the image: transparent; a rectangle reaching past the top keeps row 0 on top.
    const QImage tall = filter.render(Rect(0, 0, 2, 3));
    EXPECT_EQ(pixelAt(tall, 0, 0), corvex::test::kClear);
    EXPECT_EQ(pixelAt(tall, 0, 1), corvex::test::kRed);
    EXPECT_EQ(pixelAt(tall, 1, 2), corvex::test::kWhite);
}

TEST(FilterImageSource, UnrenderableRectanglesGiveANullImage)
{
    const FilterImage filter = FilterImage::fromImage(solid(4, 4, Qt::red));
    EXPECT_TRUE(filter.render(Rect::infinite()).isNull());
    EXPECT_TRUE(filter.render(Rect::null()).isNull());
    EXPECT_TRUE(filter.render(Rect(0, 0, 0, 5)).isNull());
    EXPECT_TRUE(filter.render(Rect(0, 0, std::nan(""), 5)).isNull());
    EXPECT_TRUE(filter.render(Rect(0, 0, 100000, 100000)).isNull());
    EXPECT_TRUE(filter.render(Rect(1e15, 0, 4, 4)).isNull());
    // A fractional rectangle renders its whole-pixel cover.
    EXPECT_EQ(filter.render(Rect(0.5, 0.5, 2, 2)).size(), QSize(3, 3));
    EXPECT_TRUE(FilterImage::fromImage(QImage()).isEmpty());
}

TEST(FilterImageColorControls, SaturationZeroGivesTheGreyOfTheLuminance)
{
    const FilterImage grey = FilterImage::fromImage(solid(3, 3, QColor(200, 100, 50))).colorControls(0);
    // 0.2125 * 200 + 0.7154 * 100 + 0.0721 * 50 = 117.645
    EXPECT_EQ(pixelAt(grey.render(grey.extent()), 1, 1), (Rgba{118, 118, 118, 255}));

    // Translucent pixels are treated un-premultiplied and keep their alpha.
    QImage translucent(1, 1, QImage::Format_RGBA8888);
    translucent.setPixelColor(0, 0, QColor(0, 255, 0, 102));
    const FilterImage g = FilterImage::fromImage(translucent).colorControls(0);
    const Rgba p = pixelAt(g.render(g.extent()), 0, 0);
    // lum = 0.7154 of the (un-premultiplied) green; premultiplied by 0.4.
    EXPECT_EQ(p.a, 102);
    EXPECT_NEAR(p.r, 0.7154 * 255 * 0.4, 1.0) << p;
    EXPECT_EQ(p.r, p.g);
    EXPECT_EQ(p.g, p.b);
}

TEST(FilterImageColorControls, SaturationOneIsTheIdentity)
{
    const QImage image = sampleImage(64, 48);
    const FilterImage same = FilterImage::fromImage(image).colorControls(1);
    EXPECT_EQ(same.render(same.extent()), image);
}

TEST(FilterImageColorControls, MoreSaturationSpreadsTheChannelsAndClamps)
{
    const FilterImage vivid = FilterImage::fromImage(solid(1, 1, QColor(200, 100, 50))).colorControls(1.5);
    // lum 117.645: 117.645 + 1.5 * (c - 117.645) = 241.18, 91.18, 16.18
    EXPECT_EQ(pixelAt(vivid.render(vivid.extent()), 0, 0), (Rgba{241, 91, 16, 255}));
    const FilterImage harsh = FilterImage::fromImage(solid(1, 1, QColor(250, 10, 10))).colorControls(3);
    EXPECT_EQ(pixelAt(harsh.render(harsh.extent()), 0, 0), (Rgba{255, 0, 0, 255}));
}

TEST(FilterImageColorControls, BrightnessAddsAndContrastTurnsAboutTheMiddle)
{
    const FilterImage source = FilterImage::fromImage(solid(1, 1, QColor(51, 102, 204)));
    const FilterImage brighter = source.colorControls(1, 0.2);
    EXPECT_EQ(pixelAt(brighter.render(brighter.extent()), 0, 0), (Rgba{102, 153, 255, 255}));
    const FilterImage contrast = source.colorControls(1, 0, 2);
    // (c - 0.5) * 2 + 0.5: 0.2 -> 0, 0.4 -> 0.3, 0.8 -> 1.1 (clamped)
    EXPECT_EQ(pixelAt(contrast.render(contrast.extent()), 0, 0), (Rgba{0, 77, 255, 255}));
    const FilterImage nonsense = source.colorControls(std::nan(""), std::nan(""), std::nan(""));
    EXPECT_EQ(pixelAt(nonsense.render(nonsense.extent()), 0, 0), (Rgba{51, 102, 204, 255}));
}

TEST(FilterImageBlur, MatchesAGaussianOfSigmaRadius)
{
    // A 20 x 20 opaque white square; the blur of a box is a product of two 1D sums.
    const double radius = 3;
    const FilterImage blurred = FilterImage::fromImage(solid(20, 20, Qt::white)).gaussianBlur(radius);
    EXPECT_EQ(blurred.extent(), Rect(-9, -9, 38, 38)) << "grown by ceil(3 sigma)";
    const QImage image = blurred.render(blurred.extent());
    saveForReview(image, kFilterGroup, QStringLiteral("blurred_square"));
    ASSERT_EQ(image.size(), QSize(38, 38));

    const std::vector<double> kernel = referenceKernel(radius);
    const int margin = int(kernel.size() / 2);
    // Coverage of filter column x by the square [0, 20), after the 1D blur.
    auto cover = [&](int x) {
        double sum = 0;
        for (int i = -margin; i <= margin; ++i)
            sum += (x - i >= 0 && x - i < 20) ? kernel[i + margin] : 0.0;
        return sum;
    };
    int worst = 0;
    for (int row = 0; row < 38; ++row) {
        for (int col = 0; col < 38; ++col) {
            const int x = col - 9;
            const int y = (38 - 1 - row) - 9; // rows run downwards from the top of the extent
            const int expected = int(std::lround(cover(x) * cover(y) * 255));
            const Rgba p = pixelAt(image, col, row);
            worst = std::max(worst, std::abs(p.a - expected));
            ASSERT_LE(std::abs(p.a - expected), 1)
                << "at filter (" << x << ", " << y << "): " << p << ", expected alpha " << expected;
            ASSERT_EQ(p.r, p.a) << "white stays white (premultiplied)";
        }
    }
    EXPECT_LE(worst, 1);
}

TEST(FilterImageBlur, KeepsTotalAlphaAndSpreadsBeyondTheEdge)
{
    const QImage shape = sampleImage(40, 30);
    const FilterImage blurred = FilterImage::fromImage(shape).gaussianBlur(4);
    const QImage image = blurred.render(blurred.extent());
    saveForReview(image, kFilterGroup, QStringLiteral("blurred_sample"));
    const long long before = alphaSum(shape);
    const long long after = alphaSum(image);
    EXPECT_NEAR(double(after), double(before), 0.01 * double(before));
    // One pixel outside the source's left edge, halfway up: ink has arrived.
    const Rect extent = blurred.extent();
    const Rgba outside = pixelAt(blurred.render(Rect(-1, 15, 1, 1)), 0, 0);
    EXPECT_GT(outside.a, 40) << outside;
    // Far outside the source: nothing.
    EXPECT_EQ(pixelAt(blurred.render(Rect(extent.minX(), extent.minY(), 1, 1)), 0, 0).a, 0);
    // No blur for a radius that is not positive.
    EXPECT_EQ(FilterImage::fromImage(shape).gaussianBlur(0).render(Rect(0, 0, 40, 30)), shape);
    EXPECT_EQ(FilterImage::fromImage(shape).gaussianBlur(-2).extent(), Rect(0, 0, 40, 30));
}

TEST(FilterImageMultiply, TenPercentBlackDarkensByATenth)
{
    const FilterImage background = FilterImage::fromImage(solid(4, 4, QColor(200, 100, 50)));
    const FilterImage tint = FilterImage::constantColor(PlatformColor::deviceRGB(0, 0, 0, 0.1));
    const FilterImage darker = FilterImage::multiplyBlend(tint, background);
    EXPECT_TRUE(darker.isInfinite()) << "the union with the constant colour's extent";
    const QImage image = darker.render(Rect(0, 0, 4, 4));
    // Premultiplied S*D + S*(1 - Da) + D*(1 - Sa) with S = (0, 0, 0, 0.1), D opaque: 0.9 D.
    EXPECT_EQ(pixelAt(image, 2, 2), (Rgba{180, 90, 45, 255}));
    // Where the background is transparent only the tint is left.
    const Rgba outside = pixelAt(darker.render(Rect(10, 10, 1, 1)), 0, 0);
    EXPECT_EQ(outside, (Rgba{0, 0, 0, 26}));
}

TEST(FilterImageMultiply, MultipliesColoursWhereBothAreOpaque)
{
    const FilterImage a = FilterImage::fromImage(solid(2, 2, QColor(255, 128, 0)));
    const FilterImage b = FilterImage::fromImage(solid(2, 2, QColor(128, 255, 255)));
    const FilterImage product = FilterImage::multiplyBlend(a, b);
    EXPECT_EQ(product.extent(), Rect(0, 0, 2, 2));
    EXPECT_EQ(pixelAt(product.render(product.extent()), 0, 0), (Rgba{128, 128, 0, 255}));
}

TEST(FilterImageConstant, FillsAnyRectangle)
{
    const FilterImage colour = FilterImage::constantColor(PlatformColor::deviceRGB(1, 0.5, 0, 0.5));
    EXPECT_TRUE(colour.isInfinite());
    EXPECT_EQ(colour.extent(), Rect::infinite());
    for (const Rect& r : {Rect(0, 0, 3, 2), Rect(-1000, 5000, 7, 1), Rect(12.5, -3.25, 2, 2)}) {
        const QImage image = colour.render(r);
        ASSERT_FALSE(image.isNull());
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(pixelAt(image, x, y), (Rgba{128, 64, 0, 128})) << x << ", " << y;
    }
}

TEST(FilterImageCrop, KeepsOnlyThePixelsInside)
{
    const FilterImage source = FilterImage::fromImage(solid(4, 4, Qt::red));
    const FilterImage cropped = source.cropped(Rect(1, 1, 2, 2));
    EXPECT_EQ(cropped.extent(), Rect(1, 1, 2, 2));
    const QImage image = cropped.render(Rect(0, 0, 4, 4));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
            EXPECT_EQ(pixelAt(image, x, y), inside ? corvex::test::kRed : corvex::test::kClear)
                << x << ", " << y;
        }
    }
    EXPECT_TRUE(source.cropped(Rect(10, 10, 2, 2)).isEmpty());
    EXPECT_EQ(source.cropped(Rect(10, 10, 2, 2)).extent(), Rect::null());
    EXPECT_EQ(source.cropped(Rect::infinite()).extent(), Rect(0, 0, 4, 4));
    // An infinite image cropped becomes finite.
    EXPECT_EQ(FilterImage::constantColor(PlatformColor::red()).cropped(Rect(-2, 3, 5, 6)).extent(),
              Rect(-2, 3, 5, 6));
}

TEST(FilterImageChain, TheBackdropRecipeKeepsTheScreenshotsSize)
{
    // Saturate, blur, darken by a tenth, crop back to the screenshot: the blurred backdrop.
    const QImage screenshot = sampleImage(200, 160, true);
    const FilterImage picture =
        FilterImage::multiplyBlend(FilterImage::constantColor(PlatformColor::deviceRGB(0, 0, 0, 0.1)),
                                   FilterImage::fromImage(screenshot).colorControls(1.5).gaussianBlur(15))
            .cropped(Rect(0, 0, screenshot.width(), screenshot.height()));
    EXPECT_EQ(picture.extent(), Rect(0, 0, 200, 160));
    const QImage image = picture.render(picture.extent());
    saveForReview(image, kFilterGroup, QStringLiteral("backdrop"));
    ASSERT_EQ(image.size(), screenshot.size());
    // More than 3 sigma inside the edges the blur has averaged opaque pixels only: opaque,
    // and darker than white.
    const Rgba middle = pixelAt(image, 100, 80);
    EXPECT_EQ(middle.a, 255) << middle;
    EXPECT_LE(std::max({middle.r, middle.g, middle.b}), 230) << middle;
    // At the edges the blur fades into transparency that the tint covers only at a tenth.
    EXPECT_LT(pixelAt(image, 0, 159).a, 160);
}

TEST(FilterImageThreads, ValuesRenderFromSeveralThreadsAtOnce)
{
    const FilterImage picture =
        FilterImage::fromImage(sampleImage(60, 40)).gaussianBlur(2).colorControls(0.5);
    const QImage expected = picture.render(picture.extent());
    std::vector<QImage> results(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&, i] { results[i] = picture.render(picture.extent()); });
    for (auto& thread : threads)
        thread.join();
    for (const QImage& result : results)
        EXPECT_EQ(result, expected);
}
