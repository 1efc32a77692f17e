// The blurred backdrop against reference pictures made from the filter rules by
// tests/data/gen/make_backdrop_reference.py (tests/data/backdrop/).

#include "toolkit/BlurView.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Layer.h"
#include "tests/support/TestEnvironment.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/WidgetReferenceSupport.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/QVImageScreenshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::premultiplied;
using corvex::test::saveEnlargedOutput;

namespace {

QString dataDir()
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + QStringLiteral("/../data/backdrop/");
}

QByteArray dataFile(const QString& name)
{
    QFile file(dataDir() + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QImage reference(const QString& name)
{
    QImage image;
    image.loadFromData(dataFile(name + QStringLiteral(".png")), "PNG");
    return premultiplied(image);
}

// The largest difference of any premultiplied byte, with where it is.
struct Difference
{
    int largest = 0;
    int x = -1, y = -1;
};

Difference compare(const QImage& actual, const QImage& expected)
{
    Difference d;
    const QImage a = premultiplied(actual);
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pe = expected.constScanLine(y);
        for (int i = 0; i < 4 * a.width(); ++i) {
            const int diff = std::abs(int(pa[i]) - int(pe[i]));
            if (diff > d.largest)
                d = {diff, i / 4, y};
        }
    }
    return d;
}

// Premultiplied bytes R, G, B, A of one pixel, row 0 on top.
std::vector<int> pixelBytes(const QImage& image, int x, int y)
{
    const uchar* p = premultiplied(image).constScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

QVImage sourceScreenshot()
{
    return QVImage::initWithPNGData(dataFile(QStringLiteral("source.png")));
}

// The reference computes in double precision, the filters in single precision, and the PNG
// files hold straight alpha: a few bytes apart at most (other parameters differ by 10 or more).
constexpr int kBlurTolerance = 3;

} // namespace

TEST(BlurView, ThePictureMatchesTheReferenceAndKeepsTheScreenshotsPixelSize)
{
    const QVImage screenshot = sourceScreenshot();
    ASSERT_EQ(screenshot.pixelSize(), Size(64, 48)) << "missing source in " << dataDir().toStdString();
    const PlatformImage picture = BlurView::backdropPicture(screenshot);
    ASSERT_EQ(picture.representations().size(), 1u) << "one representation";
    const QImage pixels = picture.representations().front();
    EXPECT_EQ(pixels.size(), QSize(64, 48)) << "the blur's outer margin does not widen it";
    EXPECT_EQ(picture.size(), Size(64, 48)) << "the size of the representation";
    saveEnlargedOutput(pixels, QStringLiteral("backdrop_picture"));

    const QImage expected = reference(QStringLiteral("picture"));
    ASSERT_EQ(expected.size(), QSize(64, 48));
    const Difference d = compare(pixels, expected);
    EXPECT_LE(d.largest, kBlurTolerance) << "at (" << d.x << ", " << d.y << ")";

    // Spot checks against values worked out by hand from the rules: the corner pixel lost
    // most of its kernel to the transparent outside, the tint adds 0.1 alpha everywhere.
    const std::vector<int> corner = pixelBytes(pixels, 63, 47);
    EXPECT_LT(corner[3], 80) << "the bottom-right corner is mostly transparent";
    EXPECT_GE(corner[3], 26) << "but never below the tint's 0.1";
}

TEST(BlurView, ShowsThePictureOverItsBackgroundAndStretchesItWithTheView)
{
    auto view = BlurView::createWithScreenshot(sourceScreenshot());
    ASSERT_NE(view->imageView(), nullptr);
    ASSERT_EQ(view->subviews().size(), 1u) << "the image view is the only subview";
    EXPECT_EQ(view->subviews().front(), view->imageView());
    EXPECT_TRUE(view->needsDisplay()) << "the view marks itself for display";
    EXPECT_EQ(view->layer()->backgroundColor(), PlatformColor::calibratedWhite(0.8, 0.7));
    EXPECT_TRUE(view->isFlipped()) << "a BaseView";

    view->setFrame(Rect(0, 0, 64, 48));
    view->layoutSubtreeIfNeeded();
    EXPECT_EQ(view->imageView()->frame(), Rect(0, 0, 64, 48));

    const QImage shown = QVImageScreenshot::initByCapturingScreenshot(view.get()).cgImage();
    saveEnlargedOutput(shown, QStringLiteral("backdrop_view"));
    const QImage expected = reference(QStringLiteral("view"));
    ASSERT_EQ(shown.size(), expected.size());
    const Difference d = compare(shown, expected);
    EXPECT_LE(d.largest, kBlurTolerance) << "at (" << d.x << ", " << d.y << ")";

    // A resize stretches the image view over the new bounds; the picture stays the one made
    // at creation.
    const qint64 pictureKey = view->imageView()->image().representations().front().cacheKey();
    view->setFrameSize(Size(128, 96));
    view->layoutSubtreeIfNeeded();
    EXPECT_EQ(view->imageView()->frame(), Rect(0, 0, 128, 96));
    EXPECT_EQ(view->imageView()->image().representations().front().cacheKey(), pictureKey);
}

TEST(BlurView, WhereTheScreenshotIsTransparentTheBackgroundShowsThroughTheTint)
{
    QImage clear(20, 16, QImage::Format_RGBA8888_Premultiplied);
    clear.fill(Qt::transparent);
    auto view = BlurView::createWithScreenshot(QVImage(clear));
    view->setFrame(Rect(0, 0, 20, 16));
    view->layoutSubtreeIfNeeded();
    const QImage shown = QVImageScreenshot::initByCapturingScreenshot(view.get()).cgImage();
    ASSERT_EQ(shown.size(), QSize(20, 16));
    // Black at 0.1 over white 0.8 at 0.7: colour 0.56 * 0.9 = 0.504, alpha 0.1 + 0.7 * 0.9 = 0.73.
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{10, 8}, std::pair{19, 15}}) {
        const std::vector<int> p = pixelBytes(shown, x, y);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p[c], 128.5, 1.0) << "channel " << c << " at (" << x << ", " << y << ")";
        EXPECT_NEAR(p[3], 186.2, 1.0) << "alpha at (" << x << ", " << y << ")";
    }
}

TEST(BlurView, AScreenshotThatHoldsNothingGivesAnEmptyPicture)
{
    EXPECT_TRUE(BlurView::backdropPicture(QVImage()).isNull());
    auto view = BlurView::createWithScreenshot(QVImage());
    ASSERT_NE(view->imageView(), nullptr);
    EXPECT_TRUE(view->imageView()->image().isNull());
}
