#include "storage/StorageQueues.h"

#include "platform/core/SerialQueue.h"

namespace corvex {

SerialQueue& StorageQueues::persistenceQueue()
{
    // Leaked on purpose: destroying it at exit would race blocks still being posted by other
    // static destructors and threads.
    static SerialQueue* queue = new SerialQueue(PersistenceLabel);
    return *queue;
}

} // namespace corvex
