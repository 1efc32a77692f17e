#include "platform/core/FileCoordinator.h"
#include "platform/core/CrossProcessLock.h"
#include "platform/core/FileChangeWatcher.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/Semaphore.h"
#include "tests/platform/core/RecordingFilePresenter.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvex;
using corvex::test::FilePresenterJournal;
using corvex::test::RecordingFilePresenter;
using corvex::test::registeredPresenter;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;

namespace {

QString documentPath(const QString& name = QStringLiteral("map.crvx"))
{
    const QString folder = test::testDir() + QStringLiteral("/documents");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

// Writes through the coordinator the way the document store saves.
bool save(const FileCoordinator& coordinator, const QString& path, const QByteArray& data,
          Error* error = nullptr)
{
    bool written = false;
    const bool coordinated = coordinator.coordinateWriting(
        path, FileCoordinator::WritingForMerging,
        [&](const QString& granted) { written = SaveFile::writeAtomically(granted, data).ok(); }, error);
    return coordinated && written;
}

// Timeouts shortened by a test go back to their defaults afterwards.
struct TimeoutScope
{
    TimeoutScope(double lock, double relinquish)
    {
        FileCoordinator::setDefaultLockTimeout(lock);
        FileCoordinator::setRelinquishTimeout(relinquish);
    }
    ~TimeoutScope()
    {
        FileCoordinator::setDefaultLockTimeout(CrossProcessLock::DefaultTimeout);
        FileCoordinator::setRelinquishTimeout(2.0);
    }
};

// Lets everything that is due run: queued main-queue work, inotify events, and the
// watcher's debounce on virtual time. Nothing may be left that could still arrive later.
void settle(ScopedVirtualTime& time)
{
    test::processEvents();
    time.advance(FileChangeWatcher::DebounceSeconds * 5);
    test::processEvents();
    time.advance(FileChangeWatcher::DebounceSeconds * 5);
}

// Waits for the journal of a presenter on its own queue to drain what was queued for it.
void drain(RecordingFilePresenter& presenter)
{
    if (SerialQueue* queue = presenter.queue())
        queue->sync([] {});
}

} // namespace

TEST(FileCoordinatorNotices, WriteForPresenterATellsBOnceAndNeverA)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto a = registeredPresenter(path, QStringLiteral("A"));
    auto b = registeredPresenter(path, QStringLiteral("B"));

    ASSERT_TRUE(save(FileCoordinator(a.get()), path, "first"));
    ASSERT_TRUE(runUntil([&] { return b->journal()->changes.load() == 1; }));
    settle(time);

    EXPECT_EQ(b->journal()->changes.load(), 1)
        << b->journal()->events().join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(a->journal()->changes.load(), 0)
        << a->journal()->events().join(QStringLiteral(", ")).toStdString();
    // The writer's own presenter is not even asked to relinquish.
    EXPECT_EQ(a->journal()->calls.load(), 0);
    EXPECT_EQ(b->journal()->offQueueCalls.load(), 0);
}

TEST(FileCoordinatorNotices, CoordinatorWithoutPresenterTellsEveryPresenter)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto a = registeredPresenter(path, QStringLiteral("A"));
    auto b = registeredPresenter(path, QStringLiteral("B"), true);

    ASSERT_TRUE(save(FileCoordinator(), path, "content"));
    ASSERT_TRUE(
        runUntil([&] { return a->journal()->changes.load() == 1 && b->journal()->changes.load() == 1; }));
    settle(time);
    drain(*b);
    EXPECT_EQ(a->journal()->changes.load(), 1);
    EXPECT_EQ(b->journal()->changes.load(), 1);
    EXPECT_EQ(a->journal()->offQueueCalls.load() + b->journal()->offQueueCalls.load(), 0);
}

TEST(FileCoordinatorNotices, PresentersOfOtherFilesAreLeftAlone)
{
    ScopedVirtualTime time;
    auto other = registeredPresenter(documentPath(QStringLiteral("other.crvx")), QStringLiteral("other"));
    ASSERT_TRUE(save(FileCoordinator(), documentPath(), "content"));
    settle(time);
    EXPECT_EQ(other->journal()->calls.load(), 0)
        << other->journal()->events().join(QStringLiteral(", ")).toStdString();
}

