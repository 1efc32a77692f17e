#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"

#include <QLocale>
#include <QTransform>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>

using namespace corvex;

namespace {

void expectNear(const QTransform& actual, const QTransform& expected, double tolerance = 1e-12)
{
    const double a[9] = {actual.m11(), actual.m12(), actual.m13(), actual.m21(), actual.m22(),
                         actual.m23(), actual.m31(), actual.m32(), actual.m33()};
    const double e[9] = {expected.m11(), expected.m12(), expected.m13(), expected.m21(), expected.m22(),
                         expected.m23(), expected.m31(), expected.m32(), expected.m33()};
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(a[i], e[i], tolerance) << "element " << i;
}

std::string rectText(const Rect& r)
{
    return toString(r).toStdString();
}

} // namespace

TEST(RectText, WritesShortestNumbersInNestedBraces)
{
    EXPECT_EQ(toString(Rect(1, 2, 3, 4)), QStringLiteral("{{1, 2}, {3, 4}}"));
    EXPECT_EQ(toString(Rect(0.1, -2.5, 1e21, 0)), QStringLiteral("{{0.1, -2.5}, {1e+21, 0}}"));
    EXPECT_EQ(toString(Point(3, -0.25)), QStringLiteral("{3, -0.25}"));
    EXPECT_EQ(toString(Size(640, 480)), QStringLiteral("{640, 480}"));
}

TEST(RectText, RoundTripsEveryDoubleExactly)
{
    const Rect samples[] = {Rect(1, 2, 3, 4), Rect(0.1, 0.2, 0.30000000000000004, 1.0 / 3.0),
                            Rect(-1e-300, 1.7976931348623157e308, 5e-324, -123456.789),
                            Rect(std::nextafter(1.0, 2.0), 1e15 + 0.5, 4.9406564584124654e-320, -0.0)};
    for (const Rect& r : samples) {
        const Rect back = rectFromString(toString(r));
        EXPECT_EQ(back, r) << rectText(r) << " read back as " << rectText(back);
    }
}

TEST(RectText, ReaderIsTolerant)
{
    EXPECT_EQ(rectFromString(QStringLiteral("{{1, 2}, {3, 4}}")), Rect(1, 2, 3, 4));
    EXPECT_EQ(rectFromString(QStringLiteral("  {  { 1 ,2 } ,{3,   4}}  ")), Rect(1, 2, 3, 4));
    EXPECT_EQ(rectFromString(QStringLiteral("{{1.5e2, -2E-1}, {+3, .5}}")), Rect(150, -0.2, 3, 0.5));
    EXPECT_EQ(rectFromString(QStringLiteral("garbage")), Rect());
    EXPECT_EQ(rectFromString(QString()), Rect());
    EXPECT_EQ(rectFromString(QStringLiteral("{{-}, {e, .}}")), Rect());
    // Missing numbers read as 0; extra ones are ignored.
    EXPECT_EQ(rectFromString(QStringLiteral("{{7, 8}, {9")), Rect(7, 8, 9, 0));
    EXPECT_EQ(rectFromString(QStringLiteral("1 2 3 4 5 6")), Rect(1, 2, 3, 4));
    // An exponent without digits belongs to no number: "2e" is 2 followed by garbage.
    EXPECT_EQ(rectFromString(QStringLiteral("{{2e, 3}, {4, 5}}")), Rect(2, 3, 4, 5));
    // Non-finite values hold their place as 0, including ones too large for a double.
    EXPECT_EQ(rectFromString(QStringLiteral("{{inf, nan}, {1e999, 4}}")), Rect(0, 0, 0, 4));
    EXPECT_EQ(pointFromString(QStringLiteral("{12.5, -3}")), Point(12.5, -3));
    EXPECT_EQ(sizeFromString(QStringLiteral("{640,480}")), Size(640, 480));
    EXPECT_EQ(sizeFromString(QStringLiteral("{640}")), Size(640, 0));
}

TEST(RectText, IgnoresTheProcessLocale)
{
    // A decimal comma locale must not change how the text reads.
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(rectFromString(QStringLiteral("{{1.5, 2}, {3, 4}}")), Rect(1.5, 2, 3, 4));
    EXPECT_EQ(toString(Rect(1.5, 2, 3, 4)), QStringLiteral("{{1.5, 2}, {3, 4}}"));
    QLocale::setDefault(saved);
}

