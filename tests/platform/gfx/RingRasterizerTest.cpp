#include "platform/gfx/RingRasterizer.h"
#include "platform/gfx/GraphicsContext.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QPainter>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

const QColor kRingBackground(30, 30, 40);

// An image of `side` device pixels drawn through a context over a painter at `scale`
// (user space y-down, as the compositor's direct drawing sees it).
QImage drawRing(int side, double scale, QImage::Format format,
                const std::function<void(GraphicsContext&)>& draw)
{
    QImage image(side, side, format);
    image.fill(kRingBackground);
    QPainter painter(&image);
    painter.scale(scale, scale);
    GraphicsContext context(&painter, true);
    draw(context);
    return image;
}

struct RingComparison
{
    int largestDifference = 0;
    double meanDifference = 0; // over the pixels either image changed
    double inkRatio = 0;       // ours against QPainter's, summed over all pixels
    double radiusShift = 0;    // of the ink's mean distance from the centre, in pixels
};

RingComparison compareRings(const QImage& ours, const QImage& painters, QPointF centre)
{
    RingComparison result;
    const QRgb background = kRingBackground.rgba();
    double inkOurs = 0, inkPainters = 0, radiusOurs = 0, radiusPainters = 0, total = 0;
    int touched = 0;
    for (int y = 0; y < ours.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(ours.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(painters.constScanLine(y));
        for (int x = 0; x < ours.width(); ++x) {
            if (a[x] == background && b[x] == background)
                continue;
            const int difference = std::abs(qGreen(a[x]) - qGreen(b[x]));
            result.largestDifference = std::max(result.largestDifference, difference);
            total += difference;
            ++touched;
            const double distance = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
            const double inkA = qGreen(a[x]) - qGreen(background);
            const double inkB = qGreen(b[x]) - qGreen(background);
            inkOurs += inkA;
            inkPainters += inkB;
            radiusOurs += inkA * distance;
            radiusPainters += inkB * distance;
        }
    }
    result.meanDifference = touched > 0 ? total / touched : 0;
    result.inkRatio = inkPainters > 0 ? inkOurs / inkPainters : 0;
    result.radiusShift =
        inkOurs > 0 && inkPainters > 0 ? radiusOurs / inkOurs - radiusPainters / inkPainters : 0;
    return result;
}

} // namespace

// The orbit ring at the sizes a mind map draws it, opaque and while it fades: ours must look
// like QPainter's stroke of the same path, edge pixels rounding apart by a little.
TEST(RingRasterizer, LooksLikeQPaintersStrokeOfTheSameCircle)
{
    struct Case
    {
        double radius;
        double scale;
        double alpha;
        Rect clip; // in user space; none when empty
    };
    const Case cases[] = {
        {15.25, 2, 1, {}}, {60.5, 2, 1, {}},  {150.5, 2, 0.45, Rect(3.3, 40.1, 250.2, 161.7)},
        {320, 2, 1, {}},   {640, 2, 0.2, {}}, {200.5, 3, 1, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "radius " << c.radius << " scale " << c.scale << " alpha " << c.alpha);
        const int side = int(std::ceil((2 * c.radius + 10) * c.scale));
        const Point centre(c.radius + 5.3, c.radius + 4.6);
        auto prepare = [&](GraphicsContext& context) {
            context.setStrokeColor(PlatformColor::lightGray());
            context.setLineWidth(0.6);
            context.setAlpha(c.alpha);
            if (!c.clip.isEmpty())
                context.clipToRect(c.clip);
        };
        const QImage ours =
            drawRing(side, c.scale, QImage::Format_ARGB32_Premultiplied, [&](GraphicsContext& context) {
                prepare(context);
                context.strokeCircle(centre, c.radius);
            });
        const QImage painters =
            drawRing(side, c.scale, QImage::Format_ARGB32_Premultiplied, [&](GraphicsContext& context) {
                prepare(context);
                context.strokeEllipseInRect(
                    Rect(centre.x - c.radius, centre.y - c.radius, 2 * c.radius, 2 * c.radius));
            });
        ASSERT_FALSE(ours == painters) << "the ring was not drawn by the rasteriser";
        const RingComparison comparison = compareRings(ours, painters, centre.toQPointF() * c.scale);
        EXPECT_LE(comparison.largestDifference, 16);
        EXPECT_LE(comparison.meanDifference, 3);
        EXPECT_NEAR(comparison.inkRatio, 1, 0.01);
        EXPECT_NEAR(comparison.radiusShift, 0, 0.04);
        if (c.radius == 640 && c.scale == 2)
            test::saveForReview(ours.copy(int(1100), int(60), 300, 300).scaled(900, 900),
                                QStringLiteral("ring-rasteriser"), QStringLiteral("ours-faded"));
    }
}

