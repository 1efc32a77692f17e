#pragma once

#include "platform/core/GlobalQueue.h"
#include "platform/core/UniqueFunction.h"

namespace corvex {

class SerialQueue;

// The queue a completion is answered on, chosen by whoever makes the completion: the main
// queue unless the maker asks for a global or a serial one.
class CompletionQueue
{
public:
    static CompletionQueue main();
    static CompletionQueue global(GlobalQueue::Priority priority = GlobalQueue::Priority::Default);
    // The queue must outlive every completion made for it (as it must outlive what is posted).
    static CompletionQueue serial(SerialQueue& queue);

    // Runs the task on the queue in a later turn, never inside this call. Any thread.
    void post(UniqueFunction<void()> task) const;

    bool isMain() const { return mKind == Kind::Main; }

private:
    enum class Kind
    {
        Main,
        Global,
        Serial
    };

    CompletionQueue(Kind kind, GlobalQueue::Priority priority, SerialQueue* serial)
        : mKind(kind), mPriority(priority), mSerial(serial)
    {}

    Kind mKind;
    GlobalQueue::Priority mPriority;
    SerialQueue* mSerial;
};

} // namespace corvex