TEST(RectRules, StandardisesNegativeSizes)
{
    const Rect r(10, 20, -4, -6);
    EXPECT_EQ(r.standardized(), Rect(6, 14, 4, 6));
    EXPECT_EQ(r.minX(), 6);
    EXPECT_EQ(r.maxX(), 10);
    EXPECT_EQ(r.minY(), 14);
    EXPECT_EQ(r.maxY(), 20);
    EXPECT_EQ(r.midX(), 8);
    EXPECT_EQ(r.width(), 4);
    EXPECT_EQ(r.height(), 6);
    EXPECT_EQ(r.toQRectF(), QRectF(6, 14, 4, 6));
}

TEST(RectRules, IntegralGoesOutwardToWholeNumbers)
{
    EXPECT_EQ(Rect(0.5, -0.5, 10.2, 3.0).integral(), Rect(0, -1, 11, 4));
    EXPECT_EQ(Rect(1, 2, 3, 4).integral(), Rect(1, 2, 3, 4));
    EXPECT_EQ(Rect(1.2, 1.2, 0.1, 0.1).integral(), Rect(1, 1, 1, 1));
    EXPECT_EQ(Rect(5.5, 5.5, -1, -1).integral(), Rect(4, 4, 2, 2));
    EXPECT_TRUE(Rect::null().integral().isNull());
}

TEST(RectRules, InsetGivesNullWhenASideTurnsNegative)
{
    EXPECT_EQ(Rect(0, 0, 10, 10).insetBy(2, 3), Rect(2, 3, 6, 4));
    EXPECT_EQ(Rect(0, 0, 10, 10).insetBy(-1, -1), Rect(-1, -1, 12, 12));
    EXPECT_EQ(Rect(0, 0, 10, 10).insetBy(5, 5), Rect(5, 5, 0, 0)) << "exactly zero is not negative";
    EXPECT_TRUE(Rect(0, 0, 10, 10).insetBy(5.5, 0).isNull());
    EXPECT_TRUE(Rect(0, 0, 10, 10).insetBy(0, 6).isNull());
    EXPECT_EQ(Rect(10, 10, -10, -10).insetBy(1, 1), Rect(1, 1, 8, 8));
    EXPECT_TRUE(Rect::null().insetBy(-5, -5).isNull());
}

TEST(RectRules, IntersectionOfDisjointRectanglesIsNull)
{
    const Rect a(0, 0, 10, 10);
    EXPECT_EQ(a.intersection(Rect(5, 5, 10, 10)), Rect(5, 5, 5, 5));
    EXPECT_TRUE(a.intersection(Rect(20, 0, 5, 5)).isNull());
    EXPECT_TRUE(a.intersection(Rect(0, 11, 5, 5)).isNull());
    EXPECT_TRUE(a.intersection(Rect::null()).isNull());
    // Rectangles sharing an edge meet in a zero-width rectangle, but do not intersect.
    const Rect edge = a.intersection(Rect(10, 2, 5, 5));
    EXPECT_EQ(edge, Rect(10, 2, 0, 5));
    EXPECT_FALSE(edge.isNull());
    EXPECT_TRUE(edge.isEmpty());
    EXPECT_FALSE(a.intersects(Rect(10, 2, 5, 5)));
    EXPECT_TRUE(a.intersects(Rect(9.5, 2, 5, 5)));
    EXPECT_EQ(a.intersection(Rect(12, 12, -4, -4)), Rect(8, 8, 2, 2));
}

TEST(RectRules, UnionIgnoresNullRectangles)
{
    const Rect a(0, 0, 10, 10);
    EXPECT_EQ(a.unionWith(Rect(20, 5, 5, 10)), Rect(0, 0, 25, 15));
    EXPECT_EQ(a.unionWith(Rect::null()), a);
    EXPECT_EQ(Rect::null().unionWith(a), a);
    EXPECT_TRUE(Rect::null().unionWith(Rect::null()).isNull());
    // An empty but placed rectangle still counts.
    EXPECT_EQ(a.unionWith(Rect(-5, 0, 0, 0)), Rect(-5, 0, 15, 10));
}

