#include "storage/FileUtil.h"
#include "model/Globals.h"
#include "model/NonFatalErrorRecorder.h"
#include "platform/core/Paths.h"
#include "platform/core/Semaphore.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvex;
using test::CompletionRecorder;
using test::RecordingErrorRecorder;

namespace {

QString programFolder()
{
    return Paths::caches() + QStringLiteral("/com.tallowfen.corvex/tmp/corvex_temp");
}

// lstat: a dangling symbolic link is there too.
bool present(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

using corvex::test::readFile;
using corvex::test::writeFile;

void makeLink(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0)
        << link.toStdString();
}

// The folder's lock can be had by a new open file description (flock locks belong to them).
bool lockIsFree(const QString& runFolder)
{
    const int fd =
        ::open(QFile::encodeName(runFolder + QStringLiteral("/run.lock")).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

void clean()
{
    CompletionRecorder recorder;
    FileUtil::cleanTemporaryFilesDuringStartup(recorder.expect<>(QStringLiteral("cleaned")));
    ASSERT_TRUE(recorder.waitAll());
}

// A run of another instance: it makes a scratch file, reports its run folder, then exits or
// stays until killed.
std::unique_ptr<test::HelperProcess> startRun(const char* then, QString& runFolder,
                                              QString* scratch = nullptr)
{
    auto helper = test::HelperProcess::start(QStringLiteral("fileUtilRun"), {QString::fromLatin1(then)});
    if (!helper)
        return nullptr;
    const std::optional<QByteArray> line = helper->readLine();
    if (!line || !line->startsWith("run ")) {
        ADD_FAILURE() << "the helper answered " << line.value_or("nothing").constData();
        return nullptr;
    }
    const QList<QByteArray> parts = line->mid(4).split('\t');
    runFolder = QString::fromUtf8(parts.value(0));
    if (scratch)
        *scratch = QString::fromUtf8(parts.value(1));
    return helper;
}

} // namespace

// args: "exit" (ends at once, its lock freed by the kernel) or "hold" (until killed).
CORVEX_TEST_HELPER(fileUtilRun)
{
    const QUrl scratch = FileUtil::temporaryURLForFileName(QStringLiteral("scratch.txt"));
    QFile file(scratch.toLocalFile());
    if (scratch.isEmpty() || !file.open(QIODevice::WriteOnly)) {
        std::printf("failed\n");
        return 1;
    }
    file.write("work in progress");
    file.close();
    std::printf("run %s\t%s\n", FileUtil::runDirectory().toLocalFile().toUtf8().constData(),
                scratch.toLocalFile().toUtf8().constData());
    std::fflush(stdout);
    if (args.value(0) == QStringLiteral("exit"))
        ::_exit(0); // as a crash would: nothing cleaned, nothing unlocked
    Semaphore never;
    never.wait();
    return 0;
}

// Another instance starting up: it cleans, then reports.
CORVEX_TEST_HELPER(fileUtilStartUpClean)
{
    std::atomic<bool> done{false};
    FileUtil::cleanTemporaryFilesDuringStartup([&done] { done = true; });
    if (!test::runUntil([&done] { return done.load(); }, 30))
        return 1;
    std::printf("cleaned\n");
    std::fflush(stdout);
    return 0;
}

// --- Folders ------------------------------------------------------------------------------------

TEST(FileUtil, TheRunIdentifierIsOneUpperCaseUuidForTheWholeProcess)
{
    const QString session = FileUtil::uniqueCorvexSession();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(session)
            .hasMatch())
        << session.toStdString();
    EXPECT_EQ(FileUtil::uniqueCorvexSession(), session);
}

TEST(FileUtil, TheProgramFolderIsInTheUsersPrivateTemporaryFolderAndNotMadeByAsking)
{
    EXPECT_EQ(FileUtil::temporaryDirectoryForCorvex(), QUrl::fromLocalFile(programFolder()));
    EXPECT_FALSE(present(programFolder()));
}

TEST(FileUtil, EachRequestGetsANewPrivateFolderInsideTheLockedRunFolder)
{
    const QUrl first = FileUtil::temporaryDirectoryForFile();
    const QUrl second = FileUtil::temporaryDirectoryForFile();
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    const QString run = programFolder() + QLatin1Char('/') + FileUtil::uniqueCorvexSession();
    EXPECT_EQ(FileUtil::runDirectory(), QUrl::fromLocalFile(run));
    for (const QUrl& folder : {first, second}) {
        const QFileInfo info(folder.toLocalFile());
        EXPECT_TRUE(info.isDir());
        EXPECT_EQ(info.path(), run);
        EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
                  QFile::Permissions());
    }
    EXPECT_TRUE(present(run + QStringLiteral("/run.lock")));
    EXPECT_FALSE(lockIsFree(run)) << "the run holds its folder's lock while it lives";
}

