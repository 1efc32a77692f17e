// Pictures of the orbit with 1 to 40 children at the two radii the orbit is held to (the
// normal 202 points, the most a view whose smaller side is 577 points allows, and the
// extended 420 of a 1200-point view) and in a 1280 x 700 window (245 points), written to
// test-output/orbit/, and where planets overlap.

#include "mindmap/PlanetDrawer.h"
#include "tests/mindmap/SolarSystemTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kDegree = 3.141592653589793 / 180;

// The pairs of planets whose discs overlap, as "i+j".
QStringList overlappingPairs(const SolarWindow& view, std::int64_t count, double planetRadius)
{
    QStringList pairs;
    for (std::int64_t i = 0; i < count; ++i)
        for (std::int64_t j = i + 1; j < count; ++j) {
            const Point a = view.planetCentre(i);
            const Point b = view.planetCentre(j);
            if (std::hypot(a.x - b.x, a.y - b.y) < 2 * planetRadius - 1)
                pairs.append(QStringLiteral("%1+%2").arg(i + 1).arg(j + 1));
        }
    return pairs;
}

} // namespace

// The layout keeps its own rule: while the orbit is large enough for the children (the
// normal layout) no planets overlap; once the orbit is held below what they ask for (the
// squeezed layout) the planets beyond 343 degrees are pressed into the arc from 349 to 360
// degrees, which lands at 172 to 183 degrees on screen, and only planets there overlap. Eight
// children on the 245-point orbit of a 700-point-high window take seven slots: the crowd's
// planet overlaps a neighbour (on the 202-point orbit of a small view the planets are drawn at
// three quarters and eight fit).
TEST(OrbitPictures, PlanetsOverlapOnlyInTheSqueezedLayoutsCrowd)
{
    const QString folder = testOutputDir() + QStringLiteral("/orbit");
    QDir().mkpath(folder);
    struct Held
    {
        double radius;
        Size view;
    };
    for (const Held& held :
         {Held{202, Size(202 / 0.35, 202 / 0.35)}, Held{420, Size(1200, 1200)}, Held{245, Size(1280, 700)}}) {
        SCOPED_TRACE(held.radius);
        constexpr int kColumns = 8;
        constexpr double kThumb = 0.25;
        const QSize cell(int(held.view.width * kThumb), int(held.view.height * kThumb) + 14);
        QImage sheet(cell.width() * kColumns, cell.height() * 5, QImage::Format_RGB32);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        for (int count = 1; count <= 40; ++count) {
            SCOPED_TRACE(count);
            SolarWindow view(held.view);
            showIdea(*view.solar, solarIdea(QStringLiteral("c"), count));
            View::runUpdateCycle();
            const double scale = view.solar->scalingFactor();
            EXPECT_LE(view.solar->radius(), float(held.radius) + 0.01f);
            const bool squeezed = view.solar->radiusAllowing(count) > double(view.solar->radius());
            const QStringList pairs =
                overlappingPairs(view, count, PlanetDrawer::radiusForPlanetType(0) * scale);
            if (!squeezed) {
                EXPECT_TRUE(pairs.isEmpty()) << pairs.join(u' ').toStdString();
            }
            for (const QString& pair : pairs) {
                bool inCrowd = false;
                for (const QString& number : pair.split(u'+')) {
                    const double angle = view.solar->currentAngleForIdeaAtIndex(number.toInt() - 1) / kDegree;
                    inCrowd = inCrowd || (angle > 171.5 && angle < 183.5);
                }
                EXPECT_TRUE(inCrowd) << pair.toStdString();
            }
            if (count == 8 && held.radius == 245) {
                // Seven slots for eight planets: the one in the crowd overlaps its neighbour,
                // the fourth and fifth as first shown, the fifth and sixth after a turn of 45
                // degrees back.
                EXPECT_EQ(pairs, QStringList{QStringLiteral("4+5")});
                view.solar->setCurrentAngle(float(-45 * kDegree));
                view.solar->updateView();
                EXPECT_EQ(overlappingPairs(view, count, PlanetDrawer::radiusForPlanetType(0) * scale),
                          QStringList{QStringLiteral("5+6")});
                EXPECT_TRUE(view.window->renderToImage(1.0).save(
                    folder + QStringLiteral("/eight_children_turned.png")));
                view.solar->setCurrentAngle(0);
                view.solar->updateView();
            }
            const QPoint at(((count - 1) % kColumns) * cell.width(),
                            ((count - 1) / kColumns) * cell.height());
            const QImage full = view.window->renderToImage(1.0);
            painter.drawImage(at + QPoint(0, 14), full.scaled(full.size() * kThumb, Qt::IgnoreAspectRatio,
                                                              Qt::SmoothTransformation));
            painter.setPen(squeezed ? Qt::red : Qt::black);
            const QString overlaps = pairs.size() > 3  ? QStringLiteral(" %1 overlaps").arg(pairs.size())
                                     : pairs.isEmpty() ? QString()
                                                       : QStringLiteral(" overlap ") + pairs.join(u' ');
            painter.drawText(QRect(at, QSize(cell.width(), 14)), Qt::AlignCenter,
                             QStringLiteral("%1%2%3").arg(count).arg(
                                 squeezed ? QStringLiteral(" squeezed") : QString(), overlaps));
        }
        painter.end();
        EXPECT_TRUE(sheet.save(folder + QStringLiteral("/orbit_%1.png").arg(held.radius)));
    }
}
