// The compositor's scaled path and directly drawn layers: planets composited at a series
// of nearby scales look like QPainter's smooth drawing of the full contents, the scaler
// samples as QPainter does (byte orders, mirroring, one-pixel and edge cases), and a layer
// that draws directly shows what its cached contents would have shown, whatever the flips.

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/CompositorScaler_p.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

constexpr double kScaledPathScale = 2; // device pixels a point, as on the drill's screens

// A planet like the mind map's: a shaded disc with a dark rim, transparent around it.
QImage scaledPathPlanet(int side, int hue)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient gradient(side * 0.4, side * 0.35, side * 0.6);
    gradient.setColorAt(0, QColor::fromHsv(hue, 60, 255));
    gradient.setColorAt(1, QColor::fromHsv(hue, 220, 160));
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor::fromHsv(hue, 255, 90), side / 40.0));
    painter.drawEllipse(QRectF(side / 30.0, side / 30.0, side - side / 15.0, side - side / 15.0));
    // A hard-edged detail, where resampling errors show most.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv((hue + 180) % 360, 255, 255));
    painter.drawRect(QRectF(side * 0.45, side * 0.2, side * 0.1, side * 0.6));
    return image;
}

struct ScaledPathPlanetSpec
{
    double x, y, scale, opacity;
};

// The largest channel difference between `ours` and `reference` at each pixel, taking the
// best match among the reference pixel and its eight neighbours; returns the worst of these.
int worstNeighbourDifference(const QImage& ours, const QImage& reference)
{
    int worst = 0;
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            const QRgb p = ours.pixel(x, y);
            int best = 255;
            for (int dy = -1; dy <= 1 && best > 0; ++dy) {
                for (int dx = -1; dx <= 1 && best > 0; ++dx) {
                    const int rx = x + dx, ry = y + dy;
                    if (rx < 0 || ry < 0 || rx >= reference.width() || ry >= reference.height())
                        continue;
                    const QRgb q = reference.pixel(rx, ry);
                    best = std::min(
                        best, std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                        std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))}));
                }
            }
            worst = std::max(worst, best);
        }
    }
    return worst;
}

// The largest channel difference pixel for pixel.
int worstPixelDifference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return worst;
}

void saveScaledPathOutput(const QImage& image, const QString& name)
{
    const QString dir = corvex::test::testOutputDir() + QStringLiteral("/compositor");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

TEST(CompositorScaledPath, PlanetsAtNearbyScalesLookLikeSmoothDrawingOfTheContents)
{
    const Size window(160, 100);
    const int side = 112; // 56 points at scale 2
    const std::vector<ScaledPathPlanetSpec> planets = {
        {40.3, 30.7, 1.0, 1.0},
        {110.6, 35.2, 1.0, 0.8},
        {45.1, 75.45, 1.0, 0.55},
        {120.25, 72.8, 1.0, 1.0},
        // Across the top right corner: only the rows inside the window are scaled.
        {152.5, 96.3, 1.0, 0.9}};
    const QImage contents[] = {scaledPathPlanet(side, 20), scaledPathPlanet(side, 140),
                               scaledPathPlanet(side, 220), scaledPathPlanet(side, 300),
                               scaledPathPlanet(side, 60)};
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, window.width, window.height));
    std::vector<std::shared_ptr<Layer>> layers;
    for (std::size_t i = 0; i < planets.size(); ++i) {
        auto planet = Layer::create();
        planet->setBounds(Rect(0, 0, side / kScaledPathScale, side / kScaledPathScale));
        planet->setContentsScale(kScaledPathScale);
        planet->setContents(contents[i]);
        planet->setPosition(Point(planets[i].x, planets[i].y));
        planet->setOpacity(float(planets[i].opacity));
        root->addSublayer(planet);
        layers.push_back(planet);
    }
    Compositor::Options options;
    options.background = PlatformColor::white();
    options.presentation = false; // the scales as set, not an implicit animation towards them

    // A drill's frames: every planet a little larger than in the last one (the first also
    // with the scale of a shrunken system, the last above the contents' own size).
    for (const double scale : {0.42, 0.8, 0.83, 0.86, 0.9, 0.95, 1.04, 1.1, 1.27}) {
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const double s = scale * (1 + 0.03 * double(i));
            layers[i]->setTransform(Transform3D::makeScale(s, s, 1));
        }
        const QImage ours = Compositor::renderToImage(*root, window, kScaledPathScale, options);
        ASSERT_FALSE(ours.isNull());

        // QPainter's smooth drawing of each planet's full contents, straight into the frame.
        QImage reference(ours.size(), QImage::Format_ARGB32_Premultiplied);
        reference.fill(Qt::white);
        {
            QPainter painter(&reference);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            for (std::size_t i = 0; i < planets.size(); ++i) {
                const double s = scale * (1 + 0.03 * double(i));
                // Contents pixels to device pixels: centred on the position, y up from the bottom.
                const double cx = planets[i].x * kScaledPathScale;
                const double cy = (window.height - planets[i].y) * kScaledPathScale;
                painter.setWorldTransform(QTransform(s, 0, 0, s, cx - s * side / 2, cy - s * side / 2));
                painter.setOpacity(planets[i].opacity);
                painter.drawImage(QPointF(0, 0), contents[i]);
            }
        }
        const QString tag = QString::number(scale, 'f', 2);
        saveScaledPathOutput(ours, QStringLiteral("planets_scaled_") + tag);
        saveScaledPathOutput(reference, QStringLiteral("planets_reference_") + tag);
        EXPECT_LE(worstNeighbourDifference(ours, reference), 8) << "scale " << scale;
        EXPECT_LE(worstNeighbourDifference(reference, ours), 8) << "scale " << scale;
        EXPECT_LE(worstPixelDifference(ours, reference), 24) << "scale " << scale;
        if (scale == 1.04) {
            // Held still, the planets are scaled once more into copies that later frames
            // only blend: the same pixels as while they were changing.
            for (int frame = 0; frame < 2; ++frame)
                EXPECT_EQ(worstPixelDifference(
                              Compositor::renderToImage(*root, window, kScaledPathScale, options), ours),
                          0);
        }
    }
}

