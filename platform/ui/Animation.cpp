#include "platform/ui/Animation.h"

#include <cmath>

namespace corvex {

Animation::~Animation() = default;

void Animation::setCompletion(Completion completion)
{
    mCompletion = std::make_shared<Completion>(std::move(completion));
}

void Animation::complete(bool finished)
{
    if (mCompletion)
        (*mCompletion)(finished);
}

void Animation::setDuration(double seconds)
{
    mDuration = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
}

void Animation::fillInDefaults(double duration, const TimingFunction& timing)
{
    if (!(mDuration > 0))
        setDuration(duration);
    if (!mTimingFunction)
        mTimingFunction = timing;
}

double Animation::progressAt(double localTime) const
{
    if (std::isnan(localTime) || localTime < 0)
        return 0;
    if (!(mDuration > 0) || localTime >= mDuration)
        return 1;
    const double fraction = localTime / mDuration;
    return mTimingFunction ? mTimingFunction->valueAt(fraction) : fraction;
}

} // namespace corvex