TEST(RectRules, ContainsMinEdgesButNotMaxEdges)
{
    const Rect r(0, 0, 10, 10);
    EXPECT_TRUE(r.contains(Point(0, 0)));
    EXPECT_TRUE(r.contains(Point(9.999, 9.999)));
    EXPECT_FALSE(r.contains(Point(10, 5)));
    EXPECT_FALSE(r.contains(Point(5, 10)));
    EXPECT_FALSE(r.contains(Point(-0.001, 5)));
    EXPECT_TRUE(Rect(10, 10, -10, -10).contains(Point(0, 0)));
    EXPECT_FALSE(Rect::null().contains(Point(0, 0)));
    EXPECT_TRUE(r.contains(Rect(0, 0, 10, 10)));
    EXPECT_TRUE(r.contains(Rect(2, 2, 3, 3)));
    EXPECT_FALSE(r.contains(Rect(2, 2, 9, 3)));
    EXPECT_FALSE(r.contains(Rect::null()));
}

TEST(RectRules, NullAndInfiniteRectangles)
{
    EXPECT_TRUE(Rect::null().isNull());
    EXPECT_TRUE(Rect::null().isEmpty());
    EXPECT_FALSE(Rect().isNull());
    EXPECT_TRUE(Rect().isEmpty());
    EXPECT_TRUE(Rect::infinite().isInfinite());
    EXPECT_FALSE(Rect::infinite().isEmpty());
    EXPECT_TRUE(Rect::infinite().contains(Point(1e300, -1e300)));
    EXPECT_TRUE(Rect::null().offsetBy(1, 1).isNull());
    EXPECT_EQ(Rect(1, 1, -2, 2).offsetBy(1, 1), Rect(0, 2, 2, 2));
}

TEST(AffineTransformTest, StepsComposeAsQTransformDoes)
{
    const AffineTransform t =
        AffineTransform::identity().translated(10, 20).scaled(2, 3).rotated(0.3).translated(-4, 5.5);
    QTransform q;
    q.translate(10, 20).scale(2, 3).rotateRadians(0.3).translate(-4, 5.5);
    expectNear(t.toQTransform(), q);

    const QPointF mapped = q.map(QPointF(1.25, -7));
    const Point p = t.apply(Point(1.25, -7));
    EXPECT_NEAR(p.x, mapped.x(), 1e-12);
    EXPECT_NEAR(p.y, mapped.y(), 1e-12);
}

TEST(AffineTransformTest, TranslatedAppliesTheNewStepFirst)
{
    const AffineTransform scale = AffineTransform::makeScale(2, 2);
    // translated(): translate, then scale.
    EXPECT_EQ(scale.translated(10, 0).apply(Point(1, 1)), Point(22, 2));
    // concat(): this, then the argument.
    EXPECT_EQ(scale.concat(AffineTransform::makeTranslation(10, 0)).apply(Point(1, 1)), Point(12, 2));
    const QTransform q = QTransform::fromScale(2, 2) * QTransform::fromTranslate(10, 0);
    expectNear(scale.concat(AffineTransform::makeTranslation(10, 0)).toQTransform(), q);
}

TEST(AffineTransformTest, RotationTurnsXTowardsY)
{
    const Point p = AffineTransform::makeRotation(std::numbers::pi / 2).apply(Point(1, 0));
    EXPECT_NEAR(p.x, 0, 1e-15);
    EXPECT_NEAR(p.y, 1, 1e-15);
    QTransform q;
    q.rotateRadians(0.7);
    expectNear(AffineTransform::makeRotation(0.7).toQTransform(), q);
}