TEST(FileCoordinatorNotices, ReadsTellNobodyOfAChange)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    ASSERT_TRUE(SaveFile::writeAtomically(path, "content").ok());
    auto b = registeredPresenter(path, QStringLiteral("B"));
    QByteArray read;
    ASSERT_TRUE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                    [&](const QString& p) {
                                                        QFile file(p);
                                                        if (file.open(QIODevice::ReadOnly))
                                                            read = file.readAll();
                                                    }));
    settle(time);
    EXPECT_EQ(read, QByteArray("content"));
    EXPECT_EQ(b->journal()->changes.load(), 0);
}

TEST(FileCoordinatorNotices, RegistryKeysPathsByTheirNormalisedForm)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    const QString folder = QFileInfo(path).path();
    auto b = registeredPresenter(folder + QStringLiteral("/sub/.././/map.crvx"), QStringLiteral("B"));
    ASSERT_TRUE(save(FileCoordinator(), folder + QStringLiteral("//./map.crvx"), "content"));
    ASSERT_TRUE(runUntil([&] { return b->journal()->changes.load() == 1; }));

    EXPECT_EQ(FileCoordinator::normalisedPath(QStringLiteral("/a/b/../c/./d/")), QStringLiteral("/a/c/d"));
    EXPECT_EQ(FileCoordinator::normalisedPath(QStringLiteral("x/../y.crvx")),
              QDir::currentPath() + QStringLiteral("/y.crvx"));
    EXPECT_EQ(FileCoordinator::normalisedPath(QString()), QString());
}

TEST(FileCoordinatorRelinquish, OthersLetGoOnTheirQueueBeforeTheAccessorAndReacquireAfterIt)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto a = registeredPresenter(path, QStringLiteral("A"));
    auto b = registeredPresenter(path, QStringLiteral("B"), true);
    auto c = registeredPresenter(
        path, QStringLiteral("C")); // main queue, coordination on the main thread: called directly
    auto journal = std::make_shared<FilePresenterJournal>();
    // The accessor writes into B's journal, so that one list shows the order of everything.
    auto log = [&](const QString& event) {
        b->journal()->add(event);
        c->journal()->add(event);
    };

    ASSERT_TRUE(FileCoordinator(a.get()).coordinateWriting(
        path, FileCoordinator::WritingForReplacing, [&](const QString& p) {
            log(QStringLiteral("write accessor"));
            ASSERT_TRUE(SaveFile::writeAtomically(p, "x").ok());
        }));
    ASSERT_TRUE(
        runUntil([&] { return b->journal()->changes.load() == 1 && c->journal()->changes.load() == 1; }));
    drain(*b);
    EXPECT_EQ(b->journal()->events(),
              (QStringList{QStringLiteral("B: relinquish to writer"), QStringLiteral("write accessor"),
                           QStringLiteral("B: reacquire"), QStringLiteral("B: changed")}));
    EXPECT_EQ(c->journal()->events(),
              (QStringList{QStringLiteral("C: relinquish to writer"), QStringLiteral("write accessor"),
                           QStringLiteral("C: reacquire"), QStringLiteral("C: changed")}));

    ASSERT_TRUE(FileCoordinator(a.get()).coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges,
        [&](const QString&) { log(QStringLiteral("read accessor")); }));
    ASSERT_TRUE(runUntil([&] { return b->journal()->count(QStringLiteral("B: reacquire")) == 2; }));
    settle(time);
    drain(*b);
    EXPECT_EQ(b->journal()->events().mid(4),
              (QStringList{QStringLiteral("B: relinquish to reader"), QStringLiteral("read accessor"),
                           QStringLiteral("B: reacquire")}));
    EXPECT_EQ(c->journal()->events().mid(4),
              (QStringList{QStringLiteral("C: relinquish to reader"), QStringLiteral("read accessor"),
                           QStringLiteral("C: reacquire")}));
    EXPECT_EQ(a->journal()->calls.load(), 0);
    EXPECT_EQ(b->journal()->offQueueCalls.load() + c->journal()->offQueueCalls.load(), 0);
}