TEST(FileUtil, TemporaryURLsForOneNameLieInTwoDifferentFolders)
{
    const QUrl first = FileUtil::temporaryURLForFileName(QStringLiteral("map.pdf"));
    const QUrl second = FileUtil::temporaryURLForFileName(QStringLiteral("map.pdf"));
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(QFileInfo(first.toLocalFile()).path(), QFileInfo(second.toLocalFile()).path());
    EXPECT_EQ(QFileInfo(first.toLocalFile()).fileName(), QStringLiteral("map.pdf"));
    EXPECT_TRUE(QFileInfo(QFileInfo(first.toLocalFile()).path()).isDir());
    EXPECT_FALSE(present(first.toLocalFile())) << "the file itself is not made";
}

TEST(FileUtil, NamesThatAreNoPlainPathComponentAreRefusedAndMakeNothing)
{
    const QString base = test::testDir() + QStringLiteral("/base");
    QDir().mkpath(base);
    for (const QString& bad : {QString(), QStringLiteral("."), QStringLiteral(".."),
                               QStringLiteral("../escape"), QStringLiteral("/abs"), QStringLiteral("a/b"),
                               QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")}) {
        EXPECT_TRUE(FileUtil::temporaryURLForFileName(bad).isEmpty()) << bad.toStdString();
        EXPECT_TRUE(FileUtil::createDirectory(bad, QUrl::fromLocalFile(base)).isEmpty()) << bad.toStdString();
    }
    EXPECT_FALSE(present(programFolder())) << "no scratch folder was made for a refused name";
    EXPECT_TRUE(QDir(base).isEmpty());
    EXPECT_FALSE(present(test::testDir() + QStringLiteral("/escape")));

    const QUrl made = FileUtil::createDirectory(QStringLiteral("sub"),
                                                QUrl::fromLocalFile(base + QStringLiteral("/deep/er")));
    EXPECT_EQ(made, QUrl::fromLocalFile(base + QStringLiteral("/deep/er/sub")));
    EXPECT_TRUE(QFileInfo(made.toLocalFile()).isDir());
}

TEST(FileUtil, CreatingAFolderInNoFolderRaisesTheNullUrlError)
{
    auto errors = std::make_shared<RecordingErrorRecorder>();
    NonFatalErrorRecorder::install(errors);
    EXPECT_TRUE(FileUtil::createDirectory(QStringLiteral("x"), QUrl()).isEmpty());
    NonFatalErrorRecorder::install(nullptr);
    EXPECT_EQ(errors->descriptions(),
              QStringList{QStringLiteral("Null URL in operation FileUtil:createDirectory")});
}

TEST(FileUtil, TheTimeStampedNameUsesTheLocalTimeOfTheWallClock)
{
    // 14:05 in the tests' time zone (Central European, one hour ahead of UTC in December).
    const QDateTime instant(QDate(2026, 12, 6), QTime(13, 5, 59), Qt::UTC);
    const auto previous = Globals::setWallClock([instant] { return instant.toMSecsSinceEpoch() / 1000.0; });
    EXPECT_EQ(FileUtil::fileNameWithTimeStampAndExtension(QStringLiteral("map"), QStringLiteral("pdf")),
              QStringLiteral("map_20261206_1405.pdf"));
    Globals::setWallClock(previous);
}

// --- Start-up cleaning ----------------------------------------------------------------------------

TEST(FileUtilCleaning, RemovesDeadRunsOnlyAndNeverFollowsSymbolicLinks)
{
    QString deadRun;
    auto dead = startRun("exit", deadRun);
    ASSERT_TRUE(dead);
    EXPECT_EQ(dead->wait(), 0);
    QString liveRun;
    QString liveScratch;
    auto live = startRun("hold", liveRun, &liveScratch);
    ASSERT_TRUE(live);
    const QString thisRun = FileUtil::runDirectory().toLocalFile();
    ASSERT_FALSE(thisRun.isEmpty());
    const QString thisScratch = FileUtil::temporaryURLForFileName(QStringLiteral("mine.txt")).toLocalFile();
    writeFile(thisScratch, "mine");

    EXPECT_NE(QFileInfo(deadRun).fileName(), FileUtil::uniqueCorvexSession());
    EXPECT_EQ(QFileInfo(deadRun).path(), programFolder());
    EXPECT_TRUE(lockIsFree(deadRun));
    EXPECT_FALSE(lockIsFree(liveRun));

    // Outside things that links in the program folder point at.
    const QString outside = test::testDir() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/target.txt"), "keep me");
    writeFile(outside + QStringLiteral("/dir/inner.txt"), "keep me too");
    makeLink(outside + QStringLiteral("/target.txt"), deadRun + QStringLiteral("/fileLink"));
    makeLink(outside + QStringLiteral("/dir"), deadRun + QStringLiteral("/dirLink"));
    writeFile(deadRun + QStringLiteral("/nested/a/b/c.txt"), "stale");
    makeLink(outside + QStringLiteral("/dir"), deadRun + QStringLiteral("/nested/a/link"));
    makeLink(outside + QStringLiteral("/dir"), programFolder() + QStringLiteral("/topLink"));
    makeLink(outside + QStringLiteral("/missing"), programFolder() + QStringLiteral("/dangling"));
    writeFile(programFolder() + QStringLiteral("/stray.txt"), "stray");
    writeFile(programFolder() + QStringLiteral("/.hidden"), "hidden entries are not listed");

    clean();

    EXPECT_FALSE(present(deadRun)) << "the run of a process that is gone is removed";
    EXPECT_TRUE(present(liveRun)) << "a live run's folder is kept";
    EXPECT_EQ(readFile(liveScratch), QByteArray("work in progress"));
    EXPECT_EQ(readFile(thisScratch), QByteArray("mine")) << "this run's folder is kept";
    EXPECT_FALSE(lockIsFree(thisRun)) << "and still locked";
    EXPECT_FALSE(present(programFolder() + QStringLiteral("/topLink")));
    EXPECT_FALSE(present(programFolder() + QStringLiteral("/dangling")));
    EXPECT_FALSE(present(programFolder() + QStringLiteral("/stray.txt")));
    EXPECT_TRUE(present(programFolder() + QStringLiteral("/.hidden")));
    EXPECT_EQ(readFile(outside + QStringLiteral("/target.txt")), QByteArray("keep me"));
    EXPECT_EQ(readFile(outside + QStringLiteral("/dir/inner.txt")), QByteArray("keep me too"));

    // Once the other run has ended, its folder goes at the next start-up.
    live->kill(SIGKILL);
    live->wait();
    clean();
    EXPECT_FALSE(present(liveRun));
    EXPECT_EQ(readFile(thisScratch), QByteArray("mine"));
}

TEST(FileUtilCleaning, AnotherInstanceStartingUpKeepsThisRunsScratchFiles)
{
    const QString scratch = FileUtil::temporaryURLForFileName(QStringLiteral("export.pdf")).toLocalFile();
    writeFile(scratch, "export in progress");
    QString deadRun;
    auto dead = startRun("exit", deadRun);
    ASSERT_TRUE(dead);
    dead->wait();

    auto other = test::HelperProcess::start(QStringLiteral("fileUtilStartUpClean"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->readLine(), std::optional<QByteArray>("cleaned"));
    EXPECT_EQ(other->wait(), 0);
    EXPECT_EQ(readFile(scratch), QByteArray("export in progress")) << "held by this run's lock";
    EXPECT_FALSE(present(deadRun));
}

TEST(FileUtil, ConcurrentRequestsShareOneRunFolderAndGetFoldersOfTheirOwn)
{
    constexpr int Threads = 8;
    constexpr int PerThread = 20;
    std::vector<std::vector<QUrl>> made(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < PerThread; ++i)
                made[std::size_t(t)].push_back(FileUtil::temporaryDirectoryForFile());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QSet<QString> folders;
    const QString run = FileUtil::runDirectory().toLocalFile();
    for (const auto& list : made) {
        for (const QUrl& url : list) {
            ASSERT_FALSE(url.isEmpty());
            EXPECT_EQ(QFileInfo(url.toLocalFile()).path(), run);
            folders.insert(url.toLocalFile());
        }
    }
    EXPECT_EQ(folders.size(), Threads * PerThread);
    EXPECT_EQ(QDir(programFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{FileUtil::uniqueCorvexSession()});
}

TEST(FileUtilCleaning, AStaleRunWithoutALockFileOrWithALinkForItIsRemoved)
{
    const QString noLock = programFolder() + QStringLiteral("/0A3F0000-0000-4000-8000-000000000001");
    writeFile(noLock + QStringLiteral("/x/scratch.txt"), "old");
    const QString linkedLock = programFolder() + QStringLiteral("/0A3F0000-0000-4000-8000-000000000002");
    const QString target = test::testDir() + QStringLiteral("/lock-target");
    writeFile(target, "not a lock");
    QDir().mkpath(linkedLock);
    makeLink(target, linkedLock + QStringLiteral("/run.lock"));

    clean();
    EXPECT_FALSE(present(noLock));
    EXPECT_FALSE(present(linkedLock));
    EXPECT_EQ(readFile(target), QByteArray("not a lock"));
}

TEST(FileUtilCleaning, WithNothingToCleanItMakesNothingAndStillCallsBack)
{
    clean();
    EXPECT_FALSE(present(programFolder()));
}

TEST(FileUtilCleaning, APrivateTemporaryFolderThatIsASymbolicLinkIsRefused)
{
    // Someone put a link where the private folder belongs, to a folder with a program folder
    // of its own.
    const QString elsewhere = test::testDir() + QStringLiteral("/elsewhere");
    writeFile(elsewhere + QStringLiteral("/corvex_temp/victim/file.txt"), "not ours to remove");
    QDir().mkpath(Paths::caches() + QStringLiteral("/com.tallowfen.corvex"));
    makeLink(elsewhere, Paths::caches() + QStringLiteral("/com.tallowfen.corvex/tmp"));

    test::LogCapture log;
    EXPECT_TRUE(FileUtil::temporaryDirectoryForCorvex().isEmpty());
    EXPECT_TRUE(FileUtil::temporaryDirectoryForFile().isEmpty());
    EXPECT_TRUE(FileUtil::temporaryURLForFileName(QStringLiteral("x.pdf")).isEmpty());
    clean();
    EXPECT_EQ(readFile(elsewhere + QStringLiteral("/corvex_temp/victim/file.txt")),
              QByteArray("not ours to remove"));
    EXPECT_EQ(
        QDir(elsewhere + QStringLiteral("/corvex_temp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("victim")});
    EXPECT_TRUE(log.contains(QStringLiteral("symbolic link")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}
