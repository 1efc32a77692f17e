#include "graphics/Geometry.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;

namespace {

constexpr float kTwoPiFloat = 6.2831855f;
constexpr double kPi = 3.141592653589793;

} // namespace

TEST(ToolkitGeometryAngles, NormalizedAngleUsesTheSinglePrecisionTwoPi)
{
    EXPECT_EQ(Geometry::normalizedAngleFrom(-0.5f), kTwoPiFloat - 0.5f);
    EXPECT_EQ(Geometry::normalizedAngleFrom(7.0f), 7.0f - kTwoPiFloat);
    EXPECT_EQ(Geometry::normalizedAngleFrom(0.0f), 0.0f);
    EXPECT_EQ(Geometry::normalizedAngleFrom(kTwoPiFloat), 0.0f);
}

TEST(ToolkitGeometryAngles, NormalizedAngleLiesInTheHalfOpenCircleForAnyFiniteAngle)
{
    for (float a : {-1e-9f, -1e-3f, -3.0f, -100.0f, -1e6f, 1e-9f, 3.0f, 6.2831850f, 100.0f, 1e6f, 1e20f}) {
        const float n = Geometry::normalizedAngleFrom(a);
        EXPECT_GE(n, 0.0f) << "angle " << a;
        EXPECT_LT(n, kTwoPiFloat) << "angle " << a;
    }
}

TEST(ToolkitGeometryAngles, MinimumAngleTakesTheShorterWayWithItsSign)
{
    const float turn = Geometry::minimumAngleFrom(0.1f, 6.2f);
    EXPECT_NEAR(turn, -0.183, 5e-4);
    EXPECT_EQ(Geometry::minimumAngleFrom(6.2f, 0.1f), -turn);
    // Normalising adds 2pi in float first, so 3.0 comes back within a float step of itself.
    EXPECT_NEAR(Geometry::minimumAngleFrom(0.0f, 3.0f), 3.0, 1e-6);
    EXPECT_NEAR(Geometry::minimumAngleFrom(3.0f, 0.0f), -3.0, 1e-6);
    EXPECT_NEAR(Geometry::minimumAngleFrom(0.0f, 3.3f), 3.3 - 2 * kPi, 1e-6);
    EXPECT_EQ(Geometry::minimumAngleFrom(1.0f, 1.0f), 0.0f);
}

TEST(ToolkitGeometryAngles, MinimumAngleStaysWithinHalfACircleAndReachesTheTarget)
{
    for (float a = -7.0f; a < 7.0f; a += 0.37f) {
        for (float b = -7.0f; b < 7.0f; b += 0.41f) {
            const float turn = Geometry::minimumAngleFrom(a, b);
            EXPECT_LE(std::fabs(double(turn)), kPi) << a << " -> " << b;
            const double reached = std::remainder(double(a) + turn - double(b), 2 * kPi);
            EXPECT_NEAR(reached, 0.0, 1e-5) << a << " -> " << b << " turn " << turn;
        }
    }
}

TEST(ToolkitGeometryAngles, IsAngleDecidesOnTheShorterArcInSinglePrecision)
{
    // The shorter arc from 6.0 to 0.5 passes through 0; both sides of the test come to the
    // same float, so the answer depends on each step keeping its precision.
    EXPECT_EQ(std::fabs(Geometry::minimumAngleFrom(6.0f, 0.5f)), 0.7831848f);
    EXPECT_EQ(std::fabs(Geometry::minimumAngleFrom(0.0f, 6.0f)) +
                  std::fabs(Geometry::minimumAngleFrom(0.0f, 0.5f)),
              0.7831848f);
    EXPECT_TRUE(Geometry::isAngle(0.0f, 6.0f, 0.5f));
    EXPECT_FALSE(Geometry::isAngle(3.0f, 6.0f, 0.5f));

    EXPECT_TRUE(Geometry::isAngle(0.2f, 6.0f, 0.5f));
    EXPECT_TRUE(Geometry::isAngle(6.1f, 0.5f, 6.0f));
    EXPECT_FALSE(Geometry::isAngle(1.0f, 6.0f, 0.5f));
    EXPECT_TRUE(Geometry::isAngle(1.0f, 0.5f, 2.0f));
    EXPECT_FALSE(Geometry::isAngle(2.5f, 0.5f, 2.0f));
}

TEST(ToolkitGeometryAngles, IsAngleSaysNoForANaNAnywhere)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(Geometry::isAngle(nan, 6.0f, 0.5f));
    EXPECT_FALSE(Geometry::isAngle(0.0f, nan, 0.5f));
    EXPECT_FALSE(Geometry::isAngle(0.0f, 6.0f, nan));
}

TEST(ToolkitGeometryAngles, InterpolateAngleTurnsTheShortWayWithoutNormalising)
{
    EXPECT_NEAR(Geometry::interpolateAngleFrom(6.0f, 0.2f, 1.0f), 6.483, 5e-4);
    EXPECT_EQ(Geometry::interpolateAngleFrom(6.0f, 0.2f, 0.0f), 6.0f);
    EXPECT_NEAR(Geometry::interpolateAngleFrom(0.2f, 6.0f, 1.0f), 0.2 - 0.483, 5e-4);
    // Progress is clamped like the linear interpolation's.
    EXPECT_EQ(Geometry::interpolateAngleFrom(6.0f, 0.2f, 3.0f),
              Geometry::interpolateAngleFrom(6.0f, 0.2f, 1.0f));
}

