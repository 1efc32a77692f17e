#include "storage/StorageQueues.h"

#include "platform/core/SerialQueue.h"

namespace corvex {

SerialQueue& StorageQueues::persistenceQueue()
{
    // Leaked on purpose: destroying it at exit would race blocks still being posted by other
    // static destructors and threads.
    // Background priority: a save's hand-off wakes this thread while the interface thread is
    // still finishing its frame, which it must not lose to the deflate and the write.
    // The quit waits for what it holds: a save cut off by the end of the process leaves its
    // temporary behind and, on its way, meets libraries that were already taken down.
    static SerialQueue* queue = [] {
        auto* made = new SerialQueue(PersistenceLabel, SerialQueue::ThreadPriority::Background);
        made->setQuitWaitsForBlocks(true);
        return made;
    }();
    return *queue;
}

} // namespace corvex