TEST(CompositorScaledPath, AnOrbitComingToRestKeepsItsLookWhileItsCopiesAreMadeFrameByFrame)
{
    // More planets than a frame makes copies of: the frames after the orbit stops draw some
    // planets from new copies and the rest scaled afresh, until every planet has its copy.
    const Size window(200, 120);
    const int side = 48;
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, window.width, window.height));
    std::vector<std::shared_ptr<Layer>> planets;
    for (int i = 0; i < 24; ++i) {
        auto planet = Layer::create();
        planet->setBounds(Rect(0, 0, side / kScaledPathScale, side / kScaledPathScale));
        planet->setContentsScale(kScaledPathScale);
        planet->setContents(scaledPathPlanet(side, (i * 37) % 360));
        planet->setPosition(Point(14.3 + (i % 8) * 24.7, 20.6 + (i / 8) * 36.45));
        planet->setOpacity(i % 5 == 0 ? 0.75f : 1.0f);
        root->addSublayer(planet);
        planets.push_back(planet);
    }
    Compositor::Options options;
    options.background = PlatformColor::white();
    options.presentation = false;
    for (const auto& planet : planets)
        planet->setTransform(Transform3D::makeScale(0.9, 0.9, 1));
    (void)Compositor::renderToImage(*root, window, kScaledPathScale, options);
    for (const auto& planet : planets)
        planet->setTransform(Transform3D::makeScale(0.95, 0.95, 1));
    const QImage moving = Compositor::renderToImage(*root, window, kScaledPathScale, options);
    ASSERT_FALSE(moving.isNull());
    for (int frame = 0; frame < 6; ++frame)
        EXPECT_EQ(
            worstPixelDifference(Compositor::renderToImage(*root, window, kScaledPathScale, options), moving),
            0)
            << "frame " << frame << " after the orbit stopped";
}