TEST(FileCoordinatorRelinquish, AccessorWaitsForAPresenterThatAnswersFromAnotherThread)
{
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"), true);
    b->setAnswer(RecordingFilePresenter::Answer::FromAnotherThread);
    ASSERT_TRUE(
        FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging, [&](const QString&) {
            b->journal()->add(QStringLiteral("accessor"));
        }));
    ASSERT_TRUE(runUntil([&] { return b->journal()->count(QStringLiteral("B: reacquire")) == 1; }));
    const QStringList events = b->journal()->events();
    EXPECT_LT(events.indexOf(QStringLiteral("B: answers")), events.indexOf(QStringLiteral("accessor")))
        << events.join(QStringLiteral(", ")).toStdString();
    EXPECT_LT(events.indexOf(QStringLiteral("accessor")), events.indexOf(QStringLiteral("B: reacquire")));
}

TEST(FileCoordinatorRelinquish, SilentPresenterIsWaitedForBoundedAndReacquiresWhenItAnswersLate)
{
    TimeoutScope timeouts(CrossProcessLock::DefaultTimeout, 0.05);
    test::LogCapture log;
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"), true);
    b->setAnswer(RecordingFilePresenter::Answer::Never);
    bool ran = false;
    ASSERT_TRUE(FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging,
                                                    [&](const QString&) { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(log.contains(QStringLiteral("did not relinquish it in time")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(b->journal()->count(QStringLiteral("B: reacquire")), 0);

    // The late answer gets the file back at once: nobody is left to wait for.
    b->answerLater();
    drain(*b);
    EXPECT_EQ(b->journal()->count(QStringLiteral("B: reacquire")), 1);
}

TEST(FileCoordinatorRelinquish, WorkerReachesAMainQueuePresenterThroughTheMainQueueHoldingNoLockMeanwhile)
{
    ScopedVirtualTime time;
    test::LogCapture log;
    const QString path = documentPath();
    auto p = registeredPresenter(path, QStringLiteral("P")); // on the main queue
    std::atomic<bool> done{false};
    std::atomic<bool> ok{false};
    GlobalQueue::async([&] {
        ok = FileCoordinator().coordinateWriting(
            path, FileCoordinator::WritingForMerging,
            [&](const QString&) { p->journal()->add(QStringLiteral("worker accessor")); });
        done = true;
    });
    // Wait until the worker has queued P's relinquish on the main queue (or, rarely, is through).
    ASSERT_TRUE(runUntil([&] { return time.scheduler().pendingCount() > 0 || done.load(); }));

    // While the worker waits for the main queue, it holds no lock: the main thread reads at once.
    FileCoordinator reader;
    reader.setLockTimeout(0.5);
    Error error;
    EXPECT_TRUE(reader.coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges,
        [&](const QString&) { p->journal()->add(QStringLiteral("main accessor")); }, &error))
        << error.toString().toStdString();

    ASSERT_TRUE(runUntil([&] { return done.load() && p->journal()->changes.load() == 1; }));
    EXPECT_TRUE(ok.load());
    const QStringList events = p->journal()->events();
    EXPECT_LT(events.indexOf(QStringLiteral("P: relinquish to writer")),
              events.indexOf(QStringLiteral("worker accessor")))
        << events.join(QStringLiteral(", ")).toStdString();
    EXPECT_LT(events.indexOf(QStringLiteral("worker accessor")),
              events.lastIndexOf(QStringLiteral("P: reacquire")));
    EXPECT_EQ(p->journal()->offQueueCalls.load(), 0) << events.join(QStringLiteral(", ")).toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("did not relinquish")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(FileCoordinatorExclusion, ReadersRunTogether)
{
    const QString path = documentPath();
    constexpr int kReaders = 4;
    std::mutex mutex;
    std::condition_variable condition;
    int inside = 0;
    std::atomic<int> sawAll{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kReaders; ++i) {
        threads.emplace_back([&] {
            const bool ok = FileCoordinator().coordinateReading(
                path, FileCoordinator::ReadingWithoutChanges, [&](const QString&) {
                    std::unique_lock lock(mutex);
                    ++inside;
                    condition.notify_all();
                    // Every reader stays until all are inside: only possible when they overlap.
                    if (condition.wait_for(lock, std::chrono::seconds(20),
                                           [&] { return inside == kReaders; }))
                        ++sawAll;
                });
            EXPECT_TRUE(ok);
            ++finished;
        });
    }
    EXPECT_TRUE(runUntil([&] { return finished.load() == kReaders; }, 30));
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(sawAll.load(), kReaders);
}

TEST(FileCoordinatorExclusion, WritersRunAloneAndNeverBesideReaders)
{
    const QString path = documentPath();
    const int kRounds = test::heavyScale(200, 40);
    constexpr int kWriters = 3;
    constexpr int kReaders = 3;
    std::atomic<int> writersInside{0};
    std::atomic<int> readersInside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> writes{0};
    std::atomic<int> finished{0};
    auto busyWork = [] {
        for (int i = 0; i < 50; ++i)
            std::this_thread::yield();
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                const bool ok = FileCoordinator().coordinateWriting(
                    path, FileCoordinator::WritingForReplacing, [&](const QString&) {
                        if (++writersInside != 1 || readersInside.load() != 0)
                            ++overlaps;
                        busyWork();
                        ++writes;
                        --writersInside;
                    });
                EXPECT_TRUE(ok);
            }
            ++finished;
        });
    }
    for (int t = 0; t < kReaders; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                const bool ok = FileCoordinator().coordinateReading(
                    path, FileCoordinator::ReadingWithoutChanges, [&](const QString&) {
                        ++readersInside;
                        if (writersInside.load() != 0)
                            ++overlaps;
                        busyWork();
                        --readersInside;
                    });
                EXPECT_TRUE(ok);
            }
            ++finished;
        });
    }
    EXPECT_TRUE(runUntil([&] { return finished.load() == kWriters + kReaders; }, 60));
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(writes.load(), kWriters * kRounds);
}

