#include "toolkit/RepeatedActionTimer.h"

#include "platform/core/Scheduler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex {
namespace {

// A float count truncated toward zero, kept inside the int64 range (NaN counts as 0).
std::int64_t truncatedCount(float value)
{
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable as a float; everything at or beyond it is clamped.
    constexpr float limit = 9223372036854775808.0f;
    if (value >= limit)
        return std::numeric_limits<std::int64_t>::max();
    if (value <= -limit)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

} // namespace

RepeatedActionTimer::RepeatedActionTimer(std::int64_t repetitions, float delta)
    : mRepetitions(repetitions), mDelta(delta)
{}

RepeatedActionTimer RepeatedActionTimer::withFrameRate(float frameRate, float totalDuration)
{
    if (!(frameRate > 0) || !std::isfinite(frameRate))
        return RepeatedActionTimer(0, 0);
    // Both in single precision on purpose: the frame count must match what the animations
    // were tuned with (0.35 s at 60 fps is 21 frames, not 20).
    const float repetitions = totalDuration * frameRate;
    const float delta = 1.0f / frameRate;
    return RepeatedActionTimer(truncatedCount(repetitions), delta);
}

void RepeatedActionTimer::start()
{
    mStart = MediaClock::now();
}

float RepeatedActionTimer::totalDuration() const
{
    return static_cast<float>(mRepetitions) * mDelta;
}

bool RepeatedActionTimer::hasDuration() const
{
    const float total = totalDuration();
    return mDelta > 0 && std::isfinite(mDelta) && total > 0;
}

double RepeatedActionTimer::elapsed() const
{
    // A clock that reads before the start (another scheduler installed) counts as the start.
    return std::max(0.0, MediaClock::now() - mStart);
}

double RepeatedActionTimer::boundarySlack() const
{
    return double(mDelta) * 1e-4;
}

float RepeatedActionTimer::progress() const
{
    if (!isStarted())
        return 0;
    if (!hasDuration())
        return 1;
    const double total = totalDuration();
    const double now = elapsed();
    if (now >= total - boundarySlack())
        return 1;
    return static_cast<float>(std::min(1.0, now / total));
}

float RepeatedActionTimer::timeToNextAction() const
{
    if (!hasDuration())
        return 0;
    const double delta = mDelta;
    const double now = isStarted() ? elapsed() : 0.0;
    if (now >= double(totalDuration()) - boundarySlack())
        return 0;
    const double frame = std::trunc((now + boundarySlack()) / delta);
    return static_cast<float>((frame + 1) * delta - now);
}

} // namespace corvex
