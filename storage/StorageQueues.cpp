#include "storage/StorageQueues.h"

#include "platform/core/SerialQueue.h"

namespace corvex {

SerialQueue& StorageQueues::persistenceQueue()
{
    // Leaked on purpose: destroying it at exit would race blocks still being posted by other
    // static destructors and threads.
    // Background priority: a save's hand-off wakes this thread while the interface thread is
    // still finishing its frame, which it must not lose to the deflate and the write.
    static SerialQueue* queue = new SerialQueue(PersistenceLabel, SerialQueue::ThreadPriority::Background);
    return *queue;
}

} // namespace corvex
