// The named temporaries a killed save leaves behind: every save removes those of its file,
// never one that a save still under way is filling, in this process or another.

#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvex;
using corvex::test::FaultShim;

namespace {

QString staleFolder()
{
    const QString path = test::testDir() + QStringLiteral("/stale");
    QDir().mkpath(path);
    return path;
}

QString staleTarget()
{
    return staleFolder() + QStringLiteral("/doc.json");
}

QStringList temporariesOfDoc()
{
    return QDir(staleFolder())
        .entryList({QStringLiteral("doc.json.corvex-tmp-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

// Opens a save of the file with a named temporary, writes into it and says "open", then
// waits to be killed. args: path.
CORVEX_TEST_HELPER(saveFileHeldOpen)
{
    FaultShim shim;
    shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
    SaveFile file(args.value(0));
    if (!file.open() || file.write(QByteArray(100000, 'h')) < 0)
        return 1;
    const char line[] = "open\n";
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line, sizeof line - 1);
    std::this_thread::sleep_for(std::chrono::minutes(10));
    return 2;
}

TEST(SaveFileStaleTemporaries, OpeningASaveRemovesTheStaleTemporariesOfItsFileOnly)
{
    test::writeFile(staleTarget(), "old");
    test::writeFile(staleFolder() + QStringLiteral("/doc.json.corvex-tmp-Ab12Cd"), QByteArray(5000, 's'));
    test::writeFile(staleFolder() + QStringLiteral("/doc.json.corvex-tmp-zz99zz"), "stale");
    test::writeFile(staleFolder() + QStringLiteral("/other.json.corvex-tmp-Ab12Cd"), "another file's");
    test::writeFile(staleFolder() + QStringLiteral("/doc.json.bak"), "kept");

    ASSERT_TRUE(SaveFile::writeAtomically(staleTarget(), "new").ok());
    EXPECT_EQ(test::readFile(staleTarget()), QByteArray("new"));
    EXPECT_EQ(test::folderEntries(staleFolder()),
              (QStringList{QStringLiteral("doc.json"), QStringLiteral("doc.json.bak"),
                           QStringLiteral("other.json.corvex-tmp-Ab12Cd")}));
}

TEST(SaveFileStaleTemporaries, ASaveUnderWayKeepsItsTemporaryWhileOtherSavesOfTheFileRun)
{
    test::writeFile(staleTarget(), "old");
    FaultShim shim;
    shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
    SaveFile first(staleTarget());
    ASSERT_TRUE(first.open()) << first.errorString().toStdString();
    ASSERT_EQ(first.write(QByteArray(200000, 'f')), 200000);
    const QStringList live = temporariesOfDoc();
    ASSERT_EQ(live.size(), 1);

    SaveFile second(staleTarget());
    ASSERT_TRUE(second.open()) << second.errorString().toStdString();
    ASSERT_EQ(second.write(QByteArray("second")), 6);
    ASSERT_TRUE(second.commit()) << second.errorString().toStdString();
    EXPECT_EQ(SaveFile::removeStaleTemporaries(staleFolder(), QStringLiteral("doc.json")), 0);
    EXPECT_EQ(temporariesOfDoc(), live);

    // The first save still finds its temporary and completes.
    ASSERT_TRUE(first.commit()) << first.errorString().toStdString();
    EXPECT_EQ(test::readFile(staleTarget()), QByteArray(200000, 'f'));
    EXPECT_EQ(temporariesOfDoc(), QStringList());
}

TEST(SaveFileStaleTemporaries, AnotherProcesssLiveTemporaryStaysAndGoesOnceThatProcessIsKilled)
{
    test::writeFile(staleTarget(), "old");
    auto helper = test::HelperProcess::start(QStringLiteral("saveFileHeldOpen"), {staleTarget()});
    ASSERT_TRUE(helper);
    ASSERT_EQ(helper->readLine(60), QByteArray("open"));
    const QStringList live = temporariesOfDoc();
    ASSERT_EQ(live.size(), 1);

    ASSERT_TRUE(SaveFile::writeAtomically(staleTarget(), "ours").ok());
    EXPECT_EQ(SaveFile::removeStaleTemporaries(staleFolder(), QStringLiteral("doc.json")), 0);
    EXPECT_EQ(temporariesOfDoc(), live) << "a live save's temporary was removed";

    ASSERT_TRUE(helper->kill(SIGKILL));
    EXPECT_EQ(helper->wait(), -SIGKILL);
    EXPECT_EQ(temporariesOfDoc(), live);
    ASSERT_TRUE(SaveFile::writeAtomically(staleTarget(), "again").ok());
    EXPECT_EQ(temporariesOfDoc(), QStringList()) << "the dead save's temporary stayed";
    EXPECT_EQ(test::readFile(staleTarget()), QByteArray("again"));
}

TEST(SaveFileStaleTemporaries, AFolderThatCannotBeListedOrLockedIsSavedIntoWithoutCleaning)
{
    struct Case
    {
        const char* name;
        FaultShim::Op op;
        int errnoValue;
    };
    for (const Case& c :
         {Case{"opendir", FaultShim::Op::Opendir, EACCES}, Case{"flock", FaultShim::Op::Flock, ENOLCK}}) {
        SCOPED_TRACE(c.name);
        const QString stale = staleFolder() + QStringLiteral("/doc.json.corvex-tmp-Zz0000");
        test::writeFile(stale, "stale");
        {
            FaultShim shim;
            shim.failFrom(c.op, 1, c.errnoValue);
            ASSERT_TRUE(SaveFile::writeAtomically(staleTarget(), c.name).ok());
            EXPECT_GE(shim.callCount(c.op), 1);
            EXPECT_EQ(SaveFile::removeStaleTemporaries(staleFolder(), QStringLiteral("doc.json")), 0);
        }
        EXPECT_EQ(test::readFile(staleTarget()), QByteArray(c.name));
        EXPECT_EQ(temporariesOfDoc(), QStringList{QStringLiteral("doc.json.corvex-tmp-Zz0000")});
        EXPECT_EQ(SaveFile::removeStaleTemporaries(staleFolder(), QStringLiteral("doc.json")), 1);
    }
}

// Each call added to SysCalls: the shim counts it, fails exactly the chosen call with the
// chosen errno without reaching the kernel, and lets the others through.
TEST(SysCallsFaults, EachCallFailsOnItsKthCallWithTheChosenErrno)
{
    const QString path = staleFolder() + QStringLiteral("/probe");
    test::writeFile(path, "probe bytes");
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Case
    {
        const char* name;
        FaultShim::Op op;
        std::function<bool()> call; // true when the call succeeded
    };
    const Case cases[] = {
        {"stat", FaultShim::Op::Stat,
         [&] {
             struct stat info;
             return SysCalls::stat(encoded.constData(), &info) == 0 && info.st_size == 11;
         }},
        {"lstat", FaultShim::Op::Lstat,
         [&] {
             struct stat info;
             return SysCalls::lstat(encoded.constData(), &info) == 0 && S_ISREG(info.st_mode);
         }},
        {"fstat", FaultShim::Op::Fstat,
         [&] {
             struct stat info;
             return SysCalls::fstat(fd, &info) == 0 && info.st_size == 11;
         }},
        {"realpath", FaultShim::Op::Realpath,
         [&] {
             char* resolved = SysCalls::realpath(encoded.constData());
             const bool ok = resolved != nullptr && QByteArray(resolved).endsWith("/probe");
             std::free(resolved);
             return ok;
         }},
        {"fchmod", FaultShim::Op::Fchmod, [&] { return SysCalls::fchmod(fd, 0640) == 0; }},
        {"opendir", FaultShim::Op::Opendir,
         [&] {
             DIR* dir = SysCalls::opendir(QFile::encodeName(staleFolder()).constData());
             if (dir != nullptr)
                 ::closedir(dir);
             return dir != nullptr;
         }},
        {"read", FaultShim::Op::Read,
         [&] {
             char buffer[5];
             return ::lseek(fd, 0, SEEK_SET) == 0 && SysCalls::read(fd, buffer, sizeof buffer) == 5 &&
                    QByteArray(buffer, 5) == "probe";
         }},
        {"lseek", FaultShim::Op::Lseek, [&] { return SysCalls::lseek(fd, 6, SEEK_SET) == 6; }},
        {"flock", FaultShim::Op::Flock,
         [&] {
             const bool ok = SysCalls::flock(fd, LOCK_SH) == 0;
             ::flock(fd, LOCK_UN);
             return ok;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            FaultShim shim;
            shim.failAt(c.op, 2, E2BIG);
            EXPECT_TRUE(c.call());
            errno = 0;
            EXPECT_FALSE(c.call());
            EXPECT_EQ(errno, E2BIG);
            EXPECT_TRUE(c.call());
            EXPECT_EQ(shim.callCount(c.op), 3);
        }
        EXPECT_TRUE(c.call()) << "the real call is back once the shim is gone";
    }
    ::close(fd);
}