TEST(CompositorScaledPath, ScaledLayersMovedAroundShowWhatFreshLayersShowThere)
{
    // A grid of shrunken planets (more than a frame makes copies of) moved frame after frame,
    // as scrolling and a grid whose items change places move them: by whole device pixels
    // (their kept copies and scalers move along), by half a pixel and back.
    const Size window(200, 120);
    const int side = 48;
    const auto grid = [&](Point offset) {
        auto root = Layer::createBackingLayer(false);
        root->setFrame(Rect(0, 0, window.width, window.height));
        for (int i = 0; i < 24; ++i) {
            auto planet = Layer::create();
            planet->setBounds(Rect(0, 0, side / kScaledPathScale, side / kScaledPathScale));
            planet->setContentsScale(kScaledPathScale);
            planet->setContents(scaledPathPlanet(side, (i * 37) % 360));
            planet->setPosition(Point(14.3 + (i % 8) * 24.7 + offset.x, 20.6 + (i / 8) * 36.45 + offset.y));
            planet->setTransform(Transform3D::makeScale(0.55, 0.55, 1));
            planet->setOpacity(i % 5 == 0 ? 0.75f : 1.0f);
            root->addSublayer(planet);
        }
        return root;
    };
    Compositor::Options options;
    options.background = PlatformColor::white();
    options.presentation = false;
    const auto moving = grid(Point(0, 0));
    qint64 copyBeforeMoving = 0;
    const std::vector<Point> offsets = {{0, 0},        {0, 0},     {3.5, -2},  {3.5, -2},
                                        {-6, 11.5},    {-6, 11.5}, {-6, 11.5}, {-5.75, 11.5},
                                        {-5.75, 11.5}, {-6, 11.5}, {40, 0},    {0, 0}};
    for (std::size_t frame = 0; frame < offsets.size(); ++frame) {
        const Point at = offsets[frame];
        for (std::size_t i = 0; i < moving->sublayers().size(); ++i)
            moving->sublayers()[i]->setPosition(
                Point(14.3 + double(i % 8) * 24.7 + at.x, 20.6 + double(i / 8) * 36.45 + at.y));
        const QImage ours = Compositor::renderToImage(*moving, window, kScaledPathScale, options);
        const QImage fresh = Compositor::renderToImage(*grid(at), window, kScaledPathScale, options);
        ASSERT_FALSE(ours.isNull());
        EXPECT_EQ(worstPixelDifference(ours, fresh), 0)
            << "frame " << frame << " at " << at.x << ", " << at.y;
        if (frame == 1)
            copyBeforeMoving = moving->sublayers().front()->compositorCopy().cacheKey();
        if (frame == 2) {
            EXPECT_EQ(moving->sublayers().front()->compositorCopy().cacheKey(), copyBeforeMoving)
                << "moved by whole pixels, a planet keeps its copy instead of being scaled again";
        }
    }
    EXPECT_NE(copyBeforeMoving, 0);
}

TEST(CompositorScaledPath, FadingAndResumingScaledLayersKeepTheirLook)
{
    const Size window(80, 60);
    const QImage contents = scaledPathPlanet(96, 200);
    const auto scene = [&](float opacity) {
        auto root = Layer::createBackingLayer(false);
        root->setFrame(Rect(0, 0, window.width, window.height));
        auto planet = Layer::create();
        planet->setBounds(Rect(0, 0, 48, 48));
        planet->setContentsScale(kScaledPathScale);
        planet->setContents(contents);
        planet->setPosition(Point(40.3, 29.6));
        planet->setTransform(Transform3D::makeScale(0.87, 0.87, 1));
        planet->setOpacity(opacity);
        root->addSublayer(planet);
        return std::pair{root, planet};
    };
    Compositor::Options options;
    options.background = PlatformColor::white();
    options.presentation = false;
    // Held still, then fading (the copy kept without opacity), then held still at another
    // opacity: every frame as a first frame of the same scene draws it.
    auto [root, planet] = scene(1.0f);
    for (const float opacity : {1.0f, 1.0f, 1.0f, 0.9f, 0.8f, 0.7f, 0.7f, 0.7f, 1.0f, 0.6f, 0.6f}) {
        planet->setOpacity(opacity);
        const QImage frame = Compositor::renderToImage(*root, window, kScaledPathScale, options);
        auto fresh = scene(opacity);
        const QImage expected = Compositor::renderToImage(*fresh.first, window, kScaledPathScale, options);
        // The opacity is either in the scaler's (7-bit) weights or QPainter's on the copy.
        EXPECT_LE(worstPixelDifference(frame, expected), 4) << "opacity " << opacity;
    }
}

