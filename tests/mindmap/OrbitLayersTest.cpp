// The orbit layer and the connector line: redraw on every radius, the drawn circle, the
// connector's transform, its visible stroke and its dashes, checked on renderings.

#include "mindmap/LineLayer.h"
#include "mindmap/SolarSystemLayer.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Transaction.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

namespace corvex {
namespace {

// A y-up bitmap of the parent layer's bounds at `scale` pixels a unit, with its subtree.
QImage renderOrbitTree(Layer& root, double scale)
{
    const Size size = root.bounds().size;
    auto context = GraphicsContext::createBitmap(size.width * scale, size.height * scale);
    context->scaleCTM(scale, scale);
    root.renderInContext(*context);
    return context->makeImage();
}

// The alpha at a point of y-up layer space.
int orbitAlphaAt(const QImage& image, double scale, double x, double y)
{
    const int px = int(std::floor(x * scale));
    const int py = image.height() - 1 - int(std::floor(y * scale));
    if (px < 0 || py < 0 || px >= image.width() || py >= image.height())
        return 0;
    return qAlpha(image.pixel(px, py));
}

TEST(SolarSystemLayer, NaturalRadiusIsAnInteger)
{
    static_assert(std::is_same_v<decltype(SolarSystemLayer::naturalRadius()), int>);
    EXPECT_EQ(SolarSystemLayer::naturalRadius(), 202);
}

TEST(SolarSystemLayer, EveryRadiusSetRedraws)
{
    auto orbit = SolarSystemLayer::create();
    orbit->setBounds(Rect(0, 0, 500, 500));
    orbit->setRadius(202);
    orbit->display();
    ASSERT_FALSE(orbit->needsDisplay());
    orbit->setRadius(202);
    EXPECT_TRUE(orbit->needsDisplay());
    orbit->display();
    orbit->setRadius(150);
    EXPECT_TRUE(orbit->needsDisplay());
    // A presentation copy keeps the radius.
    SolarSystemLayer copy(*orbit);
    EXPECT_EQ(copy.radius(), 150);
}

TEST(SolarSystemLayer, DrawsTheOrbitAroundTheMiddle)
{
    auto orbit = SolarSystemLayer::create();
    orbit->setBounds(Rect(0, 0, 500, 400));
    orbit->setRadius(150);
    const double scale = 4;
    const QImage image = renderOrbitTree(*orbit, scale);
    for (double angle = 0; angle < 6.28; angle += 0.3) {
        const double x = 250 + 150 * std::cos(angle);
        const double y = 200 + 150 * std::sin(angle);
        int best = 0;
        for (double d = -0.5; d <= 0.5; d += 0.125)
            best =
                std::max(best, orbitAlphaAt(image, scale, x + d * std::cos(angle), y + d * std::sin(angle)));
        EXPECT_GT(best, 60) << angle;
        EXPECT_EQ(orbitAlphaAt(image, scale, 250 + 147 * std::cos(angle), 200 + 147 * std::sin(angle)), 0);
        EXPECT_EQ(orbitAlphaAt(image, scale, 250 + 153 * std::cos(angle), 200 + 153 * std::sin(angle)), 0);
    }
}

// The stroke's extent along the segment from `from` in direction `unit` (units), sampled
// every 1/8 unit on the segment's axis.
struct StrokeRun
{
    double first = -1;
    double last = -1;
    std::vector<std::pair<double, double>> dashes; // [start, end) of inked runs
};

StrokeRun strokeAlong(const QImage& image, double scale, Point from, Point unit, double length)
{
    StrokeRun run;
    bool inked = false;
    const double step = 1.0 / 8;
    for (double d = 0; d <= length; d += step) {
        const bool on = orbitAlphaAt(image, scale, from.x + unit.x * d, from.y + unit.y * d) > 40;
        if (on && run.first < 0)
            run.first = d;
        if (on)
            run.last = d;
        if (on && !inked)
            run.dashes.push_back({d, d});
        if (on)
            run.dashes.back().second = d + step;
        inked = on;
    }
    return run;
}

TEST(LineLayer, LiesOnTheSegmentAtItsScale)
{
    auto root = Layer::create();
    root->setBounds(Rect(0, 0, 600, 600));
    root->setAnchorPoint(Point(0, 0));
    auto line = LineLayer::create(Point(0, 0), Point(300, 400), false);
    root->addSublayer(line);
    const AffineTransform t = line->affineTransform();
    // Scale 0.5 (500 of 1000) turned to the direction (3, 4).
    EXPECT_NEAR(t.a, 0.5 * 0.6, 1e-6);
    EXPECT_NEAR(t.b, 0.5 * 0.8, 1e-6);
    EXPECT_NEAR(t.c, -0.5 * 0.8, 1e-6);
    EXPECT_NEAR(t.d, 0.5 * 0.6, 1e-6);
    EXPECT_NEAR(line->angle(), std::atan2(4.0f, 3.0f), 1e-6);
    EXPECT_EQ(line->bounds(), Rect(0, 0, 1000, 4));
    EXPECT_EQ(line->anchorPoint(), Point(0, 0.5));
    EXPECT_EQ(line->position(), Point(0, 0));

    const double scale = 8;
    const QImage image = renderOrbitTree(*root, scale);
    const StrokeRun run = strokeAlong(image, scale, Point(0, 0), Point(0.6, 0.8), 520);
    ASSERT_EQ(run.dashes.size(), 1u);
    EXPECT_NEAR(run.first, 5, 0.25);
    EXPECT_NEAR(run.last, 495, 0.25);
    // Half a unit thick: nothing a unit beside the axis.
    EXPECT_EQ(orbitAlphaAt(image, scale, 150 - 0.8, 200 + 0.6), 0);
}

TEST(LineLayer, DashesAreTwoOnTwoOffBeforeScaling)
{
    auto root = Layer::create();
    root->setBounds(Rect(0, 0, 600, 100));
    root->setAnchorPoint(Point(0, 0));
    // A horizontal connector 500 long at y 50: scale 0.5, so dashes of 1 on, 1 off.
    auto line = LineLayer::create(Point(0, 50), Point(500, 50), true);
    root->addSublayer(line);
    const double scale = 8;
    const QImage image = renderOrbitTree(*root, scale);
    const StrokeRun run = strokeAlong(image, scale, Point(0, 50), Point(1, 0), 520);
    ASSERT_GT(run.dashes.size(), 200u);
    EXPECT_NEAR(run.first, 5, 0.25);
    for (std::size_t i = 1; i + 1 < run.dashes.size(); ++i) {
        EXPECT_NEAR(run.dashes[i].second - run.dashes[i].first, 1.0, 0.26) << i;
        EXPECT_NEAR(run.dashes[i + 1].first - run.dashes[i].first, 2.0, 0.26) << i;
    }
    // Moving the connector never redraws it.
    line->display();
    line->animateToLineFrom(Point(10, 10), Point(100, 10), true);
    EXPECT_FALSE(line->needsDisplay());
    EXPECT_NEAR(line->affineTransform().a, 0.09, 1e-6);
    EXPECT_EQ(Transaction::depth(), 0);
    LineLayer copy(*line);
    EXPECT_TRUE(copy.usesDash());
    EXPECT_EQ(copy.lineLength(), 1000.0f);
}

} // namespace
} // namespace corvex
