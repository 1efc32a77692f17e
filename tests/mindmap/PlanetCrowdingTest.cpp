// An orbit of thousands of children keeps cached drawings only for the planets a person can
// tell apart, and still looks as it did when every planet had its own; planets and adders it
// covers have no layer or view until they are reached.

#include "mindmap/PlanetCrowding.h"
#include "graphics/Geometry.h"
#include "mindmap/IdeaAdderView.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

using Drawing = PlanetCrowding::Drawing;

// Where two frames differ (beyond rounding) and how much on average in that rectangle, per
// channel.
struct Difference
{
    QRect where;
    double meanPerChannel = 0;
};

Difference difference(const QImage& a, const QImage& b)
{
    Difference d;
    const auto channels = [](QRgb p, QRgb q) {
        return std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    };
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (channels(a.pixel(x, y), b.pixel(x, y)) > 24)
                d.where |= QRect(x, y, 1, 1);
    double sum = 0;
    for (int y = d.where.top(); y <= d.where.bottom(); ++y)
        for (int x = d.where.left(); x <= d.where.right(); ++x)
            sum += channels(a.pixel(x, y), b.pixel(x, y));
    if (!d.where.isEmpty())
        d.meanPerChannel = sum / (3.0 * d.where.width() * d.where.height());
    return d;
}

} // namespace

TEST(PlanetCrowding, SpreadPlanetsAreCachedPressedOnesDrawnOnDemandAndCoveredOnesNotAtAll)
{
    // Bottom first: one far from the next, one a sliver beside the next, one far again, two
    // each within a quarter of a device pixel (at 2 pixels a point) of the next, and the top.
    const std::vector<Point> centres{Point(0, 0),   Point(100, 0),   Point(103, 0),
                                     Point(120, 0), Point(120.1, 0), Point(120.1, 0.05)};
    EXPECT_EQ(PlanetCrowding::drawings(centres, 40, 2),
              (std::vector<Drawing>{Drawing::Cached, Drawing::OnDemand, Drawing::Cached, Drawing::Covered,
                                    Drawing::Covered, Drawing::Cached}));
    // At one pixel a point, 0.4 points is still under half a pixel; 0.6 is not.
    EXPECT_EQ(PlanetCrowding::drawings({Point(0, 0), Point(0.4, 0), Point(1.0, 0)}, 40, 1),
              (std::vector<Drawing>{Drawing::Covered, Drawing::OnDemand, Drawing::Cached}));
    // A run each 0.3 points beside the next: every other one is drawn, so the run still fans out.
    EXPECT_EQ(PlanetCrowding::drawings(
                  {Point(0, 0), Point(0.3, 0), Point(0.6, 0), Point(0.9, 0), Point(1.2, 0)}, 40, 1),
              (std::vector<Drawing>{Drawing::OnDemand, Drawing::Covered, Drawing::OnDemand, Drawing::Covered,
                                    Drawing::Cached}));
    EXPECT_TRUE(PlanetCrowding::drawings({}, 40, 1).empty());
}

TEST(PlanetCrowding, AWideOrbitCachesFewPlanetsAndLooksAsIfEveryPlanetWereCached)
{
    const int children = heavyScale(3000, 600);
    SolarWindow w(Size(900, 700));
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), children));
    const QImage crowded = w.window->renderToImage(1);

    int cached = 0;
    int covered = 0;
    for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i) {
        const auto planet = w.solar->ideaViewAtIndex(i);
        ASSERT_TRUE(planet);
        if (!planet->contents().isNull())
            ++cached;
        if (planet->isHidden())
            ++covered;
        EXPECT_EQ(planet->drawsDirectly(), planet->contents().isNull()) << i;
    }
    EXPECT_LE(cached, 60) << "of " << children;
    EXPECT_GE(covered, children / 2);

    // The same orbit with a cached drawing for every planet.
    for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i) {
        const auto planet = w.solar->ideaViewAtIndex(i);
        planet->setDrawsDirectly(false);
        planet->setHidden(false);
    }
    const QImage everyPlanet = w.window->renderToImage(1);
    ASSERT_EQ(crowded.size(), everyPlanet.size());
    // Only the fan of pressed planets may differ, where fewer rims are laid over each other,
    // and there only a little: everything else is the same to the pixel.
    const Difference d = difference(crowded, everyPlanet);
    EXPECT_LT(d.where.width() * d.where.height(), crowded.width() * crowded.height() / 25);
    EXPECT_LT(d.meanPerChannel, 16.0);
}

namespace {

// The layer of the planet showing `identifier`, if the view has made one.
std::shared_ptr<PlanetLayer> madeLayerOf(const SolarSystem& solar, const QString& identifier)
{
    for (const auto& sublayer : solar.layer()->sublayers())
        if (auto planet = std::dynamic_pointer_cast<PlanetLayer>(sublayer);
            planet && planet->ideaIdentifier() == identifier)
            return planet;
    return nullptr;
}

} // namespace

