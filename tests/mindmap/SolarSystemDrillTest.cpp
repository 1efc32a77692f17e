// Drill down into a planet and back up to the parent, composited frame by frame on virtual
// time: the values at the midpoint, the picture at the end against a freshly built view, the
// completion and the drill flag, and a drill for a planet that is not there.

#include "mindmap/IdeaAdderView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/LineLayer.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystemLayer.h"
#include "platform/gfx/Transform3D.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/ViewExtensions.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kDrillFrame = 1.0 / 60;
const Size kDrillWindowSize(900, 700);

// The tree the drills run in: a root with five children, child 2 with four of its own.
struct DrillTree
{
    DrillTree()
    {
        root = solarIdea(QStringLiteral("root"), 5);
        opened = root->ideas()[2];
        for (int j = 0; j < 4; ++j)
            (void)opened->addIdea(solarColouredIdea(QStringLiteral("leaf %1").arg(j), j + 2));
    }
    IdeaPtr root;
    IdeaPtr opened;
};

// A second view as the screen makes it: same frame, below `above`, filled with `idea`.
std::shared_ptr<SolarSystem> drillViewBelow(SolarWindow& w, const SolarSystem& above, const IdeaPtr& idea,
                                            const IdeaPtr& parent)
{
    auto view = SolarSystem::create(above.frame(), QStringLiteral("temp:/doc"));
    w.content->addSubview(view, View::Ordering::Below, &above);
    showIdea(*view, idea, parent);
    return view;
}

double drillLayerScale(const Layer& layer)
{
    return std::hypot(layer.transform().m11, layer.transform().m12);
}

// The share of pixels whose channels differ by more than 40 (antialiased edges of planets
// placed a fraction of a pixel apart may differ).
double drillDifferingShare(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 1.0;
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888);
    const QImage y = b.convertToFormat(QImage::Format_RGBA8888);
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width(); ++i) {
            for (int c = 0; c < 4; ++c) {
                if (std::abs(int(p[4 * i + c]) - int(q[4 * i + c])) > 40) {
                    ++differing;
                    break;
                }
            }
        }
    }
    return double(differing) / double(x.width() * x.height());
}

QImage drillFreshPicture(const IdeaPtr& idea, const IdeaPtr& parent)
{
    SolarWindow fresh(kDrillWindowSize);
    showIdea(*fresh.solar, idea, parent);
    return fresh.window->renderToImage(1);
}

} // namespace

TEST(SolarSystemDrill, AtTheMidpointOfADrillDownEveryValueFollowsItsFormula)
{
    ScopedVirtualTime time;
    DrillTree tree;
    SolarWindow w(kDrillWindowSize);
    showIdea(*w.solar, tree.root);
    auto next = drillViewBelow(w, *w.solar, tree.opened, tree.root);
    const float r0 = w.solar->radius();
    const float d = std::hypot(450.0f, 350.0f);
    const float s = IdeaView::radiusForRole(1) / IdeaView::radiusForRole(0);
    const auto planet = w.solar->ideaViewAtIndex(2);

    int completions = 0;
    CompletionRecorder recorder;
    w.solar->animateDrillDownInto(2, next, recorder.expect<>(QStringLiteral("down"), [&] { ++completions; }));
    EXPECT_TRUE(w.solar->isAnimating());
    EXPECT_TRUE(next->isAnimating());
    ASSERT_NE(w.solar->drillLineLayer(), nullptr);

    const QString dir = testOutputDir() + QStringLiteral("/solar-drill");
    QDir().mkpath(dir);
    bool checkedMidpoint = false;
    for (int frame = 0; frame < 40 && completions == 0; ++frame) {
        time.advance(kDrillFrame);
        w.window->renderToImage(1).save(
            dir + QStringLiteral("/down-%1.png").arg(frame, 2, 10, QLatin1Char('0')), "PNG", 90);
        const double p = (w.solar->radius() - r0) / (d - r0);
        if (checkedMidpoint || p < 0.45 || completions > 0)
            continue;
        checkedMidpoint = true;
        EXPECT_LT(p, 0.65) << "a frame falls near the middle";
        const double fade = std::min(p / 0.8, 1.0);
        EXPECT_NEAR(drillLayerScale(*planet), 1 + (s - 1) * p, 1e-3);
        const Transform3D shown = planet->presentationProperties().transform;
        EXPECT_NEAR(std::hypot(shown.m11, shown.m12), 1 + (s - 1) * p, 1e-3) << "shown as set, not animated";
        EXPECT_NEAR(w.solar->orbitLayer()->opacity(), 1 - fade, 1e-3);
        EXPECT_NEAR(w.solar->drillLineLayer()->opacity(), fade, 1e-3);
        EXPECT_NEAR(w.solar->orbitLayer()->radius(), w.solar->radius(), 1e-3);
        const Point c = ViewExtensions::center(*w.solar->centralView());
        EXPECT_NEAR(c.x, 450 * (1 - p), 0.5);
        EXPECT_NEAR(c.y, 350 * (1 - p), 0.5);
        // The new view unfolds: collapse(1 - p).
        const double k = 1 - 0.5 * (1 - p);
        for (std::int64_t i = 0; i < next->ideaViewCount(); ++i) {
            EXPECT_NEAR(drillLayerScale(*next->ideaViewAtIndex(i)), k, 1e-3) << i;
            EXPECT_EQ(next->ideaViewAtIndex(i)->bounds().size, Size(140, 140))
                << "scaled, not resized: " << i;
        }
        EXPECT_EQ(planet->bounds().size, Size(140, 140)) << "the travelling planet is scaled, not resized";
        for (std::int64_t i = 0; i < next->ideaAdderViewCount(); ++i)
            EXPECT_NEAR(drillLayerScale(*next->ideaAdderViewAtIndex(i)->layer()), k, 1e-3) << i;
        EXPECT_TRUE(next->centralView()->isHidden());
        EXPECT_TRUE(next->parentView()->isHidden());
        EXPECT_TRUE(next->lineLayer()->isHidden());
    }
    EXPECT_TRUE(checkedMidpoint);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(w.solar->isAnimating());
    EXPECT_FALSE(next->isAnimating());
    time.advance(1.0);
    EXPECT_EQ(completions, 1) << "exactly once";
}