TEST(AffineTransformTest, InversionAndRectangles)
{
    const AffineTransform t = AffineTransform::makeTranslation(3, 4).scaled(2, -5).rotated(1.1);
    const AffineTransform round = t.concat(t.inverted());
    EXPECT_NEAR(round.a, 1, 1e-12);
    EXPECT_NEAR(round.b, 0, 1e-12);
    EXPECT_NEAR(round.c, 0, 1e-12);
    EXPECT_NEAR(round.d, 1, 1e-12);
    EXPECT_NEAR(round.tx, 0, 1e-12);
    EXPECT_NEAR(round.ty, 0, 1e-12);

    const AffineTransform singular = AffineTransform::makeScale(0, 1);
    EXPECT_EQ(singular.inverted(), singular);

    const AffineTransform flip{1, 0, 0, -1, 0, 100};
    EXPECT_EQ(flip.applyToRect(Rect(10, 10, 20, 30)), Rect(10, 60, 20, 30));
    EXPECT_EQ(AffineTransform::makeScale(2, 3).applyToSize(Size(4, 5)), Size(8, 15));
    EXPECT_TRUE(flip.applyToRect(Rect::null()).isNull());
    EXPECT_EQ(AffineTransform::fromQTransform(flip.toQTransform()), flip);
    EXPECT_TRUE(AffineTransform().isIdentity());
    EXPECT_FALSE(flip.isIdentity());
}

TEST(Transform3DTest, TranslateScaleRotateApplyTheNewStepFirst)
{
    // Built as the central scale transform is: translate to the centre, scale, translate back.
    const Transform3D central =
        Transform3D::identity().translate(50, 25, 0).scale(2, 2, 1).translate(-50, -25, 0);
    // The centre stays put; a corner moves away from it.
    EXPECT_EQ(central.apply(Point(50, 25)), Point(50, 25));
    EXPECT_EQ(central.apply(Point(0, 0)), Point(-50, -25));

    QTransform q;
    q.translate(50, 25).scale(2, 2).translate(-50, -25);
    expectNear(central.toQTransform(), q);

    const Transform3D t = Transform3D::identity().translate(5, 6, 0).rotate(0.4, 0, 0, 1).scale(3, 0.5, 1);
    QTransform q2;
    q2.translate(5, 6).rotateRadians(0.4).scale(3, 0.5);
    expectNear(t.toQTransform(), q2);
    EXPECT_TRUE(t.isAffine());
    expectNear(t.affine().toQTransform(), q2);
}

TEST(Transform3DTest, RotationAboutZMatchesTheAffineRotation)
{
    const Transform3D r = Transform3D::makeRotation(0.9, 0, 0, 2);
    const AffineTransform a = AffineTransform::makeRotation(0.9);
    EXPECT_NEAR(r.m11, a.a, 1e-15);
    EXPECT_NEAR(r.m12, a.b, 1e-15);
    EXPECT_NEAR(r.m21, a.c, 1e-15);
    EXPECT_NEAR(r.m22, a.d, 1e-15);
    EXPECT_EQ(r.m33, 1);
    EXPECT_TRUE(Transform3D::makeRotation(1, 0, 0, 0).isIdentity());
    EXPECT_EQ(Transform3D::makeAffine(a).affine(), a);
    // About x, a quarter turn takes y to z.
    const Transform3D rx = Transform3D::makeRotation(std::numbers::pi / 2, 1, 0, 0);
    EXPECT_NEAR(rx.m21, 0, 1e-15);
    EXPECT_NEAR(rx.m22, 0, 1e-15);
    EXPECT_NEAR(rx.m23, 1, 1e-15);
}

TEST(Transform3DTest, ConcatInverseAndPerspective)
{
    const Transform3D t = Transform3D::makeTranslation(1, 2, 3).rotate(0.5, 1, 1, 0).scale(2, 3, 4);
    const Transform3D round = t.concat(t.inverted());
    const double* m = &round.m11;
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0 : 0.0, 1e-12) << "element " << i;
    EXPECT_FALSE(t.isAffine());
    EXPECT_EQ(Transform3D::makeScale(0, 1, 1).inverted(), Transform3D::makeScale(0, 1, 1));

    Transform3D perspective;
    perspective.m14 = 0.01; // w grows with x
    const Point p = perspective.apply(Point(100, 50));
    EXPECT_DOUBLE_EQ(p.x, 50);
    EXPECT_DOUBLE_EQ(p.y, 25);
    const QPointF q = perspective.toQTransform().map(QPointF(100, 50));
    EXPECT_DOUBLE_EQ(q.x(), 50);
    EXPECT_DOUBLE_EQ(q.y(), 25);
}