TEST(RingRasterizer, WritesOnlyInsideTheClipInEitherByteOrder)
{
    const QRect clip(40, 10, 100, 150);
    const QRgb colour = qPremultiply(qRgba(200, 120, 40, 160));
    QImage argb(200, 200, QImage::Format_ARGB32_Premultiplied);
    argb.fill(kRingBackground);
    QImage rgba = argb.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    QImage opaque(200, 200, QImage::Format_RGB32);
    opaque.fill(kRingBackground);
    const QImage before = argb;

    RingRasterizer::strokeCircle(argb, clip, QPointF(100.4, 99.7), 80.25, 2.5, colour);
    RingRasterizer::strokeCircle(rgba, clip, QPointF(100.4, 99.7), 80.25, 2.5, colour);
    RingRasterizer::strokeCircle(opaque, clip, QPointF(100.4, 99.7), 80.25, 2.5, colour);

    int changed = 0;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const bool differs = argb.pixel(x, y) != before.pixel(x, y);
            changed += differs ? 1 : 0;
            if (differs) {
                ASSERT_TRUE(clip.contains(x, y)) << x << ", " << y;
            }
            ASSERT_EQ(qAlpha(opaque.pixel(x, y)), 255) << x << ", " << y;
        }
    }
    EXPECT_GT(changed, 300);
    EXPECT_EQ(rgba.convertToFormat(QImage::Format_ARGB32_Premultiplied), argb);
    EXPECT_EQ(opaque.convertToFormat(QImage::Format_ARGB32_Premultiplied), argb);
}

// Where the ring cannot be drawn as the painter would, the context leaves it to QPainter:
// the pixels are exactly those of stroking the ellipse.
TEST(RingRasterizer, ContextLeavesToQPainterWhatItCannotDrawAlike)
{
    struct Case
    {
        const char* name;
        double scale;
        std::function<void(GraphicsContext&)> prepare;
    };
    const Case cases[] = {
        {"pen of a pixel or less", 1, [](GraphicsContext& context) { context.setLineWidth(0.6); }},
        {"dashes", 2,
         [](GraphicsContext& context) {
             context.setLineDash(0, {4, 2});
         }},
        {"turned", 2, [](GraphicsContext& context) { context.rotateCTM(0.3); }},
        {"stretched", 2, [](GraphicsContext& context) { context.scaleCTM(1, 1.5); }},
        {"blend mode", 2, [](GraphicsContext& context) { context.setBlendMode(BlendMode::Multiply); }},
        {"round clip", 2,
         [](GraphicsContext& context) {
             context.addEllipseInRect(Rect(10, 10, 50, 50));
             context.clip();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto draw = [&](bool circle) {
            return drawRing(160, c.scale, QImage::Format_ARGB32_Premultiplied, [&](GraphicsContext& context) {
                context.setStrokeColor(PlatformColor::lightGray());
                context.setLineWidth(1.5);
                c.prepare(context);
                if (circle)
                    context.strokeCircle(Point(40, 38), 30);
                else
                    context.strokeEllipseInRect(Rect(10, 8, 60, 60));
            });
        };
        EXPECT_TRUE(draw(true) == draw(false));
    }
}
