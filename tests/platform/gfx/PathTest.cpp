#include "platform/gfx/Path.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace corvex;

namespace {

Point onCircle(Point c, double r, double angle)
{
    return {c.x + r * std::cos(angle), c.y + r * std::sin(angle)};
}

Path pie(double start, double end, bool clockwise)
{
    Path p;
    p.moveTo(Point(0, 0));
    p.addArc(Point(0, 0), 10, start, end, clockwise);
    p.closeSubpath();
    return p;
}

} // namespace

TEST(PathArcs, ClockwiseMeansDecreasingAngles)
{
    const Path cw = pie(std::numbers::pi / 2, 0, true);
    EXPECT_TRUE(cw.contains(onCircle({}, 5, std::numbers::pi / 4))) << "between 0 and pi/2";
    EXPECT_FALSE(cw.contains(onCircle({}, 5, 3 * std::numbers::pi / 4)));
    EXPECT_FALSE(cw.contains(onCircle({}, 5, -std::numbers::pi / 2)));

    const Path ccw = pie(std::numbers::pi / 2, 0, false);
    EXPECT_FALSE(ccw.contains(onCircle({}, 5, std::numbers::pi / 4)));
    EXPECT_TRUE(ccw.contains(onCircle({}, 5, 3 * std::numbers::pi / 4)));
    EXPECT_TRUE(ccw.contains(onCircle({}, 5, -std::numbers::pi / 2)));
    EXPECT_TRUE(ccw.contains(onCircle({}, 5, -std::numbers::pi / 4)));
}

TEST(PathArcs, EndsWhereTheEndAngleIsAndJoinsTheCurrentPointByALine)
{
    Path p;
    p.moveTo(Point(-20, 0));
    p.addArc(Point(0, 0), 10, 0, std::numbers::pi / 2, false);
    const Point end = p.currentPoint();
    EXPECT_NEAR(end.x, 0, 1e-12);
    EXPECT_NEAR(end.y, 10, 1e-12);
    // Line from (-20, 0) to (10, 0), then the arc: one subpath, so it closes as a triangle-ish
    // shape that contains a point under the line's end.
    p.closeSubpath();
    EXPECT_EQ(p.currentPoint(), Point(-20, 0));
    EXPECT_TRUE(p.contains(Point(5, 1)));
    const Rect box = p.boundingBox();
    EXPECT_NEAR(box.minX(), -20, 1e-9);
    EXPECT_NEAR(box.maxX(), 10, 1e-9);
    EXPECT_NEAR(box.minY(), 0, 1e-9);
    EXPECT_NEAR(box.maxY(), 10, 1e-9);
}

TEST(PathArcs, StaysOnTheCircle)
{
    Path p;
    p.addArc(Point(3, 4), 7, 0.3, 5.5, false);
    const QPainterPath& q = p.painterPath();
    for (double t = 0; t <= 1.0; t += 0.01) {
        const QPointF at = q.pointAtPercent(t);
        EXPECT_NEAR(std::hypot(at.x() - 3, at.y() - 4), 7, 7 * 3e-4) << "at " << t;
    }
}

TEST(PathArcs, EqualAnglesGiveNoArcAndFullTurnsAreCircles)
{
    Path none;
    none.addArc(Point(0, 0), 10, 1, 1, true);
    EXPECT_FALSE(none.isEmpty()) << "the start point is still added";
    EXPECT_NEAR(none.currentPoint().x, 10 * std::cos(1.0), 1e-12);
    EXPECT_TRUE(none.boundingBox().isEmpty());

    Path full;
    full.addArc(Point(0, 0), 10, 0, 2 * std::numbers::pi, false);
    for (double a : {0.5, 2.0, 3.5, 5.0})
        EXPECT_TRUE(full.contains(onCircle({}, 9, a))) << a;

    // More than a full turn is one turn.
    Path more;
    more.addArc(Point(0, 0), 10, 0, -7 * std::numbers::pi, true);
    EXPECT_NEAR(more.boundingBox().width(), 20, 1e-9);
}

