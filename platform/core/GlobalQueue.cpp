#include "platform/core/GlobalQueue.h"

#include "platform/core/AlternateSignalStack.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/WorkerThread_p.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace corvex {
namespace {

constexpr std::size_t PriorityCount = 4;

// The scheduler's lowest priority, for the thread of a background block: it then yields the
// processor to every other thread of the machine, the main thread first.
constexpr int BackgroundNice = 19;

// This thread's nice value; nullopt when it cannot be read.
std::optional<int> currentThreadNice()
{
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    if (nice == -1 && errno != 0)
        return std::nullopt;
    return nice;
}

bool setCurrentThreadNice(int nice)
{
    return ::setpriority(PRIO_PROCESS, id_t(::gettid()), nice) == 0;
}

class Pool
{
public:
    static Pool& instance()
    {
        // Never destroyed: idle threads may still wait on it while the process exits.
        static Pool* pool = new Pool;
        return *pool;
    }

    void async(GlobalQueue::Task block, GlobalQueue::Priority priority)
    {
        std::lock_guard lock(mMutex);
        mQueues[std::size_t(priority)].push_back(std::move(block));
        ++mPending;
        if (mPending > mIdle && mThreads < GlobalQueue::MaxThreads) {
            try {
                std::thread(&Pool::threadMain, this).detach();
                ++mThreads;
                return;
            } catch (const std::system_error&) {
                // Out of threads: the block waits for one of the pool's own.
            }
        }
        if (mIdle > 0)
            mCondition.notify_one();
    }

    int threadCount()
    {
        std::lock_guard lock(mMutex);
        return mThreads;
    }

    void setIdleTimeout(double seconds)
    {
        std::lock_guard lock(mMutex);
        mIdleTimeout = std::chrono::duration<double>(seconds > 0 ? seconds : 0);
    }

private:
    // Needs the mutex: a thread leaving the pool while blocks wait makes its successor, as
    // async() would have.
    void replaceLocked()
    {
        if (mPending <= mIdle)
            return;
        try {
            std::thread(&Pool::threadMain, this).detach();
            ++mThreads;
        } catch (const std::system_error&) {
            // The other threads take the blocks.
        }
    }

    // Needs the mutex and mPending > 0.
    std::pair<GlobalQueue::Task, GlobalQueue::Priority> takeLocked()
    {
        for (std::size_t p = 0; p < PriorityCount; ++p) {
            if (!mQueues[p].empty()) {
                GlobalQueue::Task block = std::move(mQueues[p].front());
                mQueues[p].pop_front();
                --mPending;
                return {std::move(block), GlobalQueue::Priority(p)};
            }
        }
        return {};
    }

    void threadMain()
    {
        AlternateSignalStack altStack; // a hook at thread start may have given one already
        detail::nameCurrentThread("corvex-global");
        std::unique_lock lock(mMutex);
        while (true) {
            if (mPending == 0) {
                ++mIdle;
                const bool woken = mCondition.wait_for(lock, mIdleTimeout, [this] { return mPending > 0; });
                --mIdle;
                if (!woken)
                    break;
            }
            auto [block, priority] = takeLocked();
            lock.unlock();
            // A background block runs at the lowest priority. Only a privileged process may
            // raise it again afterwards: a thread that cannot ends with the block.
            bool lowered = false;
            int restore = 0;
            if (priority == GlobalQueue::Priority::Background) {
                const std::optional<int> nice = currentThreadNice();
                if (nice && *nice < BackgroundNice && setCurrentThreadNice(BackgroundNice)) {
                    lowered = true;
                    restore = *nice;
                }
            }
            QueueLabels::setCurrent(GlobalQueue::label(priority));
            detail::runQueueBlock(block, GlobalQueue::label(priority));
            block = nullptr;
            QueueLabels::setCurrent(nullptr);
            const bool keepsPriority = !lowered || setCurrentThreadNice(restore);
            lock.lock();
            if (!keepsPriority) {
                replaceLocked();
                break;
            }
        }
        --mThreads;
        lock.unlock();
        QueueLabels::releaseCurrentThread();
    }

    std::mutex mMutex;
    std::condition_variable mCondition;
    std::array<std::deque<GlobalQueue::Task>, PriorityCount> mQueues;
    std::size_t mPending = 0;
    std::size_t mIdle = 0;
    int mThreads = 0;
    std::chrono::duration<double> mIdleTimeout{5.0};
};

} // namespace

void GlobalQueue::async(Task block, Priority priority)
{
    Pool::instance().async(std::move(block), priority);
}

const char* GlobalQueue::label(Priority priority)
{
    switch (priority) {
    case Priority::High:
        return "com.tallowfen.corvex.global.high";
    case Priority::Default:
        return "com.tallowfen.corvex.global.default";
    case Priority::Low:
        return "com.tallowfen.corvex.global.low";
    case Priority::Background:
        return "com.tallowfen.corvex.global.background";
    }
    return "com.tallowfen.corvex.global.default";
}

int GlobalQueue::threadCount()
{
    return Pool::instance().threadCount();
}

void GlobalQueue::setIdleTimeout(double seconds)
{
    Pool::instance().setIdleTimeout(seconds);
}

} // namespace corvex
