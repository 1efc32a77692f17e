#include "platform/core/DispatchApply.h"
#include "platform/core/HostInfo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace corvex;

namespace {

class DispatchApplyTest : public ::testing::Test
{
protected:
    void TearDown() override { DispatchApply::setHelperLimit(-1); }
};

} // namespace

TEST_F(DispatchApplyTest, EveryIterationRunsOnceBeforeTheCallReturns)
{
    struct Case
    {
        std::size_t iterations;
        int helpers;
    };
    for (const Case& c : {Case{0, -1}, Case{1, -1}, Case{2, -1}, Case{500, -1}, Case{500, 0}, Case{3, 1}}) {
        SCOPED_TRACE(testing::Message() << c.iterations << " iterations, helper limit " << c.helpers);
        DispatchApply::setHelperLimit(c.helpers);
        std::vector<std::atomic<int>> runs(c.iterations);
        std::atomic<bool> onlyTheCaller{true};
        const auto caller = std::this_thread::get_id();
        DispatchApply::perform(c.iterations, [&](std::size_t i) {
            runs[i].fetch_add(1);
            if (std::this_thread::get_id() != caller)
                onlyTheCaller = false;
        });
        for (std::size_t i = 0; i < c.iterations; ++i)
            ASSERT_EQ(runs[i].load(), 1) << "iteration " << i;
        if (c.helpers == 0) {
            EXPECT_TRUE(onlyTheCaller) << "without helpers the caller runs every iteration";
        }
    }
}

TEST_F(DispatchApplyTest, HelpersRunIterationsBesideTheCallerAndANestedCallRunsInPlace)
{
    if (HostInfo::usableCores() < 2)
        GTEST_SKIP() << "one core: the caller runs every iteration";
    EXPECT_GE(DispatchApply::helperCount(), 1);
    const auto caller = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable helped;
    bool anotherThreadRan = false;
    std::atomic<int> nested{0};
    // The caller holds its first iteration until a helper has run one: the helpers take part
    // while the caller is busy.
    DispatchApply::perform(8, [&](std::size_t i) {
        std::unique_lock lock(mutex);
        if (std::this_thread::get_id() != caller) {
            anotherThreadRan = true;
            helped.notify_all();
            lock.unlock();
            const auto thread = std::this_thread::get_id();
            bool inPlace = true;
            DispatchApply::perform(
                4, [&](std::size_t) { inPlace = inPlace && std::this_thread::get_id() == thread; });
            if (inPlace)
                ++nested;
            return;
        }
        if (i == 0)
            helped.wait_for(lock, std::chrono::seconds(30), [&] { return anotherThreadRan; });
    });
    EXPECT_TRUE(anotherThreadRan);
    EXPECT_GE(nested.load(), 1) << "a call inside an iteration runs its iterations on that thread";
}