TEST(PathArcs, ArcToPointRoundsTheCorner)
{
    Path p;
    p.moveTo(Point(0, 0));
    p.addArcToPoint(Point(10, 0), Point(10, 10), 2);
    EXPECT_NEAR(p.currentPoint().x, 10, 1e-12);
    EXPECT_NEAR(p.currentPoint().y, 2, 1e-12);
    const Rect box = p.boundingBox();
    EXPECT_NEAR(box.maxX(), 10, 1e-9);
    EXPECT_NEAR(box.maxY(), 2, 1e-9);
    // The rounded corner passes at distance 2 from (8, 2).
    const QPointF mid = p.painterPath().pointAtPercent(0.95);
    EXPECT_NEAR(std::hypot(mid.x() - 8, mid.y() - 2), 2, 0.01);

    // Collinear points give a line to p1.
    Path straight;
    straight.moveTo(Point(0, 0));
    straight.addArcToPoint(Point(5, 0), Point(10, 0), 3);
    EXPECT_EQ(straight.currentPoint(), Point(5, 0));

    // Without a current point nothing is added.
    Path empty;
    empty.addArcToPoint(Point(5, 0), Point(5, 5), 1);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(PathBuilding, LinesNeedACurrentPoint)
{
    Path p;
    p.lineTo(Point(5, 5));
    p.curveTo(Point(1, 1), Point(2, 2), Point(3, 3));
    p.quadCurveTo(Point(1, 1), Point(2, 2));
    EXPECT_TRUE(p.isEmpty());
    EXPECT_FALSE(p.hasCurrentPoint());
    EXPECT_TRUE(p.boundingBox().isNull());
    p.moveTo(Point(1, 1));
    EXPECT_FALSE(p.isEmpty()) << "a lone move is an element";
    p.lineTo(Point(4, 5));
    EXPECT_EQ(p.boundingBox(), Rect(1, 1, 3, 4));
}

TEST(PathBuilding, ShapesAndFillRules)
{
    Path rect;
    rect.addRect(Rect(10, 10, -10, -10));
    EXPECT_EQ(rect.boundingBox(), Rect(0, 0, 10, 10));
    EXPECT_EQ(rect.currentPoint(), Point(0, 0)) << "closing returns to the start";

    Path rounded;
    rounded.addRoundedRect(Rect(0, 0, 20, 10), 4, 4);
    EXPECT_TRUE(rounded.contains(Point(10, 5)));
    EXPECT_TRUE(rounded.contains(Point(0.5, 5)));
    EXPECT_FALSE(rounded.contains(Point(0.3, 0.3))) << "the corner is cut";
    const Rect box = rounded.boundingBox();
    EXPECT_NEAR(box.minX(), 0, 1e-12);
    EXPECT_NEAR(box.minY(), 0, 1e-12);
    EXPECT_NEAR(box.maxX(), 20, 1e-12);
    EXPECT_NEAR(box.maxY(), 10, 1e-12);

    Path ellipse;
    ellipse.addEllipseInRect(Rect(0, 0, 20, 10));
    EXPECT_TRUE(ellipse.contains(Point(10, 5)));
    EXPECT_FALSE(ellipse.contains(Point(1, 1)));
    EXPECT_NEAR(ellipse.currentPoint().x, 20, 1e-12);
    EXPECT_NEAR(ellipse.currentPoint().y, 5, 1e-12);

    // Two nested rectangles: non-zero fills the hole, even-odd leaves it.
    Path nested;
    nested.addRect(Rect(0, 0, 10, 10));
    nested.addRect(Rect(3, 3, 4, 4));
    EXPECT_TRUE(nested.contains(Point(5, 5)));
    EXPECT_FALSE(nested.contains(Point(5, 5), true));
    EXPECT_TRUE(nested.contains(Point(1, 1), true));

    const Point points[3] = {Point(0, 0), Point(4, 0), Point(4, 3)};
    Path lines;
    lines.addLines(points, 3);
    EXPECT_EQ(lines.currentPoint(), Point(4, 3));
    EXPECT_EQ(lines.boundingBox(), Rect(0, 0, 4, 3));
}

TEST(PathBuilding, AddingAndConnectingPathsWithATransform)
{
    Path square;
    square.addRect(Rect(0, 0, 1, 1));
    Path p;
    p.addPath(square, AffineTransform::makeScale(3, 2).translated(1, 1));
    EXPECT_EQ(p.boundingBox(), Rect(3, 2, 3, 2));

    // A lone move, then a connected arc: one subpath from the move (a wedge, not a segment).
    Path arc;
    arc.addArc(Point(0, 0), 10, std::numbers::pi / 2, 0, true);
    Path wedge;
    wedge.moveTo(Point(0, 0));
    wedge.connectPath(arc);
    wedge.closeSubpath();
    EXPECT_TRUE(wedge.contains(Point(1, 1))) << "near the centre: inside the wedge";
    EXPECT_EQ(wedge.currentPoint(), Point(0, 0));
}