// QPainter's smooth drawing of `source` by `toDevice` with `opacity`, in an image placed as
// the scaler's rendition is.
QImage qtScaledLike(const ScaledRendition& rendition, const QImage& source, const QTransform& toDevice,
                    double opacity)
{
    QImage image(rendition.image.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(opacity);
    painter.setWorldTransform(toDevice *
                              QTransform::fromTranslate(-rendition.origin.x(), -rendition.origin.y()));
    painter.drawImage(QPointF(0, 0), source);
    return image;
}

struct ScalerCase
{
    const char* name;
    QSize size;
    QImage::Format format;
    QTransform toDevice;
    double opacity;
    // QPainter interpolates with 8-bit weights (4-bit ones when reducing more than twice),
    // the scaler along rows with 7-bit ones where it uses AVX2.
    int tolerance = 3;
};

TEST(CompositorScaler, SamplesAsQPaintersSmoothDrawing)
{
    const ScalerCase cases[] = {
        {"enlarged", {24, 20}, QImage::Format_ARGB32_Premultiplied, QTransform(2.6, 0, 0, 3.1, 5.3, 2.7), 1},
        {"reduced",
         {64, 48},
         QImage::Format_ARGB32_Premultiplied,
         QTransform(0.37, 0, 0, 0.55, 0.4, 1.6),
         0.6,
         8},
        {"rgba bytes",
         {30, 30},
         QImage::Format_RGBA8888_Premultiplied,
         QTransform(1.13, 0, 0, 0.91, 3.5, 4.25),
         0.8},
        {"opaque", {30, 22}, QImage::Format_RGB32, QTransform(1.7, 0, 0, 1.2, 0.5, 0.5), 1},
        {"mirrored",
         {32, 32},
         QImage::Format_ARGB32_Premultiplied,
         QTransform(1.2, 0, 0, -0.8, 2.2, 40.6),
         0.9},
        {"one pixel wide",
         {1, 12},
         QImage::Format_ARGB32_Premultiplied,
         QTransform(5.5, 0, 0, 1.5, 1.2, 0.3),
         1},
        {"one pixel", {1, 1}, QImage::Format_ARGB32_Premultiplied, QTransform(3.3, 0, 0, 3.3, 0.6, 0.6), 0.5},
        {"negative origin",
         {20, 20},
         QImage::Format_ARGB32_Premultiplied,
         QTransform(1.5, 0, 0, 1.5, -7.3, -4.6),
         1},
    };
    for (const ScalerCase& c : cases) {
        // Colour blocks with hard edges and partly transparent pixels.
        QImage source(c.size, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                const int alpha = (x + 2 * y) % 5 == 0 ? 128 : 255;
                source.setPixelColor(
                    x, y, QColor((x * 53) % 256, (y * 91) % 256, ((x / 3 + y / 4) % 2) * 255, alpha));
            }
        }
        source = source.convertToFormat(c.format);
        const ScaledRendition ours = CompositorScaler::scale(source, c.toDevice, c.opacity, 4096);
        ASSERT_FALSE(ours.image.isNull()) << c.name;
        EXPECT_EQ(ours.image.format(), QImage::Format_ARGB32_Premultiplied) << c.name;
        const QRectF area = c.toDevice.mapRect(QRectF(0, 0, c.size.width(), c.size.height()));
        EXPECT_EQ(ours.origin, QPoint(int(std::floor(area.left())), int(std::floor(area.top())))) << c.name;
        EXPECT_EQ(ours.image.width(), int(std::ceil(area.right())) - ours.origin.x()) << c.name;
        const QImage expected = qtScaledLike(ours, source, c.toDevice, c.opacity);
        EXPECT_LE(worstPixelDifference(ours.image, expected), c.tolerance) << c.name;
    }
}

