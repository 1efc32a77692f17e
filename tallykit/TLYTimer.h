#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class OperationQueue;
class RepeatingTimer;

// A repeating timer that hands its block to an operation queue at every firing. There is
// no background activity scheduler here: it takes the dispatch path, a repeating timer on
// the current scheduler. Released, it never fires again.
class TLYTimer
{
public:
    TLYTimer(double timeInterval, std::shared_ptr<OperationQueue> queue, QString timerIdentifier,
             std::function<void()> block);
    ~TLYTimer();
    TLYTimer(const TLYTimer&) = delete;
    TLYTimer& operator=(const TLYTimer&) = delete;

    double timeInterval() const { return mTimeInterval; }
    double tolerance() const { return mTimeInterval / 10.0; }
    const QString& timerIdentifier() const { return mIdentifier; }
    // Adds the block to the queue as an operation.
    void executeBlock();

private:
    void scheduleTimer();

    const QString mIdentifier;
    const double mTimeInterval;
    std::function<void()> mBlock;
    std::shared_ptr<OperationQueue> mQueue;
    std::unique_ptr<RepeatingTimer> mTimerSource;
};

} // namespace corvex
