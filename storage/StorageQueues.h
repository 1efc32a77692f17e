#pragma once

namespace corvex {

class SerialQueue;

// The queues of the storage layer.
class StorageQueues
{
public:
    static constexpr const char* PersistenceLabel = "corvex.persistence";

    // The process-wide serial queue for persistence work (deflating, writing, syncing and
    // renaming stored documents), at background priority (SerialQueue::ThreadPriority).
    // Made on first use and never destroyed, so work posted to it
    // late in the process still runs; the application's quit waits (bounded) for its blocks
    // (SerialQueue::setQuitWaitsForBlocks). Any thread.
    static SerialQueue& persistenceQueue();
};

} // namespace corvex
