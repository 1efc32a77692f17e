#include "platform/ui/AnimationContext.h"

#include "platform/ui/Transaction.h"

namespace corvex {

void AnimationContext::runAnimationGroup(double duration, std::optional<TimingFunction> timing,
                                         const Changes& changes, Completion<> completion)
{
    Transaction::begin();
    Transaction::setAnimationDuration(duration);
    Transaction::setAnimationTimingFunction(std::move(timing));
    Transaction::setCompletionBlock(std::move(completion));
    if (changes)
        changes();
    Transaction::commit();
}

double AnimationContext::duration()
{
    return Transaction::animationDuration();
}

std::optional<TimingFunction> AnimationContext::timingFunction()
{
    return Transaction::animationTimingFunction();
}

} // namespace corvex
