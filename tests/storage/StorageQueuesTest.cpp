#include "storage/StorageQueues.h"
#include "platform/core/SerialQueue.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace corvex;

// Saving runs below the interface thread: a save's hand-off must not cost that thread its
// frame on a busy core.
TEST(StorageQueues, ThePersistenceQueueRunsAtBackgroundPriority)
{
    const int mainNice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    std::promise<std::pair<int, int>> seen;
    StorageQueues::persistenceQueue().async([&seen] {
        seen.set_value({::getpriority(PRIO_PROCESS, id_t(::gettid())), ::sched_getscheduler(0)});
    });
    const auto [nice, policy] = seen.get_future().get();
    EXPECT_EQ(nice, std::min(mainNice + SerialQueue::BackgroundNiceIncrement, 19));
    EXPECT_EQ(policy, SCHED_BATCH);
}
