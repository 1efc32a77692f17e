#include "cloud/dropbox/DropboxBackoff.h"

namespace corvex {

DropboxBackoff::DropboxBackoff(std::function<double()> random)
    : mRandom(random ? std::move(random) : DropboxRequestBudget::systemRandom()),
      mBudget(std::make_shared<DropboxRequestBudget>(mRandom))
{}

void DropboxBackoff::useBudget(std::shared_ptr<DropboxRequestBudget> budget)
{
    if (budget)
        mBudget = std::move(budget);
    mCountedAtStart.clear();
}

bool DropboxBackoff::mayStart(const QString& step, double now) const
{
    if (now < mBudget->allowedAt())
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
    mCountedAtStart.insert(step, mBudget->failuresCounted());
}

void DropboxBackoff::failed(const QString& step, double now)
{
    const auto counted = mCountedAtStart.constFind(step);
    if (step.isEmpty() || counted == mCountedAtStart.constEnd() || *counted == mBudget->failuresCounted())
        mBudget->failed(now);
    mCountedAtStart.remove(step);
    if (step.isEmpty())
        return;
    StepWait& wait = mSteps[step];
    ++wait.failures;
    wait.dueAt = now + DropboxRequestBudget::waitAfter(wait.failures, mRandom);
}

void DropboxBackoff::succeeded(const QString& step)
{
    mBudget->succeeded();
    mCountedAtStart.remove(step);
    if (!step.isEmpty())
        mSteps.remove(step);
}

void DropboxBackoff::reset()
{
    mSteps.clear();
    mCountedAtStart.clear();
    mBudget->succeeded();
    mLastRetryAt = -RetrySpacingSeconds;
}

} // namespace corvex