TEST(PlanetCrowding, TenThousandChildrenGetLayersAndAddersOnlyForWhatIsDrawnAndTheRestWhenReached)
{
    const int children = heavyScale(10000, 2000);
    SolarWindow w(Size(900, 700));
    const IdeaPtr root = solarIdea(QStringLiteral("c"), children);
    showIdea(*w.solar, root);
    (void)w.window->renderToImage(1);
    // What is drawn apart is bounded by the orbit's length, not by the children; spinning the
    // orbit through the crowd lets go of what it covers again.
    for (float angle = 0; angle < 6.3f; angle += 0.7f) {
        w.solar->setCurrentAngle(angle);
        EXPECT_LE(w.solar->madeIdeaViewCount(), 300) << angle;
        EXPECT_LE(w.solar->madeIdeaAdderViewCount(), 300) << angle;
    }

    // A planet pressed into the crowd has no layer; turned to where the first one is drawn
    // apart, it gets one that is drawn, hit, edited and offered a menu like any other.
    std::int64_t crowded = -1;
    std::vector<std::int64_t> apart;
    for (std::int64_t i = 0; i < children; ++i) {
        const auto made = madeLayerOf(*w.solar, root->ideas()[std::size_t(i)]->identifier());
        if (!made && crowded < 0)
            crowded = i;
        if (made && !made->drawsDirectly())
            apart.push_back(i);
    }
    ASSERT_GE(crowded, 0);
    ASSERT_GE(apart.size(), 3u);
    const QString identifier = root->ideas()[std::size_t(crowded)]->identifier();
    // Every planet's angle is the offset plus its index's share of the turn.
    const std::int64_t steps = apart[apart.size() / 2] - crowded;
    w.solar->setCurrentAngle(w.solar->currentAngle() + float(steps) * float(2 * M_PI / children));
    const auto planet = madeLayerOf(*w.solar, identifier);
    ASSERT_TRUE(planet);
    EXPECT_FALSE(planet->isHidden());
    EXPECT_EQ(planet, w.solar->ideaViewAtIndex(crowded));
    const Point at = w.inWindow(LayerExtensions::center(*planet));
    EXPECT_EQ(w.solar->viewAtPoint(at).index, crowded);
    w.solar->doubleTap(at);
    ASSERT_TRUE(w.solar->menuForEvent(Event::rightMouseDown(at)));
    EXPECT_EQ(w.delegate->summary(), (std::vector<QString>{"edit:" + identifier, "menu:" + identifier}));

    // Any adder answers when asked for, made at its place on the orbit.
    const auto adder = w.solar->ideaAdderViewAtIndex(children / 2);
    ASSERT_TRUE(adder);
    EXPECT_EQ(adder->superview(), w.solar.get());
    EXPECT_NEAR(Geometry::distanceFrom(ViewExtensions::center(*adder), w.solar->orbitVisualCenter()),
                w.solar->radius(), 1.0);
}

TEST(PlanetCrowding, TheShadowStaysWithItsIdeaWhenChildrenComeAndGoBeforeItsLayerIsMade)
{
    const int children = 2000;
    SolarWindow w(Size(900, 700));
    const IdeaPtr root = solarIdea(QStringLiteral("c"), children);
    showIdea(*w.solar, root);
    (void)w.window->renderToImage(1);
    std::int64_t crowded = -1;
    for (std::int64_t i = 1; i < children && crowded < 0; ++i)
        if (!madeLayerOf(*w.solar, root->ideas()[std::size_t(i)]->identifier()))
            crowded = i;
    ASSERT_GT(crowded, 0);
    const QString shadowed = root->ideas()[std::size_t(crowded)]->identifier();
    w.solar->setShadowForIdeaAtIndex(crowded);

    // One child goes before it, two come before it, and it moves to the front.
    w.solar->removeIdeaAtIndex(0);
    w.solar->insertIdea(Idea::initWithText(QStringLiteral("new one")), -1);
    w.solar->insertIdea(Idea::initWithText(QStringLiteral("new two")), -1);
    // Both went in at the front (behind index -1), so it stands at crowded + 1, still without
    // a layer; it goes to the front too.
    ASSERT_FALSE(madeLayerOf(*w.solar, shadowed));
    w.solar->moveIdea(nullptr, crowded + 1, -1);
    for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i) {
        const auto planet = w.solar->ideaViewAtIndex(i);
        ASSERT_TRUE(planet);
        EXPECT_EQ(planet->shadowMode(), planet->ideaIdentifier() == shadowed) << i;
    }
}
