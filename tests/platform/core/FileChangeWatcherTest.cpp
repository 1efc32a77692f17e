#include "platform/core/FileChangeWatcher.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/SaveFile.h"
#include "tests/platform/core/RecordingFilePresenter.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::RecordingFilePresenter;
using corvex::test::registeredPresenter;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;

namespace {

QString folderPath(const QString& name = QStringLiteral("documents"))
{
    const QString folder = test::testDir() + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    return folder;
}

FileChangeWatcher& watcher()
{
    return FileChangeWatcher::instance();
}

// Pumps Qt's loop (inotify) and moves virtual time past the debounce whenever a look is
// pending, until the predicate holds.
bool pumpUntil(ScopedVirtualTime& time, const std::function<bool()>& predicate)
{
    return runUntil([&] {
        if (watcher().hasPendingChecks())
            time.advance(FileChangeWatcher::DebounceSeconds);
        return predicate();
    });
}

// Everything that could still arrive has arrived: inotify events read, debounces run.
void settleWatcher(ScopedVirtualTime& time)
{
    for (int i = 0; i < 3; ++i) {
        test::processEvents();
        time.advance(FileChangeWatcher::DebounceSeconds * 2);
    }
}

QString events(const RecordingFilePresenter& presenter)
{
    return presenter.journal()->events().join(QStringLiteral(", "));
}

} // namespace

// Saves a file the way another instance of the program does: a whole new file renamed
// into place. args: path, content.
CORVEX_TEST_HELPER(fileChangeWatcherForeignSave)
{
    const Status saved = SaveFile::writeAtomically(args.value(0), args.value(1).toUtf8());
    std::printf("%s\n", saved.ok() ? "saved" : "failed");
    std::fflush(stdout);
    return saved.ok() ? 0 : 1;
}

namespace {

void foreignSave(const QString& path, const QString& content)
{
    auto helper = test::HelperProcess::start(QStringLiteral("fileChangeWatcherForeignSave"), {path, content});
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->readLine().value_or("nothing"), QByteArray("saved"));
    EXPECT_EQ(helper->wait(), 0);
}

} // namespace

TEST(FileChangeWatcher, ForeignSaveIsToldOnceAndOurOwnWriteNever)
{
    ScopedVirtualTime time;
    const QString folder = folderPath();
    const QString first = folder + QStringLiteral("/first.crvx");
    const QString second = folder + QStringLiteral("/second.crvx");
    ASSERT_TRUE(SaveFile::writeAtomically(first, "original").ok());
    auto a = registeredPresenter(first, QStringLiteral("A"), true);
    auto b = registeredPresenter(second, QStringLiteral("B"));
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().contains(folder); }));

    foreignSave(first, QStringLiteral("from another instance"));
    ASSERT_TRUE(pumpUntil(time, [&] { return a->journal()->changes.load() == 1; }))
        << events(*a).toStdString();
    settleWatcher(time);
    a->queue()->sync([] {});
    EXPECT_EQ(a->journal()->changes.load(), 1) << events(*a).toStdString();
    EXPECT_EQ(a->journal()->offQueueCalls.load(), 0);

    // Our own coordinated write, made for A, then a foreign write to B's file in the same
    // folder: once B hears of it, the events of our write have been looked at too.
    bool written = false;
    ASSERT_TRUE(FileCoordinator(a.get()).coordinateWriting(
        first, FileCoordinator::WritingForMerging,
        [&](const QString& path) { written = SaveFile::writeAtomically(path, "ours").ok(); }));
    ASSERT_TRUE(written);
    foreignSave(second, QStringLiteral("barrier"));
    ASSERT_TRUE(pumpUntil(time, [&] { return b->journal()->changes.load() == 1; }))
        << events(*b).toStdString();
    settleWatcher(time);
    a->queue()->sync([] {});
    EXPECT_EQ(a->journal()->changes.load(), 1) << events(*a).toStdString();
    EXPECT_EQ(b->journal()->changes.load(), 1) << events(*b).toStdString();
}

TEST(FileChangeWatcher, FileThatAppearsOrDisappearsIsToldOncePerChange)
{
    ScopedVirtualTime time;
    const QString path = folderPath() + QStringLiteral("/map.crvx");
    auto p = registeredPresenter(path, QStringLiteral("P"));

    ASSERT_TRUE(SaveFile::writeAtomically(path, "new").ok()); // not coordinated: as another program
    ASSERT_TRUE(pumpUntil(time, [&] { return p->journal()->changes.load() == 1; }));
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(pumpUntil(time, [&] { return p->journal()->changes.load() == 2; }));
    settleWatcher(time);
    EXPECT_EQ(p->journal()->changes.load(), 2) << events(*p).toStdString();
}