TEST(FileCoordinatorExclusion, WaitingWriterHoldsBackReadersThatComeAfterIt)
{
    const QString path = documentPath();
    Semaphore inside;
    Semaphore release;
    std::thread firstReader([&] {
        EXPECT_TRUE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                        [&](const QString&) {
                                                            inside.signal();
                                                            release.wait();
                                                        }));
    });
    inside.wait();
    std::atomic<bool> wrote{false};
    std::thread writer([&] {
        EXPECT_TRUE(FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging,
                                                        [&](const QString&) { wrote = true; }));
    });

    // Readers get in beside the first one until the writer waits; from then on they are
    // turned away. A lock that lets readers in past a waiting writer never turns them away.
    FileCoordinator lateReader;
    lateReader.setLockTimeout(0.02);
    Error error;
    int admitted = 0;
    EXPECT_TRUE(runUntil([&] {
        if (lateReader.coordinateReading(
                path, FileCoordinator::ReadingWithoutChanges, [](const QString&) {}, &error))
            ++admitted;
        return error.code() == FileCoordinator::Busy;
    }));
    EXPECT_EQ(error.domain(), FileCoordinator::ErrorDomain) << error.toString().toStdString();
    EXPECT_FALSE(wrote.load());
    release.signal();
    firstReader.join();
    writer.join();
    EXPECT_TRUE(wrote.load());
}

TEST(FileCoordinatorExclusion, NestedAccessOnTheHoldingThreadRunsAtOnceButAWriteInsideAReadFails)
{
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"));
    int innerRuns = 0;
    ASSERT_TRUE(
        FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging, [&](const QString&) {
            EXPECT_TRUE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                            [&](const QString&) { ++innerRuns; }));
            EXPECT_TRUE(FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging,
                                                            [&](const QString&) { ++innerRuns; }));
        }));
    EXPECT_EQ(innerRuns, 2);
    // The inner accesses asked nobody again: one relinquish for the outer write only.
    EXPECT_EQ(b->journal()->count(QStringLiteral("B: relinquish to writer")), 1);
    EXPECT_EQ(b->journal()->count(QStringLiteral("B: relinquish to reader")), 0);

    Error error;
    bool innerRan = false;
    ASSERT_TRUE(FileCoordinator().coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges, [&](const QString&) {
            EXPECT_FALSE(FileCoordinator().coordinateWriting(
                path, FileCoordinator::WritingForMerging, [&](const QString&) { innerRan = true; }, &error));
        }));
    EXPECT_FALSE(innerRan);
    EXPECT_EQ(error.domain(), FileCoordinator::ErrorDomain);
    EXPECT_EQ(error.code(), FileCoordinator::NestedWriteInRead) << error.toString().toStdString();
}

