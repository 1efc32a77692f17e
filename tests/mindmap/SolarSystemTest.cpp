// The solar-system view's model and layout: placeholders, radii, insertion and removal,
// shadows, docking, batches, a missing central idea, focus for drops and a huge idea.

#include "mindmap/IdeaAdderView.h"
#include "mindmap/LineLayer.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarFocusObject.h"
#include "mindmap/SolarSystemLayer.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

#include <cfloat>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kSolarDegree = 3.141592653589793 / 180;

double adderAngleOnScreen(const SolarSystem& solar, std::int64_t i)
{
    const Point c = solar.orbitVisualCenter();
    const Point a = ViewExtensions::center(*solar.ideaAdderViewAtIndex(i));
    return std::atan2(a.y - c.y, a.x - c.x);
}

} // namespace

TEST(SolarSystem, WithoutChildrenFourPlaceholderAddersSitHalfwayBetweenTheAxes)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("alone")));
    ASSERT_EQ(w.solar->ideaViewCount(), 0);
    ASSERT_EQ(w.solar->ideaAdderViewCount(), 4);
    const double expected[] = {45, 135, 225, 315};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(w.solar->currentAngleForAdderAtIndex(i), expected[i] * kSolarDegree, 1e-5) << i;
        EXPECT_LT(solarAngleGap(adderAngleOnScreen(*w.solar, i), expected[i] * kSolarDegree), 0.02) << i;
        EXPECT_FALSE(w.solar->ideaAdderViewAtIndex(i)->isHidden());
        EXPECT_EQ(w.solar->ideaAdderViewAtIndex(i)->objectTag(), nullptr);
    }
    EXPECT_FLOAT_EQ(w.solar->radius(), 202.0f);
    EXPECT_EQ(w.solar->orbitLayer()->radius(), 202.0);
    EXPECT_EQ(ViewExtensions::center(*w.solar->centralView()), Point(500, 400));
}

TEST(SolarSystem, TheOrbitRadiusFollowsTheChildCountWithinTheView)
{
    struct Row
    {
        Size size;
        int children;
        float radius;
    };
    const Row table[] = {
        {Size(1000, 800), 6, 202.0f},   {Size(1000, 800), 7, 202.0f * 7 / 6},
        {Size(800, 600), 6, 151.5f},    {Size(800, 600), 7, 151.5f * 7 / 6},
        {Size(1600, 1000), 20, 350.0f}, {Size(800, 600), 30, 210.0f},
    };
    for (const Row& row : table) {
        SolarWindow w(row.size);
        showIdea(*w.solar, solarIdea(QStringLiteral("c"), row.children));
        EXPECT_NEAR(w.solar->radius(), row.radius, 1e-3) << row.size.width << " x " << row.children;
        // Each planet sits on the orbit (pixel alignment moves it by at most a point).
        for (std::int64_t i = 0; i < row.children; ++i) {
            const Point p = LayerExtensions::center(*w.solar->ideaViewAtIndex(i));
            const Point c = w.solar->orbitVisualCenter();
            EXPECT_NEAR(std::hypot(p.x - c.x, p.y - c.y), row.radius, 1.0) << i;
        }
    }
    // In a 1000-point view 20 children squeeze into 9 even slots.
    SolarWindow big(Size(1600, 1000));
    showIdea(*big.solar, solarIdea(QStringLiteral("c"), 20));
    EXPECT_EQ(big.solar->elementsFittingRadius(big.solar->radius()), 9);
    EXPECT_NEAR(big.solar->currentAngleForIdeaAtIndex(0), 3 * kSolarDegree, 1e-3)
        << "the first child of a fresh squeezed view sits at 3 degrees";
}

TEST(SolarSystem, PlanetsAreStackedRoundFromTheSmallestAngleAboveEverythingElse)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), 6));
    for (float offset : {0.0f, 2.5f, 5.0f, 2.5f}) {
        w.solar->setCurrentAngle(offset);
        std::int64_t lowest = 0;
        for (std::int64_t i = 1; i < 6; ++i)
            if (w.solar->currentAngleForIdeaAtIndex(i) < w.solar->currentAngleForIdeaAtIndex(lowest))
                lowest = i;
        const auto& sublayers = w.solar->layer()->sublayers();
        ASSERT_GE(sublayers.size(), 6u);
        for (std::int64_t k = 0; k < 6; ++k)
            EXPECT_EQ(sublayers[sublayers.size() - 6 + std::size_t(k)],
                      w.solar->ideaViewAtIndex((lowest + k) % 6))
                << "offset " << offset << " place " << k;
    }
}