TEST(FileChangeWatcher, WriteInPlaceIsNoticedThroughTheFileWatch)
{
    ScopedVirtualTime time;
    const QString path = folderPath() + QStringLiteral("/map.crvx");
    ASSERT_TRUE(SaveFile::writeAtomically(path, "original").ok());
    auto p = registeredPresenter(path, QStringLiteral("P"));
    settleWatcher(time);
    ASSERT_EQ(p->journal()->changes.load(), 0);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write(" and more");
    file.close();
    ASSERT_TRUE(pumpUntil(time, [&] { return p->journal()->changes.load() == 1; }))
        << events(*p).toStdString();
}

TEST(FileChangeWatcher, FolderThatDoesNotExistYetIsWatchedOnceItAppears)
{
    ScopedVirtualTime time;
    const QString base = folderPath(QStringLiteral("cloud"));
    const QString folder = base + QStringLiteral("/not/yet");
    const QString path = folder + QStringLiteral("/map.crvx");
    auto p = registeredPresenter(path, QStringLiteral("P"));
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().contains(base); }))
        << watcher().watchedFolders().join(QLatin1Char(' ')).toStdString();

    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(SaveFile::writeAtomically(path, "synced").ok());
    ASSERT_TRUE(pumpUntil(time, [&] { return p->journal()->changes.load() == 1; }))
        << events(*p).toStdString();
    EXPECT_TRUE(watcher().watchedFolders().contains(folder));
    EXPECT_FALSE(watcher().watchedFolders().contains(base));

    // Later changes come through the folder's own watch.
    ASSERT_TRUE(SaveFile::writeAtomically(path, "synced again").ok());
    ASSERT_TRUE(pumpUntil(time, [&] { return p->journal()->changes.load() == 2; }))
        << events(*p).toStdString();
    settleWatcher(time);
    EXPECT_EQ(p->journal()->changes.load(), 2);
}

TEST(FileChangeWatcher, WatchedFoldersFollowThePresenters)
{
    ScopedVirtualTime time;
    const QString one = folderPath(QStringLiteral("one"));
    const QString two = folderPath(QStringLiteral("two"));
    auto a = registeredPresenter(one + QStringLiteral("/a.crvx"), QStringLiteral("A"));
    auto b = registeredPresenter(two + QStringLiteral("/b.crvx"), QStringLiteral("B"));
    ASSERT_TRUE(runUntil([&] {
        return watcher().watchedFolders() == QStringList{one, two};
    })) << watcher().watchedFolders().join(QLatin1Char(' ')).toStdString();

    FileCoordinator::removeFilePresenter(a.get());
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders() == QStringList{two}; }))
        << watcher().watchedFolders().join(QLatin1Char(' ')).toStdString();
    b.reset();
    ASSERT_TRUE(runUntil([&] { return watcher().watchedFolders().isEmpty(); }))
        << watcher().watchedFolders().join(QLatin1Char(' ')).toStdString();

    // A removed presenter hears nothing of later changes.
    ASSERT_TRUE(SaveFile::writeAtomically(one + QStringLiteral("/a.crvx"), "changed").ok());
    settleWatcher(time);
    EXPECT_EQ(a->journal()->calls.load(), 0) << events(*a).toStdString();
}

TEST(FileChangeWatcher, LookDuringOurOwnWriteIsPutOffAndFindsNothingForeign)
{
    ScopedVirtualTime time;
    const QString path = folderPath() + QStringLiteral("/map.crvx");
    auto a = registeredPresenter(path, QStringLiteral("A"));
    auto b = registeredPresenter(path, QStringLiteral("B"));
    bool written = false;
    ASSERT_TRUE(FileCoordinator(a.get()).coordinateWriting(
        path, FileCoordinator::WritingForReplacing, [&](const QString& granted) {
            written = SaveFile::writeAtomically(granted, "ours").ok();
            // The file is new on disk, the write not over yet.
            watcher().checkAll();
        }));
    ASSERT_TRUE(written);
    settleWatcher(time);
    // B hears of the write once (from the coordinator), A never.
    EXPECT_EQ(a->journal()->changes.load(), 0) << events(*a).toStdString();
    EXPECT_EQ(b->journal()->changes.load(), 1) << events(*b).toStdString();
}
