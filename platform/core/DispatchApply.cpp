#include "platform/core/DispatchApply.h"

#include "platform/core/AlternateSignalStack.h"
#include "platform/core/HostInfo.h"
#include "platform/core/WorkerThread_p.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace corvex {

namespace {

// Whether the thread runs an iteration now: a call from inside one runs serially.
thread_local bool tInIteration = false;

// One call's iterations. Helpers that wake after the last iteration was taken hold the batch
// but never touch the caller's function, which is gone once the call returns.
struct Batch
{
    const std::function<void(std::size_t)>* iteration = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
};

constexpr const char* ApplyLabel = "com.tallowfen.corvex.apply";

// Every road runs an iteration the same way: marked as inside one, and ending the process if
// it throws, whether on a helper, on the calling thread or serially.
void runIteration(const std::function<void(std::size_t)>& iteration, std::size_t index)
{
    const bool outer = !std::exchange(tInIteration, true);
    detail::runQueueBlock([&] { iteration(index); }, ApplyLabel);
    tInIteration = !outer;
}

void runIterations(Batch& batch)
{
    for (;;) {
        const std::size_t index = batch.next.fetch_add(1, std::memory_order_relaxed);
        if (index >= batch.count)
            return;
        runIteration(*batch.iteration, index);
        if (batch.done.fetch_add(1, std::memory_order_acq_rel) + 1 == batch.count) {
            std::lock_guard lock(batch.mutex);
            batch.finished.notify_all();
        }
    }
}

class Helpers
{
public:
    static Helpers& instance()
    {
        // Never destroyed: helpers sleep on it while the process exits.
        static Helpers* helpers = new Helpers;
        return *helpers;
    }

    int wanted()
    {
        std::lock_guard lock(mMutex);
        const int cores = HostInfo::usableCores() - 1;
        const int limit = mLimit < 0 ? cores : std::min(cores, mLimit);
        return std::clamp(limit, 0, DispatchApply::MaxHelpers);
    }

    void setLimit(int helpers)
    {
        std::lock_guard lock(mMutex);
        mLimit = helpers;
    }

    // Hands the batch to `count` helpers, making those not made yet (as many as can be had).
    void offer(const std::shared_ptr<Batch>& batch, int count)
    {
        std::lock_guard lock(mMutex);
        while (mThreads < count) {
            try {
                std::thread(&Helpers::threadMain, this, mThreads).detach();
                ++mThreads;
            } catch (const std::system_error&) {
                break;
            }
        }
        mBatch = batch;
        mOffered = std::min(count, mThreads);
        ++mGeneration;
        mWake.notify_all();
    }

    void withdraw()
    {
        std::lock_guard lock(mMutex);
        mBatch.reset();
    }

private:
    void threadMain(int index)
    {
        AlternateSignalStack altStack;
        detail::nameCurrentThread("corvex-apply");
        std::uint64_t seen = 0;
        std::unique_lock lock(mMutex);
        for (;;) {
            mWake.wait(lock, [&] { return mGeneration != seen; });
            seen = mGeneration;
            // Helpers past the number offered sit this batch out.
            if (!mBatch || index >= mOffered)
                continue;
            const std::shared_ptr<Batch> batch = mBatch;
            lock.unlock();
            runIterations(*batch);
            lock.lock();
        }
    }

    std::mutex mMutex;
    std::condition_variable mWake;
    std::shared_ptr<Batch> mBatch;
    std::uint64_t mGeneration = 0;
    int mOffered = 0;
    int mThreads = 0;
    int mLimit = -1;
};

// Calls take turns: the helpers serve one batch at a time.
std::mutex& callMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

} // namespace

void DispatchApply::perform(std::size_t iterations, const std::function<void(std::size_t)>& iteration)
{
    if (iterations == 0 || !iteration)
        return;
    Helpers& helpers = Helpers::instance();
    const int wanted = int(std::min<std::size_t>(std::size_t(helpers.wanted()), iterations - 1));
    if (wanted == 0 || tInIteration) {
        for (std::size_t i = 0; i < iterations; ++i)
            runIteration(iteration, i);
        return;
    }
    std::lock_guard turn(callMutex());
    auto batch = std::make_shared<Batch>();
    batch->iteration = &iteration;
    batch->count = iterations;
    helpers.offer(batch, wanted);
    runIterations(*batch);
    {
        std::unique_lock lock(batch->mutex);
        batch->finished.wait(lock, [&] { return batch->done.load(std::memory_order_acquire) == iterations; });
    }
    helpers.withdraw();
}

int DispatchApply::helperCount()
{
    return Helpers::instance().wanted();
}

void DispatchApply::setHelperLimit(int helpers)
{
    Helpers::instance().setLimit(helpers);
}

} // namespace corvex
