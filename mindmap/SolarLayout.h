#pragma once

#include "platform/gfx/Size.h"

#include <cstdint>
#include <functional>
#include <limits>

namespace corvex {

// The maths of the solar-system view's orbit, free of any view: the radii a view size allows,
// where each planet and adder sits on the orbit for a rotation offset, the offset that shows
// an element at a wanted angle. The view and the layout fixture's test use this same code.
//
// Precision is part of the contract: angles, the orbit radius and the fitted-slot count's
// inputs are single precision, as are the constants given as float values (0.7, 0.8 and the
// 343 degree threshold); the radii a size allows are doubles; the squeezed layout's powers are
// doubles. Counts and indices are signed 64-bit.
//
// Angles are radians, 0 pointing right, growing clockwise on screen in the flipped view.
//
// A value holds what the angles depend on: the view's size, the orbit radius the layout runs
// with (the view's mRadius) and the number of planets (which picks the normal or the squeezed
// layout). Stateless otherwise; any thread.
class SolarLayout
{
public:
    // The one "no such index" value (an after-index of -1 is meaningful, so never -1).
    static constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();
    // The orbit radius of the normal layout (the orbit layer's natural radius) and of the
    // extended mode.
    static constexpr double kNormalModeRadius = 202;
    static constexpr double kExtendedModeRadius = 420;

    SolarLayout(Size viewSize, float radius, std::int64_t planetCount)
        : mViewSize(viewSize), mRadius(radius), mPlanetCount(planetCount)
    {}

    // ---- Sizes (of a view size) ----
    // 0.75 when the smaller side is below 640 points, else 1.
    static double scalingFactor(Size viewSize);
    // 202 x scalingFactor.
    static double minRadius(Size viewSize);
    // max(minRadius, min(3 minRadius, 0.5 x 0.7f x the smaller side)).
    static double maxRadius(Size viewSize);
    // minRadius / 6 x n: n planets spaced as 6 are on the minimum orbit.
    static double radiusAllowing(Size viewSize, std::int64_t count);
    // The integer part of ((r - minRadius) x 6 / minRadius) x 0.8f + 6. A radius that is not
    // finite answers 6 (the minimum orbit's count), and the answer is kept within [1, 2^31],
    // so that no caller turns NaN or infinity into a count.
    static std::int64_t elementsFittingRadius(Size viewSize, float radius);
    // The radius the view lays out with for `count` planets:
    // max(minRadius, min(radiusAllowing(count), maxRadius)).
    static float orbitRadiusFor(Size viewSize, std::int64_t count);

    Size viewSize() const { return mViewSize; }
    float radius() const { return mRadius; }
    std::int64_t planetCount() const { return mPlanetCount; }

    // ---- Angles ----
    // The normal layout unless the planets need more room than the radius gives
    // (radiusAllowing(planetCount) > radius): then the squeezed one.
    float angleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const;
    // normalize(offset + index x 2pi/count), the step in single precision. count <= 0 answers
    // normalize(offset).
    static float normalAngleForElementAtIndex(std::int64_t index, std::int64_t count, float offset);
    // The squeezed layout: the elements re-spaced as if only k = max(6, elementsFitting(radius))
    // were on the orbit, those beyond 343 degrees pressed together with shrinking gaps into
    // the arc up to 360, all turned by 183 degrees. With count <= 3 the power term's exponent
    // 1/(count - 3) cannot be taken (a division by zero at 3); the power is then the value the
    // formula has for every other count, 2.8333338295281516^r. count <= 0 answers
    // normalize(offset).
    float scaleAngleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const;
    // The angle of planet i with `planetCount` planets and of adder i with `adderCount` adders
    // (half a step after their planet) for a rotation offset.
    float angleForPlanetAtIndex(std::int64_t index, float offset) const;
    static float adderOffset(float offset, std::int64_t adderCount);
    float angleForAdderAtIndex(std::int64_t index, std::int64_t adderCount, float offset) const;

    // The offset in [0, n x 2pi/k] that puts element `index` of `count` nearest to `angle`
    // (plain difference, no wrap-around): a coarse search of 5 points per radian of that
    // range, then a fine one of 20 points around the best.
    float angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count, float angle) const;
    // best = from, then for j = 0..m the point (j + 1)/(m + 1) of the way (single precision):
    // a strictly greater value replaces the best. m < 0 answers from.
    static double findMaxValueLocationFrom(double from, double to, std::int64_t checkPoints,
                                           const std::function<double(double)>& function);

    // ---- Index arithmetic ----
    // x mod n into [0, n); 0 when n <= 0.
    static std::int64_t wrapIndex(std::int64_t x, std::int64_t n);
    // (x + n - 1) mod n and (x + n + 1) mod n.
    static std::int64_t circleIndexBefore(std::int64_t x, std::int64_t n) { return wrapIndex(x - 1, n); }
    static std::int64_t circleIndexAfter(std::int64_t x, std::int64_t n) { return wrapIndex(x + 1, n); }

private:
    Size mViewSize;
    float mRadius = 0;
    std::int64_t mPlanetCount = 0;
};

} // namespace corvex