TEST(SolarSystem, InsertingTheFirstIdeaReplacesThePlaceholdersAndRemovingTheLastRestoresThem)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("c")));
    const auto placeholder = w.solar->ideaAdderViewAtIndex(0);
    IdeaPtr first = Idea::initWithText(QStringLiteral("first"));
    w.solar->insertIdea(first, -1);
    EXPECT_EQ(w.solar->ideaViewCount(), 1);
    ASSERT_EQ(w.solar->ideaAdderViewCount(), 1);
    EXPECT_EQ(placeholder->superview(), nullptr) << "the placeholders leave the view";
    EXPECT_EQ(w.solar->ideaAdderViewAtIndex(0)->objectTag(), first);
    EXPECT_EQ(w.solar->ideaViewAtIndex(0)->ideaIdentifier(), first->identifier());
    EXPECT_EQ(w.solar->ideaViewAtIndex(0)->docIdentifier(), QStringLiteral("temp:/doc"));

    w.solar->removeIdeaAtIndex(0);
    EXPECT_EQ(w.solar->ideaViewCount(), 0);
    EXPECT_EQ(w.solar->ideaAdderViewCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(w.solar->ideaAdderViewAtIndex(i)->superview(), w.solar.get());
}

TEST(SolarSystem, AnInsertionOutsideABatchTurnsTheNewPlanetToWhereItsAdderWas)
{
    // Up to ten planets stay in the normal layout here, so the orbit keeps its shape.
    SolarWindow w(Size(1600, 1000));
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), 5));
    for (std::int64_t after : {-1, 0, 2, 4}) {
        const std::int64_t adders = w.solar->ideaAdderViewCount();
        const float adderAngle =
            w.solar->currentAngleForAdderAtIndex(SolarLayout::wrapIndex(adders + after, adders));
        w.solar->insertIdea(Idea::initWithText(QStringLiteral("n")), after);
        const std::int64_t ins = std::clamp<std::int64_t>(after + 1, 0, w.solar->ideaViewCount() - 1);
        EXPECT_LT(solarAngleGap(w.solar->currentAngleForIdeaAtIndex(ins), adderAngle), 0.02) << after;
    }
    EXPECT_EQ(w.solar->ideaViewCount(), 9);
    EXPECT_EQ(w.solar->ideaAdderViewCount(), 9);

    // Inside a batch the offset stays.
    const float before = w.solar->currentAngle();
    w.solar->startUpdate();
    w.solar->insertIdea(Idea::initWithText(QStringLiteral("b")), 3);
    EXPECT_EQ(w.solar->currentAngle(), before);
    w.solar->endUpdate();
}

TEST(SolarSystem, ShadowsDockingAndBadIndicesChangeOnlyWhatTheyName)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), 4));
    w.solar->setShadowForIdeaAtIndex(2);
    for (std::int64_t i = 0; i < 4; ++i)
        EXPECT_EQ(w.solar->ideaViewAtIndex(i)->shadowMode(), i == 2) << i;
    w.solar->removeAllShadows();
    for (std::int64_t i = 0; i < 4; ++i)
        EXPECT_FALSE(w.solar->ideaViewAtIndex(i)->shadowMode()) << i;

    w.solar->setDockingMode(true);
    for (std::int64_t i = 0; i < 4; ++i)
        EXPECT_EQ(w.solar->ideaAdderViewAtIndex(i)->adderState(), 3u);
    w.solar->insertIdea(Idea::initWithText(QStringLiteral("d")), 0);
    EXPECT_EQ(w.solar->ideaAdderViewAtIndex(1)->adderState(), 3u) << "a new adder follows the mode";
    w.solar->ideaAdderViewAtIndex(0)->setInFocus(true);
    w.solar->setDockingMode(false);
    EXPECT_EQ(w.solar->ideaAdderViewAtIndex(0)->adderState(), 1u);
    EXPECT_FALSE(w.solar->ideaAdderViewAtIndex(0)->inFocus());

    // Indices out of range are no positions: nothing is indexed, nothing changes.
    LogCapture log;
    const std::int64_t bad[] = {-1, 5, SolarLayout::kNotFound};
    for (std::int64_t index : bad) {
        w.solar->removeIdeaAtIndex(index);
        w.solar->modifyIdea(Idea::initWithText(QStringLiteral("x")), index);
        w.solar->moveIdea(nullptr, index, 0);
        EXPECT_EQ(w.solar->ideaViewAtIndex(index), nullptr);
        EXPECT_EQ(w.solar->popoverRectForIdeaAtIndex(index), Rect());
    }
    EXPECT_EQ(w.solar->ideaViewCount(), 5);
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line:")), 9);
    EXPECT_EQ(w.solar->popoverRectForIdeaAtIndex(1), w.solar->ideaViewAtIndex(1)->frame());
}

