#include "toolkit/CodeOptimizationTimer.h"

#include "platform/core/Scheduler.h"

namespace corvex {

std::unique_ptr<CodeOptimizationTimer> CodeOptimizationTimer::create()
{
    return nullptr;
}

std::unique_ptr<CodeOptimizationTimer> CodeOptimizationTimer::create(const QString& label)
{
    Q_UNUSED(label);
    return nullptr;
}

CodeOptimizationTimer::CodeOptimizationTimer() : mInitialTime(MediaClock::now()), mCurrentTime(mInitialTime)
{}

double CodeOptimizationTimer::lap(const QString& label)
{
    Q_UNUSED(label);
    const double now = MediaClock::now();
    const double span = now - mCurrentTime;
    mCurrentTime = now;
    return span;
}

double CodeOptimizationTimer::total(const QString& label) const
{
    Q_UNUSED(label);
    return MediaClock::now() - mInitialTime;
}

double CodeOptimizationTimer::lapOf(CodeOptimizationTimer* timer, const QString& label)
{
    return timer != nullptr ? timer->lap(label) : 0.0;
}

double CodeOptimizationTimer::totalOf(const CodeOptimizationTimer* timer, const QString& label)
{
    return timer != nullptr ? timer->total(label) : 0.0;
}

} // namespace corvex