// Blended straight into a target, the drawing leaves exactly the pixels QPainter's
// source-over leaves when it blends the scaled rows, clear rows and columns skipped, within
// the columns asked for; on targets with and without alpha.
TEST(CompositorScaler, BlendsIntoATargetAsQPainterBlendsTheScaledRows)
{
    // A disc with clear corners, clear rows above and below, and a half transparent band.
    QImage source(40, 36, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::transparent);
    {
        QPainter painter(&source);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 160, 90));
        painter.drawEllipse(QRectF(4, 5, 31, 26));
        painter.setBrush(QColor(200, 40, 40, 120));
        painter.drawRect(QRectF(10, 16, 24, 4));
    }
    const struct
    {
        const char* name;
        QImage::Format sourceFormat;
        QImage::Format targetFormat;
        QTransform toDevice;
        double opacity;
    } cases[] = {
        {"enlarged", QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32_Premultiplied,
         QTransform(1.37, 0, 0, 1.29, 6.3, 4.7), 1},
        {"reduced and faded", QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32,
         QTransform(0.83, 0, 0, 0.71, 9.5, 11.2), 0.6},
        {"mirrored, rgba bytes", QImage::Format_RGBA8888_Premultiplied, QImage::Format_ARGB32_Premultiplied,
         QTransform(-1.1, 0, 0, 0.9, 58.4, 3.3), 0.85},
    };
    for (const auto& c : cases) {
        const QImage contents = source.convertToFormat(c.sourceFormat);
        const CompositorScaler scaling(contents, c.toDevice, c.opacity, 4096);
        ASSERT_TRUE(scaling.isValid()) << c.name;
        // A target of every premultiplied value under the drawing.
        QImage target(80, 70, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < target.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(target.scanLine(y));
            for (int x = 0; x < target.width(); ++x) {
                const int alpha = (x * 7 + y * 13) % 256;
                row[x] = qRgba((x * 37) % (alpha + 1), (y * 11) % (alpha + 1), (x + y) % (alpha + 1), alpha);
            }
        }
        target = target.convertToFormat(c.targetFormat);
        const QPoint origin = scaling.origin();
        const QSize size = scaling.size();
        // Columns cut on both sides, as by the area that can be painted.
        const int from = 3;
        const int to = size.width() - 2;

        QImage band(size, QImage::Format_ARGB32_Premultiplied);
        scaling.scaleRows(0, size.height(), band.bits(), band.bytesPerLine());
        QImage expected = target.copy();
        {
            QPainter painter(&expected);
            painter.setClipRect(QRect(origin.x() + from, origin.y(), to - from, size.height()));
            painter.drawImage(origin, band);
        }
        QImage ours = target.copy();
        scaling.blendRows(0, size.height(), from, to,
                          ours.bits() + qsizetype(origin.y()) * ours.bytesPerLine() +
                              qsizetype(origin.x() + from) * 4,
                          ours.bytesPerLine());
        // Bit for bit.
        EXPECT_TRUE(ours == expected) << c.name << ": " << worstPixelDifference(ours, expected);
    }
}

TEST(CompositorScaler, RefusesWhatItCannotScale)
{
    QImage source(8, 8, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::red);
    const QImage indexed = source.convertToFormat(QImage::Format_Indexed8);
    const QImage straight = source.convertToFormat(QImage::Format_ARGB32);
    const struct
    {
        const char* name;
        QImage image;
        QTransform toDevice;
    } refused[] = {
        {"rotated", source, QTransform().rotate(30)},
        {"indexed colours", indexed, QTransform::fromScale(2, 2)},
        {"unpremultiplied", straight, QTransform::fromScale(2, 2)},
        {"flat", source, QTransform::fromScale(0, 2)},
        {"too large", source, QTransform::fromScale(600, 1)},
        {"not a number", source, QTransform(std::nan(""), 0, 0, 1, 0, 0)},
        {"null", QImage(), QTransform::fromScale(2, 2)},
    };
    for (const auto& r : refused)
        EXPECT_TRUE(CompositorScaler::scale(r.image, r.toDevice, 1, 4096).image.isNull()) << r.name;
}

