// The orbit maths: every case of the independently made layout fixture
// (tests/data/gen/make_solar_layout_fixture.py) through the view's own code, and the sizes and
// layouts the text pins down as a table.

#include "mindmap/SolarLayout.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/SolarFocusObject.h"
#include "platform/core/Log.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/LogCapture.h"
#include "toolkit/ViewExtensions.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kFixtureAngleTolerance = 1e-5;
constexpr double kFixturePointTolerance = 1e-3;
constexpr double kFixtureDegree = 3.141592653589793 / 180;

QJsonArray solarFixtureCases()
{
    const QString path = QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
                         QStringLiteral("/../data/mindmap/solar_layout.json");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("cases")).toArray();
}

Size fixtureSize(const QJsonObject& c)
{
    return Size(c.value(QStringLiteral("width")).toDouble(), c.value(QStringLiteral("height")).toDouble());
}

Point fixturePoint(const QJsonValue& v)
{
    const QJsonArray a = v.toArray();
    return Point(a.at(0).toDouble(), a.at(1).toDouble());
}

std::string fixtureCaseName(const QJsonObject& c, int i)
{
    return QStringLiteral("case %1 (%2, %3x%4, count %5, offset %6)")
        .arg(i)
        .arg(c.value(QStringLiteral("kind")).toString())
        .arg(c.value(QStringLiteral("width")).toDouble())
        .arg(c.value(QStringLiteral("height")).toDouble())
        .arg(c.value(QStringLiteral("count")).toInteger())
        .arg(c.value(QStringLiteral("offset")).toDouble())
        .toStdString();
}

} // namespace

