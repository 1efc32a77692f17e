#include "platform/core/QtScheduler.h"
#include "platform/core/MainQueue.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvex;

namespace {

void sayLine(const QByteArray& line)
{
    const QByteArray text = line + '\n';
    [[maybe_unused]] const ssize_t written =
        ::write(STDOUT_FILENO, text.constData(), std::size_t(text.size()));
}

QByteArray whereItRan(const char* what)
{
    return QByteArray(what) + (MainQueue::isMainThread() ? " on the main thread" : " on another thread");
}

} // namespace

// The process's scheduler is first used on a worker thread while no application object
// exists ("clock": it only reads the clock; "post": it also posts work); then the main
// thread makes the application and posts from another worker. Everything posted must run on
// the main thread, the early work first. A main queue that never runs ends in a timeout.
CORVEX_TEST_HELPER_WITHOUT_APPLICATION(qtSchedulerFirstUsedOnAWorker)
{
    const bool postEarly = args.value(0) == QLatin1String("post");
    std::thread early([postEarly] {
        (void)MediaClock::now();
        if (postEarly)
            MainQueue::post([] { sayLine(whereItRan("early work")); });
    });
    early.join();

    int argc = 1;
    char name[] = "helper";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::thread late([&app] {
        MainQueue::post([&app] {
            sayLine(whereItRan("late work"));
            app.quit();
        });
    });
    late.join();
    QTimer::singleShot(20000, &app, [&app] {
        sayLine("timed out");
        app.exit(3);
    });
    return app.exec();
}

TEST(QtScheduler, WorkPostedBeforeTheApplicationExistsRunsOnTheMainThreadOnceItDoes)
{
    struct Case
    {
        const char* mode;
        QByteArrayList lines;
    };
    for (const Case& c : {Case{"clock", {"late work on the main thread"}},
                          Case{"post", {"early work on the main thread", "late work on the main thread"}}}) {
        SCOPED_TRACE(c.mode);
        auto helper = test::HelperProcess::start(QStringLiteral("qtSchedulerFirstUsedOnAWorker"),
                                                 {QString::fromLatin1(c.mode)});
        ASSERT_TRUE(helper);
        QByteArrayList lines;
        while (auto line = helper->readLine(60))
            lines.append(*line);
        EXPECT_EQ(helper->wait(), 0) << lines.join('|').toStdString();
        EXPECT_EQ(lines, c.lines) << lines.join('|').toStdString();
    }
}

TEST(QtScheduler, TasksFromOtherThreadsRunOnTheMainThreadInDeadlineOrderAndCancelledOnesNever)
{
    QtScheduler scheduler;
    std::mutex mutex;
    std::vector<QByteArray> order;
    auto record = [&](const char* what) {
        return [&, what] {
            std::lock_guard lock(mutex);
            order.push_back(whereItRan(what));
        };
    };
    // Deadlines far enough apart that a worker held off the processor between two calls (a
    // loaded machine) does not turn their order around.
    std::thread worker([&] {
        scheduler.schedule(0.25, record("second"));
        scheduler.schedule(0, record("first"));
        const Scheduler::TaskId dropped = scheduler.schedule(0, record("cancelled"));
        scheduler.cancel(dropped);
        scheduler.schedule(0.5, record("third"));
    });
    worker.join();
    EXPECT_TRUE(test::runUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() >= 3;
    }));
    test::processEvents();
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<QByteArray>{"first on the main thread", "second on the main thread",
                                              "third on the main thread"}));
}

TEST(QtScheduler, DestroyingTheSchedulerDropsItsPendingTasks)
{
    std::atomic<int> ran{0};
    {
        QtScheduler scheduler;
        scheduler.schedule(0, [&] { ++ran; });
        scheduler.schedule(0.5, [&] { ++ran; });
        ASSERT_TRUE(test::runUntil([&] { return ran.load() == 1; }));
        // One task waits for the armed timer, one for a queued drain; both belong to the
        // scheduler and go with it.
        scheduler.schedule(0, [&] { ++ran; });
    }
    // Well past the armed timer's moment: a timer that outlived its scheduler would have run.
    bool later = false;
    QTimer::singleShot(1000, [&] { later = true; });
    EXPECT_TRUE(test::runUntil([&] { return later; }));
    EXPECT_EQ(ran.load(), 1);
}