// Draws an asymmetric mark in the layer's own space: a triangle in the lower left of the
// bounds and a bar along the top (in whatever way the context's space points).
class ScaledPathMarkDelegate : public LayerDelegate
{
public:
    void drawLayer(Layer& layer, GraphicsContext& context) override
    {
        const Rect b = layer.bounds();
        context.setFillColor(PlatformColor::deviceRGB(0.9, 0.2, 0.1, 1));
        Path triangle;
        triangle.moveTo(Point(b.minX() + 2, b.minY() + 2));
        triangle.lineTo(Point(b.minX() + 14, b.minY() + 2));
        triangle.lineTo(Point(b.minX() + 2, b.minY() + 11));
        triangle.closeSubpath();
        context.addPath(triangle);
        context.fillPath();
        context.setStrokeColor(PlatformColor::deviceRGB(0.1, 0.3, 0.9, 1));
        context.setLineWidth(1.3);
        context.strokeEllipseInRect(Rect(b.midX() - 6, b.midY() - 6, 12, 12));
        // Past the bounds on the right: cut there, as cached contents are.
        context.fillRect(Rect(b.maxX() - 4, b.minY() + 6, 10, 3));
    }
};

TEST(CompositorDirectDrawing, ShowsWhatCachedContentsWouldShow)
{
    auto delegate = std::make_shared<ScaledPathMarkDelegate>();
    const struct
    {
        const char* name;
        bool parentFlipped;
        bool layerFlipped;
        double scale;
    } cases[] = {
        {"plain at 1", false, false, 1},    {"plain at 2", false, false, 2},
        {"flipped parent", true, false, 2}, {"flipped layer", false, true, 2},
        {"both flipped", true, true, 1},
    };
    for (const auto& c : cases) {
        const auto scene = [&](bool direct) {
            auto root = Layer::createBackingLayer(c.parentFlipped);
            root->setFrame(Rect(0, 0, 60, 50));
            auto layer = Layer::create();
            layer->setBounds(Rect(3, -2, 32, 24));
            layer->setPosition(Point(30, 25));
            layer->setGeometryFlipped(c.layerFlipped);
            layer->setContentsScale(c.scale);
            layer->setOpacity(0.7f);
            layer->setDelegate(delegate);
            layer->setDrawsDirectly(direct);
            layer->setNeedsDisplay();
            root->addSublayer(layer);
            Compositor::prepareFrame(*root);
            EXPECT_EQ(layer->contents().isNull(), direct) << c.name;
            Compositor::Options options;
            options.background = PlatformColor::white();
            return Compositor::renderToImage(*root, Size(60, 50), c.scale, options);
        };
        const QImage direct = scene(true);
        const QImage cached = scene(false);
        saveScaledPathOutput(direct,
                             QStringLiteral("direct_") + QString::fromLatin1(c.name).replace(' ', '_'));
        EXPECT_LE(worstPixelDifference(direct, cached), 2) << c.name;
    }
}

// Fills its bounds with one colour, with a mark in a corner.
class ScaledPathFillDelegate : public LayerDelegate
{
public:
    explicit ScaledPathFillDelegate(PlatformColor color) : mColor(color) {}
    void drawLayer(Layer& layer, GraphicsContext& context) override
    {
        const Rect b = layer.bounds();
        context.setFillColor(mColor);
        context.fillRect(b);
        context.setFillColor(PlatformColor::black());
        context.fillRect(Rect(b.minX() + 2, b.minY() + 2, 5, 3));
    }
    PlatformColor mColor;
};