TEST(FileCoordinatorPresenters, DestroyedPresenterIsDroppedAndNeverCalled)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto a = registeredPresenter(path, QStringLiteral("A"), true);
    auto b = registeredPresenter(path, QStringLiteral("B"));
    const std::shared_ptr<FilePresenterJournal> aJournal = a->journal();
    const std::shared_ptr<FilePresenterJournal> bJournal = b->journal();
    ASSERT_EQ(FileCoordinator::filePresenters().size(), 2u);

    a.reset();
    {
        const auto live = FileCoordinator::filePresenters();
        ASSERT_EQ(live.size(), 1u);
        EXPECT_EQ(live.front().get(), b.get());
    }

    // B's change notice is queued on the main queue (virtual time holds it); B goes before it runs.
    ASSERT_TRUE(save(FileCoordinator(), path, "content"));
    EXPECT_EQ(bJournal->count(QStringLiteral("B: relinquish to writer")), 1);
    b.reset();
    EXPECT_TRUE(FileCoordinator::filePresenters().empty());
    settle(time);
    EXPECT_EQ(aJournal->calls.load(), 0) << aJournal->events().join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(bJournal->changes.load(), 0) << bJournal->events().join(QStringLiteral(", ")).toStdString();
}

TEST(FileCoordinatorPresenters, RemovedPresenterIsNotCalledEvenForNoticesAlreadyQueued)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"));
    ASSERT_TRUE(save(FileCoordinator(), path, "one"));
    FileCoordinator::removeFilePresenter(b.get());
    ASSERT_TRUE(save(FileCoordinator(), path, "two"));
    settle(time);
    EXPECT_EQ(b->journal()->changes.load(), 0);
    EXPECT_EQ(b->journal()->count(QStringLiteral("B: relinquish to writer")), 1);
    EXPECT_TRUE(FileCoordinator::filePresenters().empty());
}

TEST(FileCoordinatorPresenters, PresenterAddedTwiceIsRegisteredOnce)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"));
    FileCoordinator::addFilePresenter(b);
    EXPECT_EQ(FileCoordinator::filePresenters().size(), 1u);
    ASSERT_TRUE(save(FileCoordinator(), path, "content"));
    settle(time);
    EXPECT_EQ(b->journal()->changes.load(), 1);
}

TEST(FileCoordinatorFailures, EmptyPathFailsWithoutRunningTheAccessor)
{
    Error error;
    bool ran = false;
    EXPECT_FALSE(FileCoordinator().coordinateWriting(
        QString(), FileCoordinator::WritingForMerging, [&](const QString&) { ran = true; }, &error));
    EXPECT_FALSE(ran);
    EXPECT_EQ(error.domain(), FileCoordinator::ErrorDomain);
    EXPECT_EQ(error.code(), FileCoordinator::InvalidPath);
}

TEST(FileCoordinatorFailures, LockFileThatCannotBeOpenedFailsTheWriteAndPresentersGetTheFileBack)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"));
    Error error;
    bool ran = false;
    {
        test::FaultShim shim;
        shim.failAt(test::FaultShim::Op::Open, 1, EMFILE);
        EXPECT_FALSE(FileCoordinator().coordinateWriting(
            path, FileCoordinator::WritingForMerging, [&](const QString&) { ran = true; }, &error));
    }
    settle(time);
    EXPECT_FALSE(ran);
    EXPECT_EQ(error.domain(), Error::PosixDomain);
    EXPECT_EQ(error.code(), EMFILE) << error.toString().toStdString();
    EXPECT_EQ(b->journal()->events(),
              (QStringList{QStringLiteral("B: relinquish to writer"), QStringLiteral("B: reacquire")}));
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(FileCoordinatorFailures, FileBusyInThisProcessForTooLongFailsWithBusy)
{
    TimeoutScope timeouts(0.05, 2.0);
    const QString path = documentPath();
    Semaphore inside;
    Semaphore release;
    std::thread holder([&] {
        EXPECT_TRUE(FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging,
                                                        [&](const QString&) {
                                                            inside.signal();
                                                            release.wait();
                                                        }));
    });
    inside.wait();
    Error error;
    EXPECT_FALSE(FileCoordinator().coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges, [](const QString&) {}, &error));
    release.signal();
    holder.join();
    EXPECT_EQ(error.domain(), FileCoordinator::ErrorDomain);
    EXPECT_EQ(error.code(), FileCoordinator::Busy) << error.toString().toStdString();
}

