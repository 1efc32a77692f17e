#include "tallykit/TLYTimer.h"

#include "platform/core/OperationQueue.h"
#include "platform/core/RepeatingTimer.h"

namespace corvex {

TLYTimer::TLYTimer(double timeInterval, std::shared_ptr<OperationQueue> queue, QString timerIdentifier,
                   std::function<void()> block)
    : mIdentifier(std::move(timerIdentifier)), mTimeInterval(timeInterval), mBlock(std::move(block)),
      mQueue(std::move(queue))
{
    scheduleTimer();
}

TLYTimer::~TLYTimer()
{
    if (mTimerSource)
        mTimerSource->invalidate();
}

void TLYTimer::scheduleTimer()
{
    mTimerSource = std::make_unique<RepeatingTimer>();
    // The firing holds no pointer to this object (it may be released on another thread);
    // invalidation in the destructor stops every later firing.
    std::weak_ptr<OperationQueue> queue = mQueue;
    mTimerSource->start(mTimeInterval, [queue, block = mBlock] {
        if (std::shared_ptr<OperationQueue> target = queue.lock(); target && block)
            target->addOperationWithBlock(block);
    });
}

void TLYTimer::executeBlock()
{
    if (mQueue && mBlock)
        mQueue->addOperationWithBlock(mBlock);
}

} // namespace corvex