TEST(SolarSystem, AMissingCentralIdeaIsLoggedAndShowsEmptyTexts)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("before")), solarIdea(QStringLiteral("parent")));
    LogCapture log;
    w.solar->setCentralIdea(nullptr);
    EXPECT_TRUE(
        log.contains(QStringLiteral("ERROR: Assertion failure, line: 161 -[SolarSystem setCentralIdea:]")));
    EXPECT_EQ(w.solar->centralView()->text(), QString());
    EXPECT_EQ(w.solar->centralView()->ideaIdentifier(), QString());
    EXPECT_FALSE(w.solar->centralView()->hasNote());
    EXPECT_NE(w.solar->lineLayer(), nullptr) << "the connector is rebuilt all the same";
}

TEST(SolarSystem, TheBatchCounterLaysOutOnceAndNeverGoesBelowZero)
{
    SolarWindow w;
    w.solar->endUpdate();
    EXPECT_EQ(w.solar->updateSemaphore(), 0);
    w.solar->startUpdate();
    w.solar->startUpdate();
    w.solar->setCentralIdea(solarIdea(QStringLiteral("c")));
    for (int i = 0; i < 7; ++i)
        w.solar->addIdea(Idea::initWithText(QStringLiteral("p")));
    w.solar->endUpdate();
    EXPECT_FLOAT_EQ(w.solar->radius(), 202.0f) << "no layout while the count is above 0";
    w.solar->endUpdate();
    EXPECT_NEAR(w.solar->radius(), 202.0f * 7 / 6, 1e-3);
}

TEST(SolarSystem, TheParentSitsInTheCornerJoinedToTheCentre)
{
    SolarWindow w;
    IdeaPtr parent = solarIdea(QStringLiteral("parent"));
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), 3), parent);
    ASSERT_NE(w.solar->parentView(), nullptr);
    EXPECT_EQ(w.solar->parentView()->objectTag(), parent);
    EXPECT_EQ(w.solar->parentView()->frame().origin, Point(0, 0));
    ASSERT_NE(w.solar->lineLayer(), nullptr);
    EXPECT_FALSE(w.solar->lineLayer()->usesDash());

    SolarWindow linked;
    linked.solar->setParentIdea(parent, true);
    showIdea(*linked.solar, solarIdea(QStringLiteral("c")));
    EXPECT_TRUE(linked.solar->lineLayer()->usesDash()) << "a link is reached along a dashed line";
}

// ---- Focus for drops ----

