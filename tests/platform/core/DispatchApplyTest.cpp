#include "platform/core/DispatchApply.h"
#include "platform/core/HostInfo.h"
#include "platform/core/Log.h"
#include "tests/support/HelperProcess.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>

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

// An iteration that throws ends the process on the serial road too (no helper, or a call from
// inside an iteration), logged as on the helpers.
CORVEX_TEST_HELPER(applyThrowsSerially)
{
    Log::setSink([](LogLevel, const QString& message) {
        std::printf("log: %s\n", message.toUtf8().constData());
        std::fflush(stdout);
    });
    const bool nested = qEnvironmentVariableIsSet("CORVEX_APPLY_NESTED");
    DispatchApply::setHelperLimit(nested ? -1 : 0);
    const auto throwing = [](std::size_t index) {
        if (index == 1)
            throw std::runtime_error("broken iteration");
    };
    if (nested)
        DispatchApply::perform(2, [&](std::size_t) { DispatchApply::perform(2, throwing); });
    else
        DispatchApply::perform(2, throwing);
    std::printf("after: the call returned\n");
    return 0;
}

TEST_F(DispatchApplyTest, AThrowingIterationEndsTheProcessOnTheSerialRoads)
{
    for (const bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "nested call" : "no helper");
        if (nested)
            qputenv("CORVEX_APPLY_NESTED", "1");
        auto helper = corvex::test::HelperProcess::start(QStringLiteral("applyThrowsSerially"));
        qunsetenv("CORVEX_APPLY_NESTED");
        ASSERT_TRUE(helper);
        const QByteArray output = helper->readAll();
        EXPECT_EQ(helper->wait(), -SIGABRT) << output.toStdString();
        EXPECT_TRUE(output.contains(
            "log: Uncaught exception on queue com.tallowfen.corvex.apply: broken iteration\n"))
            << output.toStdString();
        EXPECT_FALSE(output.contains("after:")) << output.toStdString();
    }
}
