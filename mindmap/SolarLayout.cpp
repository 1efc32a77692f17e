#include "mindmap/SolarLayout.h"

#include "graphics/Geometry.h"
#include "platform/core/Log.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double kSolarPi = 3.141592653589793;
constexpr double kSolarTwoPi = 6.283185307179586;
// Below this smaller side the whole system is drawn at 0.75.
constexpr double kSolarSmallViewSide = 640;
constexpr double kSolarSmallViewScale = 0.75;
// The single-precision constants of the sizes.
constexpr float kSolarMaxRadiusShare = 0.7f;
constexpr float kSolarFittingGrowth = 0.8f;
constexpr std::int64_t kSolarMinimumSlots = 6;
// Squeezed layout: the crowd starts at 343 degrees (2pi - 17pi/180 as a float), its gaps shrink
// by powers of this base so that the last element lands on 360 degrees, and the whole
// arrangement is turned by 183 degrees (61pi/60).
constexpr float kSolarCrowdThreshold = 5.98647928237915f;
constexpr double kSolarCrowdBase = 2.8333338295281516;
constexpr double kSolarCrowdArc = 0.10471975511965977; // pi / 30
constexpr double kSolarSqueezeTurn = 3.193952531149623;
// Search points per radian of the coarse offset search, and of the fine one in all.
constexpr float kSolarCoarseSearchDensity = 5.0f;
constexpr std::int64_t kSolarFineSearchPoints = 20;
// The assertion line of a negative power term.
constexpr int kSolarNegativePowerLine = 412;
constexpr const char* kSolarScaleAngleMethod =
    "-[SolarSystem scaleAngleForElementAtIndex:numElements:offset:]";

float solarNormalize(float angle)
{
    return Geometry::normalizedAngleFrom(angle);
}

} // namespace

double SolarLayout::scalingFactor(Size viewSize)
{
    return std::min(viewSize.width, viewSize.height) < kSolarSmallViewSide ? kSolarSmallViewScale : 1.0;
}

double SolarLayout::minRadius(Size viewSize)
{
    return kNormalModeRadius * scalingFactor(viewSize);
}

double SolarLayout::maxRadius(Size viewSize)
{
    const double minimum = minRadius(viewSize);
    const double share = 0.5 * double(kSolarMaxRadiusShare) * std::min(viewSize.width, viewSize.height);
    return std::max(minimum, std::min(3 * minimum, share));
}

double SolarLayout::radiusAllowing(Size viewSize, std::int64_t count)
{
    return minRadius(viewSize) / 6 * double(count);
}

std::int64_t SolarLayout::elementsFittingRadius(Size viewSize, float radius)
{
    if (!std::isfinite(radius))
        return kSolarMinimumSlots;
    const double minimum = minRadius(viewSize);
    const double fitting = ((double(radius) - minimum) * 6 / minimum) * double(kSolarFittingGrowth) + 6;
    // Within [1, 2^31] the truncation is defined and the slot step stays a usable angle.
    return std::int64_t(std::clamp(fitting, 1.0, 2147483648.0));
}

float SolarLayout::orbitRadiusFor(Size viewSize, std::int64_t count)
{
    const double radius =
        std::max(minRadius(viewSize), std::min(radiusAllowing(viewSize, count), maxRadius(viewSize)));
    return float(radius);
}

float SolarLayout::angleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const
{
    // Compared at the radius' own precision: the orbit radius is the wanted one narrowed to
    // a float, which may land a hair below it and would squeeze an orbit made to fit.
    if (float(radiusAllowing(mViewSize, mPlanetCount)) <= mRadius)
        return normalAngleForElementAtIndex(index, count, offset);
    return scaleAngleForElementAtIndex(index, count, offset);
}

float SolarLayout::normalAngleForElementAtIndex(std::int64_t index, std::int64_t count, float offset)
{
    if (count <= 0)
        return solarNormalize(offset);
    const float step = float(kSolarTwoPi / double(count));
    return solarNormalize(offset + float(index) * step);
}

float SolarLayout::scaleAngleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const
{
    if (count <= 0)
        return solarNormalize(offset);
    const std::int64_t k = std::max(kSolarMinimumSlots, elementsFittingRadius(mViewSize, mRadius));
    const float step = float(kSolarTwoPi / double(count));
    const float kstep = float(kSolarTwoPi / double(k));
    const float a = solarNormalize(offset + float(index) * step + float(k) * 0.5f * step);
    float x = (a / step) * kstep;
    if (x >= kSolarCrowdThreshold) {
        const float r = (x - kSolarCrowdThreshold) / (float(count) * kstep - kSolarCrowdThreshold);
        double power;
        if (count > 3) {
            const double n3 = double(count - 3);
            power = std::pow(std::pow(kSolarCrowdBase, 1.0 / n3), double(r) * n3);
        } else {
            // (b^(1/(n-3)))^(r(n-3)) is b^r for every n but 3, where it cannot be taken.
            power = std::pow(kSolarCrowdBase, double(r));
        }
        if (power < 0)
            Log::assertionFailure(kSolarNegativePowerLine, kSolarScaleAngleMethod);
        x = float(double(kSolarCrowdThreshold) + kSolarCrowdArc * power);
    }
    return solarNormalize(solarNormalize(float(double(x) + kSolarSqueezeTurn)));
}

float SolarLayout::angleForPlanetAtIndex(std::int64_t index, float offset) const
{
    return angleForElementAtIndex(index, mPlanetCount, offset);
}

float SolarLayout::adderOffset(float offset, std::int64_t adderCount)
{
    if (adderCount <= 0)
        return offset;
    return offset + float(kSolarPi / double(adderCount));
}

float SolarLayout::angleForAdderAtIndex(std::int64_t index, std::int64_t adderCount, float offset) const
{
    return angleForElementAtIndex(index, adderCount, adderOffset(offset, adderCount));
}

float SolarLayout::angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count,
                                                       float angle) const
{
    const std::int64_t k = std::max(kSolarMinimumSlots, elementsFittingRadius(mViewSize, mRadius));
    const float s = float(count) * float(kSolarTwoPi / double(k));
    const float coarse = kSolarCoarseSearchDensity * s;
    // Without a positive number of search points there is no range to search.
    if (!(coarse >= 1.0f))
        return 0.0f;
    const std::int64_t m = std::int64_t(std::min(coarse, 1.0e6f));
    const auto f = [this, index, count, angle](double x) {
        return -double(std::fabs(angleForElementAtIndex(index, count, float(x)) - angle));
    };
    const double x0 = findMaxValueLocationFrom(0, double(s), m, f);
    const double h = double(s / float(m)) * 0.5;
    return float(findMaxValueLocationFrom(std::max(0.0, x0 - h), std::min(double(s), x0 + h),
                                          kSolarFineSearchPoints, f));
}

double SolarLayout::findMaxValueLocationFrom(double from, double to, std::int64_t checkPoints,
                                             const std::function<double(double)>& function)
{
    double best = from;
    if (checkPoints < 0 || !function)
        return best;
    double value = function(from);
    for (std::int64_t j = 0; j <= checkPoints; ++j) {
        const float progress = float(j + 1) / float(checkPoints + 1);
        const double x = Geometry::interpolateLinearlyFrom(float(from), float(to), progress);
        const double candidate = function(x);
        if (candidate > value) {
            value = candidate;
            best = x;
        }
    }
    return best;
}

std::int64_t SolarLayout::wrapIndex(std::int64_t x, std::int64_t n)
{
    if (n <= 0)
        return 0;
    const std::int64_t r = x % n;
    return r < 0 ? r + n : r;
}

} // namespace corvex
