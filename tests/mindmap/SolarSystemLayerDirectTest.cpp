// The orbit layer draws its ring straight into the frame: the pixels are those its cached
// contents gave, within 2 a channel (the reference below draws the same ring the cached
// way), at several radii, at scales 1 and 2, and it keeps no contents however often the
// radius changes.

#include "mindmap/SolarSystemLayer.h"
#include "platform/ui/Compositor.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <algorithm>
#include <cstdlib>

namespace corvex {
namespace {

// The orbit drawn the way it was before: contents cached at the layer's scale, composited.
class CachedOrbitLayer : public SolarSystemLayer
{
public:
    CachedOrbitLayer() { setDrawsDirectly(false); }
};

constexpr double kOrbitSide = 1260; // the square the solar-system view gives its orbit
constexpr double kOrbitWindow = 1280;

// A window with the orbit layer as the view sets it up: the square frame, centred by
// position, then radius and opacity.
QImage renderOrbitFrame(const std::shared_ptr<SolarSystemLayer>& orbit, double scale, double radius,
                        float opacity)
{
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, kOrbitWindow, kOrbitWindow));
    orbit->setFrame(Rect(0, 0, kOrbitSide, kOrbitSide));
    orbit->setContentsScale(scale);
    orbit->setPosition(Point(kOrbitWindow / 2, kOrbitWindow / 2));
    orbit->setRadius(radius);
    orbit->setOpacity(opacity);
    root->addSublayer(orbit);
    Compositor::prepareFrame(*root);
    Compositor::Options options;
    options.background = PlatformColor::white();
    return Compositor::renderToImage(*root, Size(kOrbitWindow, kOrbitWindow), scale, options);
}

TEST(SolarSystemLayerDirect, RingMatchesTheCachedDrawing)
{
    const struct
    {
        double radius;
        float opacity;
    } rings[] = {{60.5, 1.0f}, {202, 1.0f}, {455.25, 0.6f}, {640, 1.0f}};
    for (const double scale : {1.0, 2.0}) {
        for (const auto& ring : rings) {
            const QImage direct =
                renderOrbitFrame(SolarSystemLayer::create(), scale, ring.radius, ring.opacity);
            const QImage cached =
                renderOrbitFrame(BaseLayer::make<CachedOrbitLayer>(), scale, ring.radius, ring.opacity);
            ASSERT_FALSE(direct.isNull());
            ASSERT_EQ(direct.size(), cached.size());
            int worst = 0;
            int inked = 0;
            int beyondTwo = 0;
            for (int y = 0; y < direct.height(); ++y) {
                const auto* a = reinterpret_cast<const QRgb*>(direct.constScanLine(y));
                const auto* b = reinterpret_cast<const QRgb*>(cached.constScanLine(y));
                for (int x = 0; x < direct.width(); ++x) {
                    if (a[x] == b[x]) {
                        inked += a[x] != 0xffffffffu ? 1 : 0;
                        continue;
                    }
                    const int difference = std::max(
                        {std::abs(qRed(a[x]) - qRed(b[x])), std::abs(qGreen(a[x]) - qGreen(b[x])),
                         std::abs(qBlue(a[x]) - qBlue(b[x])), std::abs(qAlpha(a[x]) - qAlpha(b[x]))});
                    worst = std::max(worst, difference);
                    beyondTwo += difference > 2 ? 1 : 0;
                    inked += a[x] != 0xffffffffu ? 1 : 0;
                }
            }
            if (ring.radius == SolarSystemLayer::naturalRadius()) {
                const QString name = QStringLiteral("orbit_r%1_x%2").arg(ring.radius).arg(scale);
                const QString dir = test::testOutputDir() + QStringLiteral("/mindmap");
                QDir().mkpath(dir);
                direct.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
                cached.save(dir + QLatin1Char('/') + name + QStringLiteral("_cached.png"));
            }
            // QPainter flattens the circle at other coordinates than in the cache: now and
            // then an edge pixel's coverage rounds the other way (one in a thousand or so, by 3).
            EXPECT_LE(beyondTwo, std::max(1, inked / 500))
                << "radius " << ring.radius << " at scale " << scale;
            EXPECT_LE(worst, 4) << "radius " << ring.radius << " at scale " << scale;
            EXPECT_GT(inked, 0) << "radius " << ring.radius << " at scale " << scale;
        }
    }
}

TEST(SolarSystemLayerDirect, KeepsNoContentsWhileTheRadiusChanges)
{
    auto root = Layer::create();
    auto orbit = SolarSystemLayer::create();
    EXPECT_TRUE(orbit->drawsDirectly());
    orbit->setFrame(Rect(0, 0, kOrbitSide, kOrbitSide));
    orbit->setContentsScale(2);
    root->addSublayer(orbit);
    for (double radius = 100; radius <= 300; radius += 50) {
        orbit->setRadius(radius);
        EXPECT_NE(orbit->dirtyFlags() & Layer::DirtyContents, 0u) << "a new frame for radius " << radius;
        Compositor::prepareFrame(*root);
        EXPECT_FALSE(orbit->needsDisplay());
        EXPECT_TRUE(orbit->contents().isNull()) << "no 2520 x 2520 cache at radius " << radius;
    }
    // The presentation copy draws directly too, with the radius.
    SolarSystemLayer copy(*orbit);
    EXPECT_TRUE(copy.drawsDirectly());
    EXPECT_EQ(copy.radius(), 300);
}

} // namespace
} // namespace corvex
