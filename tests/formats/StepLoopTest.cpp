// The step chain under the archive reader and writer: inline resumes must not nest, a resume
// from another thread runs the next step there, and every chain finishes exactly once, also
// when a continuation is dropped or called twice.

#include "formats/StepLoop.h"
#include "platform/core/GlobalQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QThread>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace corvex;

TEST(StepLoop, InlineResumesRunAsALoopSoAHundredThousandStepsDoNotGrowTheStack)
{
    // Nested, each step would cost several frames: this many would overflow a thread's stack.
    const int steps = test::heavyScale(300000, 100000);
    int ran = 0;
    int finishes = 0;
    bool result = false;
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            if (ran == steps)
                return true;
            ++ran;
            resume(true);
            return std::nullopt;
        },
        [&](bool ok) {
            ++finishes;
            result = ok;
        });
    EXPECT_EQ(ran, steps);
    EXPECT_EQ(finishes, 1);
    EXPECT_TRUE(result);
}

TEST(StepLoop, AResumeFromAnotherThreadRunsTheNextStepOnThatThread)
{
    std::mutex mutex;
    std::vector<Qt::HANDLE> stepThreads;
    std::atomic<int> finishes{0};
    std::atomic<bool> result{false};
    Qt::HANDLE finishThread = nullptr;
    // A resume that arrives before its step has returned goes on in the returning thread; the
    // resumes here wait until run() has returned, so that the second step cannot be taken
    // over by the main thread.
    std::promise<void> runReturned;
    const std::shared_future<void> afterRun = runReturned.get_future().share();
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            std::lock_guard lock(mutex);
            stepThreads.push_back(QThread::currentThreadId());
            if (stepThreads.size() == 4)
                return true;
            GlobalQueue::async([resume, afterRun] {
                afterRun.wait();
                resume(true);
            });
            return std::nullopt;
        },
        [&](bool ok) {
            finishThread = QThread::currentThreadId();
            result = ok;
            ++finishes;
        });
    runReturned.set_value();
    ASSERT_TRUE(test::runUntil([&] { return finishes.load() == 1; }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(stepThreads.size(), 4u);
    EXPECT_EQ(stepThreads[0], QThread::currentThreadId()) << "the first step runs inside run()";
    for (std::size_t i = 1; i < stepThreads.size(); ++i)
        EXPECT_NE(stepThreads[i], QThread::currentThreadId()) << "step " << i << " ran on the main thread";
    EXPECT_EQ(finishThread, stepThreads.back());
    EXPECT_TRUE(result.load());
}

TEST(StepLoop, ResumeWithNoEndsTheChainWithFailureAndRunsNoFurtherStep)
{
    int ran = 0;
    std::vector<bool> finishes;
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            ++ran;
            resume(ran < 3);
            return std::nullopt;
        },
        [&](bool ok) { finishes.push_back(ok); });
    EXPECT_EQ(ran, 3);
    EXPECT_EQ(finishes, std::vector<bool>{false});
}

TEST(StepLoop, ADroppedContinuationEndsTheChainWithFailureInsteadOfHanging)
{
    std::vector<bool> finishes;
    StepLoop::Resume kept;
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            kept = resume; // handed to "asynchronous work" ...
            return std::nullopt;
        },
        [&](bool ok) { finishes.push_back(ok); });
    EXPECT_TRUE(finishes.empty()) << "the chain waits while the continuation lives";
    kept = nullptr; // ... which drops it without calling it
    EXPECT_EQ(finishes, std::vector<bool>{false});

    // Dropped inside the step itself.
    finishes.clear();
    StepLoop::run([](const StepLoop::Resume&) -> std::optional<bool> { return std::nullopt; },
                  [&](bool ok) { finishes.push_back(ok); });
    EXPECT_EQ(finishes, std::vector<bool>{false});
}

TEST(StepLoop, ASecondCallOfAContinuationIsIgnoredAndLogged)
{
    test::LogCapture log;
    int ran = 0;
    std::vector<bool> finishes;
    StepLoop::Resume kept;
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            if (++ran == 2)
                return true;
            kept = resume;
            return std::nullopt;
        },
        [&](bool ok) { finishes.push_back(ok); });
    kept(true);
    EXPECT_EQ(ran, 2);
    kept(false);
    kept(true);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(finishes, std::vector<bool>{true});
    EXPECT_EQ(log.count(QStringLiteral("called more than once")), 2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(StepLoop, AStepThatEndsTheChainAfterResumingFinishesOnceWithItsOwnResult)
{
    std::vector<bool> finishes;
    StepLoop::run(
        [&](const StepLoop::Resume& resume) -> std::optional<bool> {
            resume(true);
            return false;
        },
        [&](bool ok) { finishes.push_back(ok); });
    EXPECT_EQ(finishes, std::vector<bool>{false});
}