TEST(SolarSystemDrill, AfterADrillDownAndADrillUpTheWindowShowsWhatAFreshViewShows)
{
    ScopedVirtualTime time;
    DrillTree tree;
    const QImage expectedDown = drillFreshPicture(tree.opened, tree.root);
    const QImage expectedUp = drillFreshPicture(tree.root, nullptr);

    SolarWindow w(kDrillWindowSize);
    showIdea(*w.solar, tree.root);
    std::shared_ptr<SolarSystem> old = w.solar;
    auto down = drillViewBelow(w, *old, tree.opened, tree.root);
    int completions = 0;
    CompletionRecorder recorder;
    old->animateDrillDownInto(2, down, recorder.expect<>(QStringLiteral("down"), [&, old] {
        ++completions;
        old->removeFromSuperview();
    }));
    time.advance(1.0);
    ASSERT_EQ(completions, 1);
    const QImage afterDown = w.window->renderToImage(1);
    afterDown.save(testOutputDir() + QStringLiteral("/solar-drill/after-down.png"));
    EXPECT_LT(drillDifferingShare(afterDown, expectedDown), 0.002);

    // Back up: the parent's view below, the old centre as planet 2 of it.
    auto up = drillViewBelow(w, *down, tree.root, nullptr);
    up->animateDrillUpFrom(2, down, recorder.expect<>(QStringLiteral("up"), [&, down] {
        ++completions;
        down->removeFromSuperview();
    }));
    EXPECT_TRUE(up->isAnimating());
    time.advance(1.0);
    ASSERT_EQ(completions, 2);
    EXPECT_FALSE(up->isAnimating());
    const QImage afterUp = w.window->renderToImage(1);
    afterUp.save(testOutputDir() + QStringLiteral("/solar-drill/after-up.png"));
    EXPECT_LT(drillDifferingShare(afterUp, expectedUp), 0.002);
}

TEST(SolarSystemDrill, WithoutACompletionBothViewsStillLeaveTheDrillState)
{
    ScopedVirtualTime time;
    DrillTree tree;
    SolarWindow w(kDrillWindowSize);
    showIdea(*w.solar, tree.root);
    auto next = drillViewBelow(w, *w.solar, tree.opened, tree.root);
    w.solar->animateDrillDownInto(1, next, nullptr);
    time.advance(1.0);
    EXPECT_FALSE(w.solar->isAnimating());
    EXPECT_FALSE(next->isAnimating());

    next->animateDrillUpFrom(0, w.solar, nullptr);
    time.advance(1.0);
    EXPECT_FALSE(w.solar->isAnimating());
    EXPECT_FALSE(next->isAnimating());
}

TEST(SolarSystemDrill, ADrillWithoutTheOtherSystemAnswersOnceOnALaterTurn)
{
    ScopedVirtualTime time;
    DrillTree tree;
    SolarWindow w(kDrillWindowSize);
    showIdea(*w.solar, tree.root);
    CompletionRecorder recorder;
    w.solar->animateDrillDownInto(1, nullptr, recorder.expect<>(QStringLiteral("down")));
    w.solar->animateDrillUpFrom(1, nullptr, recorder.expect<>(QStringLiteral("up")));
    time.advance(0.01);
    EXPECT_TRUE(recorder.verify());
}

TEST(SolarSystemDrill, ADrillForAMissingPlanetMovesNoPlanetAndCompletesOnce)
{
    ScopedVirtualTime time;
    DrillTree tree;
    SolarWindow w(kDrillWindowSize);
    showIdea(*w.solar, tree.root);
    std::vector<Rect> before;
    for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i)
        before.push_back(w.solar->ideaViewAtIndex(i)->frame());
    auto next = drillViewBelow(w, *w.solar, tree.opened, tree.root);
    LogCapture log;
    int completions = 0;
    CompletionRecorder recorder;
    w.solar->animateDrillDownInto(7, next, recorder.expect<>(QStringLiteral("down"), [&] { ++completions; }));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "ERROR: Assertion failure, line: 857 -[SolarSystem prepareDrillDownAnimation:simulated:]")));
    for (int frame = 0; frame < 40; ++frame) {
        time.advance(kDrillFrame);
        for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i)
            EXPECT_EQ(w.solar->ideaViewAtIndex(i)->frame(), before[std::size_t(i)]) << "frame " << frame;
    }
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(w.solar->isAnimating());
    EXPECT_FALSE(next->isAnimating());

    completions = 0;
    next->animateDrillUpFrom(SolarLayout::kNotFound, w.solar,
                             recorder.expect<>(QStringLiteral("up"), [&] { ++completions; }));
    time.advance(1.0);
    EXPECT_EQ(completions, 1);
}
