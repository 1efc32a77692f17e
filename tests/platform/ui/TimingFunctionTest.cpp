// The cubic timing curves and the progress of animations on them.

#include "platform/ui/TimingFunction.h"
#include "platform/ui/BasicAnimation.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace corvex;

TEST(TimingFunction, NamedCurvesReachTheirKnownValues)
{
    EXPECT_NEAR(TimingFunction::easeInEaseOut().valueAt(0.25), 0.129, 0.0005);
    EXPECT_NEAR(TimingFunction::easeInEaseOut().valueAt(0.5), 0.5, 1e-9);
    EXPECT_NEAR(TimingFunction::defaultFunction().valueAt(0.5), 0.802, 0.0005);
    EXPECT_DOUBLE_EQ(TimingFunction::linear().valueAt(0.25), 0.25);
    // Ease-in starts slowly, ease-out ends slowly, mirror images of each other.
    const double in = TimingFunction::easeIn().valueAt(0.3);
    const double out = TimingFunction::easeOut().valueAt(0.7);
    EXPECT_LT(in, 0.3);
    EXPECT_NEAR(in, 1 - out, 1e-9);
}

TEST(TimingFunction, ControlPointsAreThoseOfTheNamedCurves)
{
    EXPECT_EQ(TimingFunction::easeIn().controlPoint(1), Point(0.42, 0));
    EXPECT_EQ(TimingFunction::easeIn().controlPoint(2), Point(1, 1));
    EXPECT_EQ(TimingFunction::easeOut().controlPoint(2), Point(0.58, 1));
    EXPECT_EQ(TimingFunction::defaultFunction().controlPoint(1), Point(0.25, 0.1));
    EXPECT_EQ(TimingFunction::easeInEaseOut().toString(), QStringLiteral("easeInEaseOut"));
    EXPECT_EQ(TimingFunction(0.1, 0.2, 0.3, 0.4).toString(), QStringLiteral("bezier(0.1, 0.2, 0.3, 0.4)"));
}

TEST(TimingFunction, EndsAreExactAndOutOfRangeInputIsClamped)
{
    for (const TimingFunction& f : {TimingFunction::easeIn(), TimingFunction::easeOut(),
                                    TimingFunction::easeInEaseOut(), TimingFunction::defaultFunction()}) {
        EXPECT_EQ(f.valueAt(0), 0) << f.toString().toStdString();
        EXPECT_EQ(f.valueAt(1), 1) << f.toString().toStdString();
        EXPECT_EQ(f.valueAt(-3), 0) << f.toString().toStdString();
        EXPECT_EQ(f.valueAt(7), 1) << f.toString().toStdString();
        EXPECT_EQ(f.valueAt(std::nan("")), 0) << f.toString().toStdString();
    }
}

TEST(TimingFunction, CurvesRiseMonotonically)
{
    for (const TimingFunction& f :
         {TimingFunction::easeIn(), TimingFunction::easeOut(), TimingFunction::easeInEaseOut(),
          TimingFunction::defaultFunction(), TimingFunction(0.9, 0.0, 0.1, 1.0)}) {
        double previous = 0;
        for (int i = 1; i <= 1000; ++i) {
            const double value = f.valueAt(i / 1000.0);
            ASSERT_GE(value, previous - 1e-12) << f.toString().toStdString() << " at " << i / 1000.0;
            previous = value;
        }
    }
}

TEST(AnimationProgress, ZeroDurationIsAtItsEndAtOnceAndNeverNaN)
{
    BasicAnimation animation(QStringLiteral("opacity"));
    EXPECT_EQ(animation.progressAt(0), 1.0);
    EXPECT_EQ(animation.progressAt(-0.5), 0.0) << "not started";
    animation.setDuration(-2);
    EXPECT_EQ(animation.duration(), 0);
    EXPECT_EQ(animation.progressAt(0), 1.0);
    animation.setDuration(std::nan(""));
    EXPECT_EQ(animation.progressAt(0), 1.0);
}

TEST(AnimationProgress, FollowsTheTimingFunctionOverTheDuration)
{
    BasicAnimation animation(QStringLiteral("opacity"));
    animation.setDuration(0.2);
    EXPECT_DOUBLE_EQ(animation.progressAt(0.05), 0.25) << "no timing function: linear";
    animation.setTimingFunction(TimingFunction::easeInEaseOut());
    EXPECT_NEAR(animation.progressAt(0.05), 0.129, 0.0005);
    EXPECT_NEAR(animation.progressAt(0.1), 0.5, 1e-9);
    EXPECT_EQ(animation.progressAt(0.2), 1.0);
    EXPECT_EQ(animation.progressAt(5), 1.0);
}

TEST(BasicAnimationValues, FromToAndByCombineAsThePlatformDoes)
{
    const AnimationValue current = 10.0;
    BasicAnimation a(QStringLiteral("opacity"));
    a.setFromValue(2.0);
    a.setToValue(6.0);
    EXPECT_EQ(a.valueAt(0.5, current).toDouble(), 4.0) << "from and to";

    BasicAnimation b(QStringLiteral("opacity"));
    b.setFromValue(2.0);
    b.setByValue(4.0);
    EXPECT_EQ(b.valueAt(1, current).toDouble(), 6.0) << "from and by";

    BasicAnimation c(QStringLiteral("opacity"));
    c.setByValue(4.0);
    c.setToValue(6.0);
    EXPECT_EQ(c.valueAt(0, current).toDouble(), 2.0) << "by and to";

    BasicAnimation d(QStringLiteral("opacity"));
    d.setFromValue(2.0);
    EXPECT_EQ(d.valueAt(0.5, current).toDouble(), 6.0) << "from only: towards the current value";

    BasicAnimation e(QStringLiteral("opacity"));
    e.setToValue(20.0);
    EXPECT_EQ(e.valueAt(0.5, current).toDouble(), 15.0) << "to only: from the current value";

    BasicAnimation f(QStringLiteral("opacity"));
    f.setByValue(4.0);
    EXPECT_EQ(f.valueAt(0.5, current).toDouble(), 12.0) << "by only";

    BasicAnimation g(QStringLiteral("opacity"));
    EXPECT_EQ(g.valueAt(0.5, current).toDouble(), 10.0) << "no values: the current value";
}

TEST(BasicAnimationValues, PointsRectanglesTransformsAndColoursInterpolateElementWise)
{
    EXPECT_EQ(AnimationValue::interpolate(Point(0, 10), Point(10, 30), 0.25).toPoint(), Point(2.5, 15));
    EXPECT_EQ(AnimationValue::interpolate(Rect(0, 0, 10, 10), Rect(10, 20, 30, 50), 0.5).toRect(),
              Rect(5, 10, 20, 30));
    const Transform3D half =
        AnimationValue::interpolate(Transform3D(), Transform3D::makeScale(3, 5, 1), 0.5).toTransform();
    EXPECT_EQ(half.m11, 2);
    EXPECT_EQ(half.m22, 3);
    const PlatformColor mid = AnimationValue::interpolate(PlatformColor::deviceRGB(1, 0, 0, 1),
                                                          PlatformColor::deviceRGB(0, 0, 1, 0), 0.5)
                                  .toColor();
    EXPECT_DOUBLE_EQ(mid.redComponent(), 0.5);
    EXPECT_DOUBLE_EQ(mid.blueComponent(), 0.5);
    EXPECT_DOUBLE_EQ(mid.alphaComponent(), 0.5);
    // Values of different kinds do not mix: the target wins.
    EXPECT_EQ(AnimationValue::interpolate(1.0, Point(3, 4), 0.5).toPoint(), Point(3, 4));
}