// A layer redrawn at the same size draws into its last picture when nothing else holds it:
// its composites, plain and scaled, after each redraw are those of a fresh layer, and a
// picture taken from it before keeps its pixels.
TEST(CompositorScaledPath, LayersRedrawnAtTheirSizeShowTheNewDrawingAndLeaveHeldPicturesAlone)
{
    // A plain layer and a scaled one, composited over a few frames (later frames use the
    // compositor's kept copies).
    const auto scene = [](const std::shared_ptr<LayerDelegate>& delegate) {
        auto root = Layer::createBackingLayer(false);
        root->setFrame(Rect(0, 0, 80, 50));
        for (const auto& [at, scale] : {std::pair(Point(20, 25), 1.0), std::pair(Point(60, 25), 1.25)}) {
            auto layer = Layer::create();
            layer->setBounds(Rect(0, 0, 30, 30));
            layer->setPosition(at);
            layer->setTransform(Transform3D::makeScale(scale, scale, 1));
            layer->setContentsScale(kScaledPathScale);
            layer->setDelegate(delegate);
            layer->setNeedsDisplay();
            root->addSublayer(layer);
        }
        return root;
    };
    const auto frames = [](Layer& root) {
        Compositor::prepareFrame(root);
        Compositor::Options options;
        options.background = PlatformColor::white();
        QImage frame;
        for (int i = 0; i < 3; ++i)
            frame = Compositor::renderToImage(root, Size(80, 50), kScaledPathScale, options);
        return frame;
    };
    auto delegate = std::make_shared<ScaledPathFillDelegate>(PlatformColor::deviceRGB(0.9, 0.2, 0.1, 1));
    const auto root = scene(delegate);
    (void)frames(*root);
    Layer& plain = *root->sublayers().front();
    const QImage red = plain.contents().copy();
    const QImage held = plain.contents();
    qint64 key = plain.contents().cacheKey();
    for (const PlatformColor& color :
         {PlatformColor::deviceRGB(0.1, 0.3, 0.9, 1), PlatformColor::deviceRGB(0.2, 0.8, 0.3, 0.5),
          PlatformColor::deviceRGB(0.9, 0.9, 0.1, 1)}) {
        delegate->mColor = color;
        for (const auto& layer : root->sublayers())
            layer->setNeedsDisplay();
        const QImage shown = frames(*root);
        EXPECT_NE(plain.contents().cacheKey(), key);
        key = plain.contents().cacheKey();
        EXPECT_TRUE(shown == frames(*scene(std::make_shared<ScaledPathFillDelegate>(color))));
    }
    EXPECT_TRUE(held == red);
}

// A layer prepared ahead shows nothing until drawn, then draws into the memory it took: the
// picture of a layer drawn without it. A layer that holds contents, draws directly or has no
// size takes nothing.
TEST(CompositorScaledPath, APreparedLayerDrawsIntoTheMemoryItTookAhead)
{
    const auto delegate =
        std::make_shared<ScaledPathFillDelegate>(PlatformColor::deviceRGB(0.1, 0.3, 0.9, 0.7));
    const auto layerOf = [&](Rect bounds, bool direct) {
        auto layer = Layer::create();
        layer->setBounds(bounds);
        layer->setContentsScale(kScaledPathScale);
        layer->setDelegate(delegate);
        layer->setDrawsDirectly(direct);
        return layer;
    };
    const auto prepared = layerOf(Rect(0, 0, 30, 20), false);
    prepared->prepareContents();
    QImage blank(int(std::ceil(30 * kScaledPathScale)), int(std::ceil(20 * kScaledPathScale)),
                 QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    ASSERT_TRUE(prepared->contents() == blank);
    const uchar* memory = prepared->contents().constBits();
    prepared->setNeedsDisplay();
    prepared->displayIfNeeded();
    EXPECT_EQ(prepared->contents().constBits(), memory);
    const auto plain = layerOf(Rect(0, 0, 30, 20), false);
    plain->display();
    EXPECT_TRUE(prepared->contents() == plain->contents());

    QImage given(5, 5, QImage::Format_ARGB32_Premultiplied);
    given.fill(Qt::red);
    const auto withGiven = layerOf(Rect(0, 0, 30, 20), false);
    withGiven->setContents(given);
    for (const auto& layer :
         {prepared, withGiven, layerOf(Rect(0, 0, 30, 20), true), layerOf(Rect(0, 0, 0, 20), false)}) {
        const qint64 before = layer->contents().cacheKey();
        layer->prepareContents();
        EXPECT_EQ(layer->contents().cacheKey(), before);
    }
}

TEST(CompositorDirectDrawing, DropsContentsAndStillAsksForFrames)
{
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 10, 10));
    QImage image(10, 10, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::blue);
    layer->setContents(image);
    layer->consumeDirtyLayers();
    layer->setDrawsDirectly(true);
    EXPECT_TRUE(layer->contents().isNull());
    EXPECT_TRUE(layer->needsDisplay());
    layer->consumeDirtyLayers();
    layer->setNeedsDisplay();
    EXPECT_NE(layer->dirtyFlags() & Layer::DirtyContents, 0u);
    layer->display();
    EXPECT_FALSE(layer->needsDisplay());
    EXPECT_TRUE(layer->contents().isNull()) << "nothing cached";
    // Presentation copies draw the same way.
    Layer copy(*layer);
    EXPECT_TRUE(copy.drawsDirectly());
}

} // namespace
