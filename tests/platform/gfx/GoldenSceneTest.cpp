// Scenes drawn with GraphicsContext and compared with the reference images that
// tests/data/gen/make_gfx_references.py writes from the drawing rules alone.

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QFile>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr int kSize = 64;

QImage reference(const QString& name)
{
    QFile file(QStringLiteral(CORVEX_GFX_TEST_DATA "/") + name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ImageCodec::decodePNG(file.readAll());
}

// Renders a scene on an opaque white 64 x 64 bitmap (so premultiplied and straight colours
// agree) and compares it with the reference: no channel may differ by more than
// `tolerance`, except at up to `edgeShare` of the pixels (antialiased edges of curves).
void expectMatchesReference(const QString& name, const std::function<void(GraphicsContext&)>& draw,
                            int tolerance = 2, double edgeShare = 0.0)
{
    auto context = GraphicsContext::createBitmap(kSize, kSize);
    ASSERT_NE(context, nullptr);
    context->setFillColor(PlatformColor::white());
    context->fillRect(Rect(0, 0, kSize, kSize));
    draw(*context);
    const QImage ours = context->makeImage();
    saveForReview(ours, QStringLiteral("GoldenScene"), name);

    const QImage expected = reference(name);
    ASSERT_FALSE(expected.isNull()) << "missing reference " << name.toStdString();
    ASSERT_EQ(expected.size(), ours.size());
    QImage diff(ours.size(), QImage::Format_RGBA8888);
    diff.fill(Qt::white);
    int outliers = 0;
    int worst = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const Rgba a = pixelAt(ours, x, y);
            const Rgba b = pixelAt(expected, x, y);
            const int d = std::max(
                {std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
            worst = std::max(worst, d);
            if (d > tolerance) {
                ++outliers;
                diff.setPixelColor(x, y, QColor(255, 0, 0));
                if (edgeShare == 0.0)
                    ADD_FAILURE() << name.toStdString() << ": pixel " << x << ", " << y << " is " << a
                                  << ", the reference has " << b;
            }
        }
    }
    saveForReview(diff, QStringLiteral("GoldenScene"), name + QStringLiteral("_diff"));
    EXPECT_LE(outliers, int(edgeShare * kSize * kSize))
        << name.toStdString() << ": " << outliers << " pixels differ by more than " << tolerance
        << " (largest difference " << worst << ")";
}

} // namespace

TEST(GoldenScene, FilledAndStrokedRectangles)
{
    expectMatchesReference(QStringLiteral("scene_rects"), [](GraphicsContext& c) {
        c.setFillColor(PlatformColor::red());
        c.fillRect(Rect(8, 8, 24, 16));
        c.setStrokeColor(0, 0, 1, 1);
        c.setLineWidth(2);
        c.strokeRect(Rect(36, 28, 20, 28));
    });
}

TEST(GoldenScene, QuarterPiesFollowTheAngleConvention)
{
    // Curved edges: coverage antialiasing and the reference's 4x supersampling differ by a
    // few levels along the rim.
    expectMatchesReference(
        QStringLiteral("scene_pie"),
        [](GraphicsContext& c) {
            c.setFillColor(0, 1, 0, 1);
            c.moveToPoint(Point(32, 32));
            c.addArc(Point(32, 32), 24, std::numbers::pi / 2, 0, true);
            c.closePath();
            c.fillPath();
            c.setFillColor(0, 0, 1, 1);
            c.moveToPoint(Point(32, 32));
            c.addArc(Point(32, 32), 16, std::numbers::pi, 3 * std::numbers::pi / 2, false);
            c.closePath();
            c.fillPath();
        },
        24, 0.005);
}

TEST(GoldenScene, DashesInUserUnits)
{
    expectMatchesReference(QStringLiteral("scene_dashes"), [](GraphicsContext& c) {
        c.setStrokeColor(PlatformColor::black());
        c.setLineWidth(4);
        c.setLineDash(0, {10, 10});
        c.moveToPoint(Point(4, 40));
        c.addLineToPoint(Point(60, 40));
        c.strokePath();

        c.setStrokeColor(PlatformColor::red());
        c.setLineWidth(2);
        c.setLineDash(3, {6, 4});
        c.moveToPoint(Point(20, 4));
        c.addLineToPoint(Point(20, 30));
        c.strokePath();

        c.setStrokeColor(0, 0, 1, 1);
        c.setLineWidth(6);
        c.setLineDash(0, {2, 3, 8, 3});
        c.moveToPoint(Point(4, 12));
        c.addLineToPoint(Point(60, 12));
        c.strokePath();
    });
}

TEST(GoldenScene, MultiplyBlend)
{
    expectMatchesReference(QStringLiteral("scene_multiply"), [](GraphicsContext& c) {
        c.setFillColor(1, 1, 0, 1);
        c.fillRect(Rect(8, 8, 32, 32));
        c.setBlendMode(BlendMode::Multiply);
        c.setFillColor(0, 1, 1, 1);
        c.fillRect(Rect(24, 24, 32, 32));
    });
}

TEST(GoldenScene, ClippedFill)
{
    expectMatchesReference(
        QStringLiteral("scene_clip"),
        [](GraphicsContext& c) {
            c.clipToRect(Rect(4, 20, 56, 24));
            c.setFillColor(PlatformColor::red());
            c.fillEllipseInRect(Rect(8, 8, 48, 48));
        },
        24, 0.005);
}

TEST(GoldenScene, ImageDrawnUprightInYUpSpace)
{
    const QImage source = reference(QStringLiteral("source_quadrants"));
    ASSERT_EQ(source.size(), QSize(4, 4));
    expectMatchesReference(QStringLiteral("scene_image_up"), [&](GraphicsContext& c) {
        c.setInterpolationQuality(false);
        c.drawImage(Rect(8, 8, 32, 16), source);
    });
}

TEST(GoldenScene, ImageDrawnUpsideDownInFlippedSpace)
{
    const QImage source = reference(QStringLiteral("source_quadrants"));
    ASSERT_EQ(source.size(), QSize(4, 4));
    expectMatchesReference(QStringLiteral("scene_image_flipped"), [&](GraphicsContext& c) {
        c.translateCTM(0, kSize);
        c.scaleCTM(1, -1);
        c.setInterpolationQuality(false);
        c.drawImage(Rect(8, 8, 32, 16), source);
    });
}
