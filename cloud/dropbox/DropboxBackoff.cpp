#include "cloud/dropbox/DropboxBackoff.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <memory>

namespace corvex {

DropboxBackoff::DropboxBackoff(std::function<double()> random) : mRandom(std::move(random))
{
    if (!mRandom) {
        auto generator = std::make_shared<QRandomGenerator>(QRandomGenerator::system()->generate());
        mRandom = [generator] { return generator->generateDouble(); };
    }
}

bool DropboxBackoff::mayStart(const QString& step, double now) const
{
    if (now < mAllowedAt)
        return false;
    const auto found = mSteps.constFind(step);
    if (found == mSteps.constEnd())
        return true;
    return now >= found->dueAt && now >= mLastRetryAt + RetrySpacingSeconds;
}

void DropboxBackoff::started(const QString& step, double now)
{
    if (mSteps.contains(step))
        mLastRetryAt = now;
}

void DropboxBackoff::failed(const QString& step, double now)
{
    ++mFailuresInARow;
    mAllowedAt = now + delayAfter(mFailuresInARow);
    if (step.isEmpty())
        return;
    StepWait& wait = mSteps[step];
    ++wait.failures;
    wait.dueAt = now + delayAfter(wait.failures);
}

void DropboxBackoff::succeeded(const QString& step)
{
    mFailuresInARow = 0;
    mAllowedAt = 0;
    if (!step.isEmpty())
        mSteps.remove(step);
}

void DropboxBackoff::reset()
{
    mSteps.clear();
    mFailuresInARow = 0;
    mAllowedAt = 0;
    mLastRetryAt = -RetrySpacingSeconds;
}

double DropboxBackoff::delayAfter(int failures)
{
    const double plain =
        std::min(MaxDelaySeconds, FirstDelaySeconds * std::ldexp(1.0, std::min(failures, 16) - 1));
    return plain * (1.0 + JitterShare * std::clamp(mRandom(), 0.0, 1.0));
}

} // namespace corvex