TEST(SolarLayoutFixture, EveryAngleAndOffsetMatchesTheIndependentFixture)
{
    const QJsonArray cases = solarFixtureCases();
    ASSERT_GT(cases.size(), 0) << "tests/data/mindmap/solar_layout.json is missing or empty";
    int checked = 0;
    for (int i = 0; i < cases.size(); ++i) {
        const QJsonObject c = cases.at(i).toObject();
        const QString kind = c.value(QStringLiteral("kind")).toString();
        const Size size = fixtureSize(c);
        const std::int64_t count = c.value(QStringLiteral("count")).toInteger();
        const float offset = float(c.value(QStringLiteral("offset")).toDouble());
        const float radius = SolarLayout::orbitRadiusFor(size, count);
        const SolarLayout layout(size, radius, count);
        const std::string name = fixtureCaseName(c, i);
        if (kind == QStringLiteral("angles")) {
            EXPECT_NEAR(radius, c.value(QStringLiteral("radius")).toDouble(), 1e-3) << name;
            const QJsonArray planets = c.value(QStringLiteral("planets")).toArray();
            ASSERT_EQ(planets.size(), count) << name;
            for (int j = 0; j < planets.size(); ++j)
                EXPECT_LE(solarAngleGap(layout.angleForPlanetAtIndex(j, offset), planets.at(j).toDouble()),
                          kFixtureAngleTolerance)
                    << name << " planet " << j;
            const QJsonArray adders = c.value(QStringLiteral("adders")).toArray();
            const std::int64_t adderCount = count == 0 ? 4 : count;
            ASSERT_EQ(adders.size(), adderCount) << name;
            for (int j = 0; j < adders.size(); ++j)
                EXPECT_LE(solarAngleGap(layout.angleForAdderAtIndex(j, adderCount, offset),
                                        adders.at(j).toDouble()),
                          kFixtureAngleTolerance)
                    << name << " adder " << j;
        } else if (kind == QStringLiteral("insert") || kind == QStringLiteral("remove") ||
                   kind == QStringLiteral("move")) {
            // Through the view: it applies the operation to its own lists and offset.
            SolarWindow w(size);
            showIdea(*w.solar, solarIdea(QStringLiteral("c"), int(count)));
            w.solar->setCurrentAngle(offset);
            if (kind == QStringLiteral("insert"))
                w.solar->insertIdea(Idea::initWithText(QStringLiteral("new")),
                                    c.value(QStringLiteral("after")).toInteger());
            else if (kind == QStringLiteral("remove"))
                w.solar->removeIdeaAtIndex(c.value(QStringLiteral("index")).toInteger());
            else
                w.solar->moveIdea(nullptr, c.value(QStringLiteral("from")).toInteger(),
                                  c.value(QStringLiteral("after")).toInteger());
            EXPECT_LE(solarAngleGap(w.solar->currentAngle(), c.value(QStringLiteral("newOffset")).toDouble()),
                      kFixtureAngleTolerance)
                << name;
        } else if (kind == QStringLiteral("focus")) {
            const bool hasParent = c.value(QStringLiteral("hasParent")).toBool();
            SolarWindow w(size);
            IdeaPtr centre = Idea::initWithText(QStringLiteral("c"));
            std::vector<bool> link(std::size_t(count), false);
            for (const QJsonValue& l : c.value(QStringLiteral("links")).toArray())
                link[std::size_t(l.toInteger())] = true;
            for (std::int64_t j = 0; j < count; ++j)
                (void)centre->addIdea(link[std::size_t(j)]
                                          ? Idea::initWithLinkToIdea(QStringLiteral("elsewhere"))
                                          : Idea::initWithText(QStringLiteral("p")));
            showIdea(*w.solar, centre, hasParent ? solarIdea(QStringLiteral("parent")) : nullptr);
            w.solar->setCurrentAngle(offset);
            // Where the layout puts the candidates, integral frames included.
            const QJsonArray planetCentres = c.value(QStringLiteral("planetCenters")).toArray();
            ASSERT_EQ(planetCentres.size(), count) << name;
            const QJsonArray adderCentres = c.value(QStringLiteral("adderCenters")).toArray();
            ASSERT_EQ(adderCentres.size(), w.solar->ideaAdderViewCount()) << name;
            for (int j = 0; j < planetCentres.size(); ++j) {
                const Point expected = fixturePoint(planetCentres.at(j));
                const auto planet = w.solar->ideaViewAtIndex(j);
                const Point shown = LayerExtensions::center(*planet);
                EXPECT_NEAR(shown.x, expected.x, kFixturePointTolerance) << name << " planet " << j;
                EXPECT_NEAR(shown.y, expected.y, kFixturePointTolerance) << name << " planet " << j;
            }
            for (int j = 0; j < adderCentres.size(); ++j) {
                const Point expected = fixturePoint(adderCentres.at(j));
                const auto adder = w.solar->ideaAdderViewAtIndex(j);
                const Point shown = ViewExtensions::center(*adder);
                EXPECT_NEAR(shown.x, expected.x, kFixturePointTolerance) << name << " adder " << j;
                EXPECT_NEAR(shown.y, expected.y, kFixturePointTolerance) << name << " adder " << j;
            }
            if (hasParent) {
                const Point expected = fixturePoint(c.value(QStringLiteral("parentCenter")));
                const Point shown = ViewExtensions::center(*w.solar->parentView());
                EXPECT_NEAR(shown.x, expected.x, kFixturePointTolerance) << name;
                EXPECT_NEAR(shown.y, expected.y, kFixturePointTolerance) << name;
            }
            // The points lie on the 60 and 60.5 point boundaries of the candidates above.
            const Point point = fixturePoint(c.value(QStringLiteral("point")));
            const float distance = w.solar->updateFocusBasedOnPoint(w.inWindow(point), nullptr);
            const auto focus = w.solar->currentFocusObject();
            const QJsonValue type = c.value(QStringLiteral("type"));
            if (type.isNull()) {
                EXPECT_EQ(focus, nullptr) << name;
                EXPECT_EQ(distance, FLT_MAX) << name;
            } else {
                ASSERT_NE(focus, nullptr) << name;
                EXPECT_EQ(focus->focusType(), quint64(type.toInteger())) << name;
                EXPECT_EQ(focus->index(), c.value(QStringLiteral("index")).toInteger()) << name;
                EXPECT_NEAR(distance, c.value(QStringLiteral("distance")).toDouble(), 1e-3) << name;
            }
        } else {
            ADD_FAILURE() << name << ": unknown kind";
        }
        ++checked;
    }
    EXPECT_EQ(checked, cases.size());
}

