#include "platform/net/DropboxRequestBudget.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <memory>

namespace corvex {

DropboxRequestBudget::DropboxRequestBudget(std::function<double()> random)
    : mRandom(random ? std::move(random) : systemRandom())
{}

std::function<double()> DropboxRequestBudget::systemRandom()
{
    auto generator = std::make_shared<QRandomGenerator>(QRandomGenerator::system()->generate());
    return [generator] { return generator->generateDouble(); };
}

double DropboxRequestBudget::waitAfter(int failures, const std::function<double()>& random)
{
    const double doubled =
        std::min(MaxWaitSeconds, FirstWaitSeconds * std::ldexp(1.0, std::clamp(failures, 1, 16) - 1));
    return doubled * (1.0 + JitterShare * std::clamp(random(), 0.0, 1.0));
}

void DropboxRequestBudget::failed(double now, double retryAfter)
{
    ++mFailuresInARow;
    ++mFailuresCounted;
    mAllowedAt = std::max(mAllowedAt, now + std::max(waitAfter(mFailuresInARow, mRandom), retryAfter));
}

void DropboxRequestBudget::succeeded()
{
    mFailuresInARow = 0;
    mAllowedAt = 0;
}

} // namespace corvex