TEST(SolarSystemFocus, TheNearestTargetWithinSixtyPointsIsFocusedAndMarked)
{
    SolarWindow w;
    IdeaPtr centre = solarIdea(QStringLiteral("c"), 5);
    (void)centre->addIdea(Idea::initWithLinkToIdea(QStringLiteral("elsewhere")));
    showIdea(*w.solar, centre);
    const Point adder0 = ViewExtensions::center(*w.solar->ideaAdderViewAtIndex(0));
    const Point planet1 = LayerExtensions::center(*w.solar->ideaViewAtIndex(1));
    const Point link = LayerExtensions::center(*w.solar->ideaViewAtIndex(5));
    // Straight out from the orbit centre through adder 0: nothing else is near there.
    const Point c = w.solar->orbitVisualCenter();
    const double len = std::hypot(adder0.x - c.x, adder0.y - c.y);
    const auto outward = [&](double d) {
        return Point(adder0.x + (adder0.x - c.x) / len * d, adder0.y + (adder0.y - c.y) / len * d);
    };
    struct Row
    {
        const char* what;
        Point point;
        bool focused;
        quint64 type;
        qint64 index;
        float distance;
    };
    const Row table[] = {
        {"60 points out from an adder", outward(60), true, 3, 0, 60.0f},
        {"60.5 points out from an adder", outward(60.5), false, 0, 0, FLT_MAX},
        {"on a planet", planet1, true, 2, 1, 0.0f},
        {"far away", Point(5, 790), false, 0, 0, FLT_MAX},
    };
    for (const Row& row : table) {
        const float d = w.solar->updateFocusBasedOnPoint(w.inWindow(row.point), nullptr);
        const auto focus = w.solar->currentFocusObject();
        EXPECT_EQ(focus != nullptr, row.focused) << row.what;
        if (focus) {
            EXPECT_EQ(focus->focusType(), row.type) << row.what;
            EXPECT_EQ(focus->index(), row.index) << row.what;
            EXPECT_NEAR(d, row.distance, 1e-3) << row.what;
        } else {
            EXPECT_EQ(d, FLT_MAX) << row.what;
            for (std::int64_t i = 0; i < w.solar->ideaViewCount(); ++i)
                EXPECT_NEAR(w.solar->ideaViewAtIndex(i)->transform().m11, 1.0, 1e-9) << row.what;
        }
    }
    // The link planet is skipped: on it, the focus is something else.
    w.solar->updateFocusBasedOnPoint(w.inWindow(link), nullptr);
    const auto onLink = w.solar->currentFocusObject();
    EXPECT_TRUE(!onLink || onLink->focusType() != 2 || onLink->index() != 5) << "link planets take no drops";
}

TEST(SolarSystemFocus, AnAdderBeatsAPlanetAtTheSameDistanceAndTheFocusedPlanetSwells)
{
    SolarWindow w;
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), 6));
    const Point adder = ViewExtensions::center(*w.solar->ideaAdderViewAtIndex(0));
    const Point planet = LayerExtensions::center(*w.solar->ideaViewAtIndex(0));
    const Point middle((adder.x + planet.x) / 2, (adder.y + planet.y) / 2);
    w.solar->updateFocusBasedOnPoint(w.inWindow(middle), nullptr);
    ASSERT_NE(w.solar->currentFocusObject(), nullptr);
    EXPECT_EQ(w.solar->currentFocusObject()->focusType(), 3u) << "the earlier candidate keeps a tie";
    EXPECT_TRUE(w.solar->ideaAdderViewAtIndex(0)->inFocus());

    struct Row
    {
        float distance;
        double scale;
    };
    for (const Row& row : {Row{0, 1.1}, Row{60, 1.025}, Row{40, 1.05}}) {
        auto focus =
            std::make_shared<SolarFocusObject>(w.solar->ideaViewAtIndex(1), SolarFocusObject::PlanetFocus, 1);
        w.solar->markViewInFocus(focus, row.distance);
        EXPECT_NEAR(std::hypot(w.solar->ideaViewAtIndex(1)->transform().m11,
                               w.solar->ideaViewAtIndex(1)->transform().m12),
                    row.scale, 1e-6)
            << row.distance;
        EXPECT_NEAR(w.solar->ideaViewAtIndex(0)->transform().m11, 1.0, 1e-9);
        EXPECT_FALSE(w.solar->ideaAdderViewAtIndex(0)->inFocus());
    }
    w.solar->stopFocusing();
    EXPECT_EQ(w.solar->currentFocusObject(), nullptr);
    EXPECT_NEAR(w.solar->ideaViewAtIndex(1)->transform().m11, 1.0, 1e-9);
}

// ---- Bad input ----

TEST(SolarSystem, AnIdeaWithTwoThousandChildrenLaysOutAndDraws)
{
    SolarWindow w(Size(800, 600));
    showIdea(*w.solar, solarIdea(QStringLiteral("c"), heavyScale(2000, 400)));
    EXPECT_EQ(w.solar->ideaViewCount(), heavyScale(2000, 400));
    for (std::int64_t i = 0; i < w.solar->ideaViewCount(); i += 97) {
        const float a = w.solar->currentAngleForIdeaAtIndex(i);
        EXPECT_TRUE(std::isfinite(a) && a >= 0 && a < 6.2832f) << i;
    }
    const QImage frame = w.window->renderToImage(1);
    EXPECT_EQ(frame.size(), QSize(800, 600));
    // One insertion outside a batch searches the offset over the whole crowd and ends.
    w.solar->insertIdea(Idea::initWithText(QStringLiteral("one more")), 10);
    EXPECT_EQ(w.solar->ideaViewCount(), heavyScale(2000, 400) + 1);
}
