#include "platform/core/CompletionQueue.h"

#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

namespace corvex {

CompletionQueue CompletionQueue::main()
{
    return CompletionQueue(Kind::Main, GlobalQueue::Priority::Default, nullptr);
}

CompletionQueue CompletionQueue::global(GlobalQueue::Priority priority)
{
    return CompletionQueue(Kind::Global, priority, nullptr);
}

CompletionQueue CompletionQueue::serial(SerialQueue& queue)
{
    return CompletionQueue(Kind::Serial, GlobalQueue::Priority::Default, &queue);
}

void CompletionQueue::post(UniqueFunction<void()> task) const
{
    switch (mKind) {
    case Kind::Main:
        MainQueue::post(std::move(task));
        return;
    case Kind::Global:
        GlobalQueue::async(std::move(task), mPriority);
        return;
    case Kind::Serial:
        mSerial->async(std::move(task));
        return;
    }
}

} // namespace corvex