TEST(ToolkitGeometryAngles, RadiansToDegrees)
{
    EXPECT_EQ(Geometry::radiansToDegrees(float(kPi)), 180.0f);
    EXPECT_EQ(Geometry::radiansToDegrees(float(-kPi / 2)), -90.0f);
    EXPECT_EQ(Geometry::radiansToDegrees(0.0f), 0.0f);
}

TEST(ToolkitGeometryAngles, AngleFromPointsGrowsFromThePositiveXAxisTowardsPositiveY)
{
    EXPECT_EQ(Geometry::angleFrom({1, 1}, {2, 1}), 0.0f);
    EXPECT_EQ(Geometry::angleFrom({1, 1}, {1, 3}), float(kPi / 2));
    EXPECT_EQ(Geometry::angleFrom({1, 1}, {0, 1}), float(kPi));
    EXPECT_EQ(Geometry::angleFrom({1, 1}, {1, -1}), float(-kPi / 2));
}

TEST(ToolkitGeometryInterpolation, ProgressIsClampedToTheEnds)
{
    EXPECT_EQ(Geometry::interpolateLinearlyFrom(2.0f, 5.0f, -1.0f), 2.0f);
    EXPECT_EQ(Geometry::interpolateLinearlyFrom(2.0f, 5.0f, 2.0f), 5.0f);
    EXPECT_EQ(Geometry::interpolateLinearlyFrom(2.0f, 5.0f, 0.5f), 3.5f);
    EXPECT_EQ(Geometry::interpolateLinearlyFrom(5.0f, 2.0f, 0.25f), 4.25f);

    EXPECT_EQ(Geometry::interpolateLinearlyFromDouble(2.0, 5.0, -1.0), 2.0);
    EXPECT_EQ(Geometry::interpolateLinearlyFromDouble(2.0, 5.0, 2.0), 5.0);
    EXPECT_EQ(Geometry::interpolateLinearlyFromDouble(0.0, 1.0, 0.1), 0.1);

    EXPECT_EQ(Geometry::interpolatePointFrom({0, 10}, {10, 30}, -1.0f), Point(0, 10));
    EXPECT_EQ(Geometry::interpolatePointFrom({0, 10}, {10, 30}, 2.0f), Point(10, 30));
    EXPECT_EQ(Geometry::interpolatePointFrom({0, 10}, {10, 30}, 0.25f), Point(2.5, 15));
}

TEST(ToolkitGeometryInterpolation, PointProgressIsTheFloatWidenedToDouble)
{
    // 0.1f is not 0.1: the widened float decides the coordinate.
    const Point p = Geometry::interpolatePointFrom({0, 0}, {1, 1}, 0.1f);
    EXPECT_EQ(p.x, double(0.1f));
    EXPECT_NE(p.x, 0.1);
}

TEST(ToolkitGeometryVectors, DistancesAndVectorArithmetic)
{
    EXPECT_EQ(Geometry::distanceFrom({1, 2}, {4, 6}), 5.0f);
    EXPECT_EQ(Geometry::distanceFrom({4, 6}, {1, 2}), 5.0f);
    EXPECT_EQ(Geometry::length({-3, 4}), 5.0f);
    EXPECT_EQ(Geometry::length({0, 0}), 0.0f);
    EXPECT_EQ(Geometry::translationFrom({1, 2}, {4, 6}), Point(3, 4));
    EXPECT_EQ(Geometry::addVectors({1, 2}, {-4, 0.5}), Point(-3, 2.5));
    // The factor is widened, the products are doubles.
    EXPECT_EQ(Geometry::multiply({0.1, 0.2}, 3.0f), Point(0.1 * 3.0, 0.2 * 3.0));
    EXPECT_EQ(Geometry::multiply({1, 1}, 0.1f), Point(double(0.1f), double(0.1f)));
}

TEST(ToolkitGeometryRects, IntegralRectRoundsOriginAndSizeIndependently)
{
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(0.5, -0.5, 10.2, 3.0)), Rect(1, -1, 11, 3));
    // Halves go away from zero.
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(2.5, -2.5, 1, 1)), Rect(3, -3, 1, 1));
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(2.4, -2.4, 0.1, 0.0)), Rect(2, -2, 1, 0));
    // The far edge 0.6 + 1.2 = 1.8 is not rounded on its own.
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(0.6, 0, 1.2, 1)), Rect(1, 0, 2, 1));
    // Negative sizes round up towards zero.
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(0, 0, -2.5, -0.5)), Rect(0, 0, -2, 0));
}

TEST(ToolkitGeometryRects, IntegralRectGoesThroughFloat)
{
    // In double these would round to 0 and up to 4; their floats are 0.5 and 3.
    EXPECT_EQ(Geometry::makeIntegralCGRect(Rect(0.49999999, 0, 3.00000001, 1)), Rect(1, 0, 3, 1));
}

TEST(ToolkitGeometryTransforms, CentralTransformScalesAboutTheBoxCentre)
{
    const Transform3D t = Geometry::makeCentralTransformWithScale(2.0, Size(100, 50));
    EXPECT_EQ(t.apply({50, 25}), Point(50, 25));
    EXPECT_EQ(t.apply({0, 0}), Point(-50, -25));
    EXPECT_EQ(t.apply({100, 50}), Point(150, 75));
    EXPECT_EQ(t.m33, 1.0);

    const Transform3D half = Geometry::makeCentralTransformWithScale(0.5, Size(10, 20));
    EXPECT_EQ(half.apply({0, 0}), Point(2.5, 5));
    EXPECT_EQ(half.apply({10, 20}), Point(7.5, 15));

    EXPECT_TRUE(Geometry::makeCentralTransformWithScale(1.0, Size(30, 40)).isIdentity());
}