TEST(SolarLayout, TheSizesOfAViewFollowItsSmallerSide)
{
    struct Row
    {
        Size size;
        double scaling;
        double minRadius;
        double maxRadius;
        std::int64_t count;
        float radius;
    };
    const Row table[] = {
        {Size(1600, 1000), 1.0, 202, 350, 6, 202},      {Size(1600, 1000), 1.0, 202, 350, 7, 202.0f * 7 / 6},
        {Size(1600, 1000), 1.0, 202, 350, 20, 350},     {Size(800, 600), 0.75, 151.5, 210, 6, 151.5},
        {Size(800, 600), 0.75, 151.5, 210, 7, 176.75f}, {Size(800, 600), 0.75, 151.5, 210, 0, 151.5},
        {Size(3000, 4000), 1.0, 202, 606, 40, 606},     {Size(300, 200), 0.75, 151.5, 151.5, 12, 151.5},
    };
    for (const Row& row : table) {
        EXPECT_DOUBLE_EQ(SolarLayout::scalingFactor(row.size), row.scaling) << row.size.width;
        EXPECT_DOUBLE_EQ(SolarLayout::minRadius(row.size), row.minRadius) << row.size.width;
        EXPECT_NEAR(SolarLayout::maxRadius(row.size), row.maxRadius, 1e-4) << row.size.width;
        EXPECT_NEAR(SolarLayout::orbitRadiusFor(row.size, row.count), row.radius, 1e-3)
            << row.size.width << " with " << row.count;
    }
    // A 1000-point smaller side with 20 children: 673.3 asked, 350 given, 9 even slots.
    EXPECT_NEAR(SolarLayout::radiusAllowing(Size(1600, 1000), 20), 673.333, 1e-3);
    EXPECT_EQ(SolarLayout::elementsFittingRadius(Size(1600, 1000), 350.0f), 9);
    EXPECT_EQ(SolarLayout::elementsFittingRadius(Size(1600, 1000), NAN), 6);
    EXPECT_EQ(SolarLayout::elementsFittingRadius(Size(1600, 1000), INFINITY), 6);
}

TEST(SolarLayout, TwentyChildrenOnAThousandPointOrbitAreSqueezedIntoNineSlots)
{
    const Size size(1600, 1000);
    const SolarLayout layout(size, SolarLayout::orbitRadiusFor(size, 20), 20);
    // An offset that puts planet 0 at slot position 0: minus half of the nine slots' steps.
    const float offset = float(-81 * kFixtureDegree);
    std::vector<double> degrees;
    for (std::int64_t i = 0; i < 20; ++i)
        degrees.push_back(layout.angleForPlanetAtIndex(i, offset) / kFixtureDegree);
    std::vector<double> even;
    std::vector<double> crowd;
    for (double d : degrees)
        (d >= 172.0 && d <= 181.6 ? crowd : even).push_back(d);
    ASSERT_EQ(even.size(), 9u);
    ASSERT_EQ(crowd.size(), 11u);
    std::sort(even.begin(), even.end());
    for (double d : even) {
        const double fromFirst = std::fmod(d - 183.0 + 360.0, 40.0);
        EXPECT_LT(std::min(fromFirst, 40.0 - fromFirst), 0.01) << d << " lies on the 40 degree grid from 183";
    }
    std::sort(crowd.begin(), crowd.end());
    EXPECT_NEAR(crowd.front(), 172.2, 0.1);
    EXPECT_NEAR(crowd.back(), 181.5, 0.1);
    EXPECT_LT(crowd[1] - crowd[0], crowd[10] - crowd[9]) << "the gaps widen towards 183 degrees";
}

TEST(SolarLayout, SqueezingThreeOrFewerElementsGivesFiniteAnglesWithoutDividingByZero)
{
    // A view so small that the corner lies closer than half the minimum orbit: a drill
    // squeezes even three planets.
    const Size size(100, 100);
    for (std::int64_t n : {1, 2, 3, 4}) {
        const SolarLayout layout(size, 10.0f, n);
        for (std::int64_t i = 0; i < n; ++i) {
            const float a = layout.angleForPlanetAtIndex(i, 6.2f);
            EXPECT_TRUE(std::isfinite(a)) << n << " " << i;
            EXPECT_GE(a, 0.0f);
            EXPECT_LT(a, float(2 * 3.141592653589793) + 1e-6f);
        }
    }
    LogCapture log;
    const SolarLayout three(size, 10.0f, 3);
    // At three the formula's limit is used: the same value as for the counts around it would
    // give for the same place in the crowd.
    EXPECT_FALSE(std::isnan(three.scaleAngleForElementAtIndex(2, 3, 6.2f)));
    EXPECT_FALSE(log.contains(QStringLiteral("Assertion failure")));
}

TEST(SolarFocusObject, TheFocusRectangleIsTheMiddleOfAPlanetAndTheFrameOfOthers)
{
    auto planet = PlanetLayer::create(0);
    planet->setFrame(Rect(10, 20, 140, 140));
    EXPECT_EQ(SolarFocusObject(planet, SolarFocusObject::PlanetFocus, 0).focusRect(), Rect(38, 48, 84, 84));
    EXPECT_EQ(SolarFocusObject(planet, SolarFocusObject::AdderFocus, 0).focusRect(), Rect(10, 20, 140, 140));
    EXPECT_EQ(SolarFocusObject(nullptr, SolarFocusObject::PlanetFocus, 0).focusRect(), Rect());
}