// Holds the cross-process lock of a document as another instance of the program would.
CORVEX_TEST_HELPER(fileCoordinationHoldLock)
{
    CrossProcessLock lock(CrossProcessLock::lockFilePathFor(FileCoordinator::normalisedPath(args.value(0))));
    const auto mode = args.value(1) == QStringLiteral("shared") ? CrossProcessLock::Mode::Shared
                                                                : CrossProcessLock::Mode::Exclusive;
    if (!lock.lock(mode, 10)) {
        std::printf("failed %s\n", lock.errorString().toUtf8().constData());
        return 1;
    }
    std::printf("locked %lld\n", static_cast<long long>(::getpid()));
    std::fflush(stdout);
    Semaphore never;
    never.wait();
    return 0;
}

TEST(FileCoordinatorAcrossProcesses, WriterTimesOutWhileAnotherProcessHoldsTheFileAndNamesIt)
{
    TimeoutScope timeouts(0.2, 2.0);
    const QString path = documentPath();
    auto helper = test::HelperProcess::start(QStringLiteral("fileCoordinationHoldLock"),
                                             {path, QStringLiteral("exclusive")});
    ASSERT_TRUE(helper);
    const std::optional<QByteArray> line = helper->readLine();
    ASSERT_TRUE(line.has_value());
    ASSERT_EQ(*line, "locked " + QByteArray::number(helper->pid()));

    Error error;
    bool ran = false;
    EXPECT_FALSE(FileCoordinator().coordinateWriting(
        path, FileCoordinator::WritingForMerging, [&](const QString&) { ran = true; }, &error));
    EXPECT_FALSE(ran);
    EXPECT_EQ(error.domain(), CrossProcessLock::ErrorDomain);
    EXPECT_EQ(error.code(), CrossProcessLock::TimedOut);
    const QString expected = QStringLiteral("%1 is locked by %2 (pid %3) on %4.")
                                 .arg(path, QCoreApplication::applicationName(),
                                      QString::number(helper->pid()), QSysInfo::machineHostName());
    EXPECT_EQ(error.localizedDescription(), expected);
    EXPECT_EQ(error.userInfo().value(CrossProcessLock::HolderPidKey).toLongLong(), helper->pid());
    // Readers are kept out as well.
    EXPECT_FALSE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                     [&](const QString&) { ran = true; }));
    EXPECT_FALSE(ran);

    // Once the holder is gone, the file is free at once.
    helper->kill(SIGKILL);
    helper->wait();
    EXPECT_TRUE(FileCoordinator().coordinateWriting(path, FileCoordinator::WritingForMerging,
                                                    [&](const QString&) { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(FileCoordinatorAcrossProcesses, ReadersOfTwoProcessesShareButAWriterWaits)
{
    TimeoutScope timeouts(0.2, 2.0);
    const QString path = documentPath();
    auto helper = test::HelperProcess::start(QStringLiteral("fileCoordinationHoldLock"),
                                             {path, QStringLiteral("shared")});
    ASSERT_TRUE(helper);
    ASSERT_EQ(helper->readLine().value_or("none"), "locked " + QByteArray::number(helper->pid()));

    bool read = false;
    EXPECT_TRUE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                    [&](const QString&) { read = true; }));
    EXPECT_TRUE(read);
    Error error;
    EXPECT_FALSE(FileCoordinator().coordinateWriting(
        path, FileCoordinator::WritingForMerging, [](const QString&) {}, &error));
    EXPECT_EQ(error.code(), CrossProcessLock::TimedOut);
    EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("(pid %1)").arg(helper->pid())))
        << error.localizedDescription().toStdString();
}

TEST(FileCoordinatorAcrossProcesses, LockFilesLiveUnderTheRuntimeFolderNamedByHashAndNothingBesideTheFile)
{
    ScopedVirtualTime time;
    const QString path = documentPath();
    auto b = registeredPresenter(path, QStringLiteral("B"));
    ASSERT_TRUE(save(FileCoordinator(), path, "content"));
    ASSERT_TRUE(FileCoordinator().coordinateReading(path, FileCoordinator::ReadingWithoutChanges,
                                                    [](const QString&) {}));
    settle(time);

    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("map.crvx")});
    const QString folder =
        qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/com.tallowfen.corvex/locks");
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{hash + QStringLiteral(".lock")});
    EXPECT_EQ(CrossProcessLock::lockFilePathFor(path),
              folder + QLatin1Char('/') + hash + QStringLiteral(".lock"));
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
}
