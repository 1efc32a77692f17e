#include "platform/core/CrossProcessLock.h"
#include "platform/core/Semaphore.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

using namespace corvex;

namespace {

QString lockPath(const QString& name = QStringLiteral("document"))
{
    return CrossProcessLock::lockFilePathFor(test::testDir() + QLatin1Char('/') + name);
}

QString bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

std::unique_ptr<test::HelperProcess> startHolder(const QString& path, const char* mode, const char* then)
{
    auto helper = test::HelperProcess::start(QStringLiteral("crossProcessLockHolder"),
                                             {path, QString::fromLatin1(mode), QString::fromLatin1(then)});
    if (!helper)
        return nullptr;
    const std::optional<QByteArray> line = helper->readLine();
    if (line != "locked " + QByteArray::number(helper->pid())) {
        ADD_FAILURE() << "the helper answered " << line.value_or("nothing").constData();
        return nullptr;
    }
    return helper;
}

} // namespace

// args: lock file, "shared"/"exclusive", then "hold" (until killed) or "exit" (_exit while holding).
CORVEX_TEST_HELPER(crossProcessLockHolder)
{
    CrossProcessLock lock(args.value(0));
    const auto mode = args.value(1) == QStringLiteral("shared") ? CrossProcessLock::Mode::Shared
                                                                : CrossProcessLock::Mode::Exclusive;
    if (!lock.lock(mode, 10)) {
        std::printf("failed %s\n", lock.errorString().toUtf8().constData());
        return 1;
    }
    std::printf("locked %lld\n", static_cast<long long>(::getpid()));
    std::fflush(stdout);
    if (args.value(2) == QStringLiteral("exit"))
        ::_exit(0); // no destructor, no unlock: as a crash would leave it
    Semaphore never;
    never.wait();
    return 0;
}

TEST(CrossProcessLock, WaiterGivesUpAfterTheTimeoutNamingTheHolder)
{
    const QString path = lockPath();
    auto helper = startHolder(path, "exclusive", "hold");
    ASSERT_TRUE(helper);

    CrossProcessLock lock(path, QStringLiteral("The document"));
    EXPECT_FALSE(lock.lock(CrossProcessLock::Mode::Exclusive, 0.1));
    EXPECT_FALSE(lock.isLocked());
    EXPECT_EQ(lock.error().domain(), CrossProcessLock::ErrorDomain);
    EXPECT_EQ(lock.error().code(), CrossProcessLock::TimedOut);
    EXPECT_EQ(lock.errorString(), QStringLiteral("The document is locked by %1 (pid %2) on %3.")
                                      .arg(QCoreApplication::applicationName(),
                                           QString::number(helper->pid()), QSysInfo::machineHostName()));
    EXPECT_EQ(lock.error().userInfo().value(CrossProcessLock::HolderHostKey).toString(),
              QSysInfo::machineHostName());
    EXPECT_FALSE(lock.tryLock(CrossProcessLock::Mode::Shared));
}

TEST(CrossProcessLock, HolderThatExitsWithoutUnlockingLeavesTheLockFreeAtOnce)
{
    const QString path = lockPath();
    auto helper = startHolder(path, "exclusive", "exit");
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->wait(), 0);

    CrossProcessLock lock(path);
    EXPECT_TRUE(lock.tryLock(CrossProcessLock::Mode::Exclusive)) << lock.errorString().toStdString();
    // The dead holder's record counts for nothing; ours is the only one.
    const auto holders = CrossProcessLock::currentHolders(path);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders.front().pid, ::getpid());
}

TEST(CrossProcessLock, KilledHolderLeavesTheLockFreeAtOnce)
{
    const QString path = lockPath();
    auto helper = startHolder(path, "exclusive", "hold");
    ASSERT_TRUE(helper);
    CrossProcessLock lock(path);
    EXPECT_FALSE(lock.tryLock(CrossProcessLock::Mode::Exclusive));
    helper->kill(SIGKILL);
    helper->wait();
    EXPECT_TRUE(lock.tryLock(CrossProcessLock::Mode::Exclusive)) << lock.errorString().toStdString();
}

TEST(CrossProcessLock, SharedLocksOfTwoProcessesCoexistAndKeepAWriterOut)
{
    const QString path = lockPath();
    auto helper = startHolder(path, "shared", "hold");
    ASSERT_TRUE(helper);

    CrossProcessLock reader(path);
    EXPECT_TRUE(reader.tryLock(CrossProcessLock::Mode::Shared)) << reader.errorString().toStdString();
    EXPECT_EQ(reader.mode(), CrossProcessLock::Mode::Shared);
    std::vector<qint64> pids;
    for (const CrossProcessLock::Holder& holder : CrossProcessLock::currentHolders(path))
        pids.push_back(holder.pid);
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<qint64>{std::min<qint64>(::getpid(), helper->pid()),
                                         std::max<qint64>(::getpid(), helper->pid())}));
    // A reader that leaves takes its record along: the writer's message names the helper,
    // who still holds the lock, not us.
    reader.unlock();

    CrossProcessLock writer(path);
    EXPECT_FALSE(writer.lock(CrossProcessLock::Mode::Exclusive, 0.05));
    EXPECT_EQ(writer.error().code(), CrossProcessLock::TimedOut);
    EXPECT_EQ(writer.error().userInfo().value(CrossProcessLock::HolderPidKey).toLongLong(), helper->pid())
        << writer.errorString().toStdString();
    helper->kill(SIGKILL);
    helper->wait();
    EXPECT_TRUE(writer.tryLock(CrossProcessLock::Mode::Exclusive));
}

TEST(CrossProcessLock, TwoLocksInOneProcessExcludeEachOtherLikeTwoProcesses)
{
    const QString path = lockPath();
    CrossProcessLock first(path);
    CrossProcessLock second(path);
    ASSERT_TRUE(first.tryLock(CrossProcessLock::Mode::Exclusive));
    EXPECT_FALSE(second.tryLock(CrossProcessLock::Mode::Shared));
    first.unlock();
    EXPECT_TRUE(second.tryLock(CrossProcessLock::Mode::Shared));
    EXPECT_TRUE(first.tryLock(CrossProcessLock::Mode::Shared));
    // Locking again with another mode lets go first: the exclusive lock waits for `second`.
    EXPECT_FALSE(first.tryLock(CrossProcessLock::Mode::Exclusive));
    EXPECT_FALSE(first.isLocked());
}

TEST(CrossProcessLock, RecordNamesPidHostBootAndApplication)
{
    const QString path = lockPath();
    CrossProcessLock lock(path);
    ASSERT_TRUE(lock.tryLock(CrossProcessLock::Mode::Exclusive));
    const auto holders = CrossProcessLock::currentHolders(path);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders.front().pid, ::getpid());
    EXPECT_EQ(holders.front().hostName, QSysInfo::machineHostName());
    EXPECT_EQ(holders.front().bootId, bootId());
    EXPECT_FALSE(holders.front().bootId.isEmpty());
    EXPECT_EQ(holders.front().applicationName, QCoreApplication::applicationName());
    EXPECT_EQ(holders.front().mode, CrossProcessLock::Mode::Exclusive);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("corvex-lock 1\npid " + QByteArray::number(::getpid()) + '\n'));

    lock.unlock();
    EXPECT_TRUE(CrossProcessLock::currentHolders(path).empty());
}

TEST(CrossProcessLock, TornRecordOfAHolderReadsAsAnotherProcess)
{
    // A holder that has locked its slot but not finished its record: the waiter's message
    // names nobody rather than a stale or half-written holder.
    const QString path = lockPath();
    CrossProcessLock setup(path);
    ASSERT_TRUE(setup.tryLock(CrossProcessLock::Mode::Shared));
    setup.unlock();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    struct flock slot = {};
    slot.l_type = F_WRLCK;
    slot.l_whence = SEEK_SET;
    slot.l_start = 0;
    slot.l_len = 512;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &slot), 0);
    const QByteArray torn = QByteArray("corvex-lock 1\npid 77\nhost elsewhere\n").leftJustified(512, '\0');
    ASSERT_EQ(::pwrite(fd, torn.constData(), torn.size(), 0), torn.size());

    EXPECT_TRUE(CrossProcessLock::currentHolders(path).empty());
    CrossProcessLock waiter(path, QStringLiteral("The index"));
    EXPECT_FALSE(waiter.tryLock(CrossProcessLock::Mode::Shared));
    EXPECT_EQ(waiter.errorString(), QStringLiteral("The index is locked by another process."));
    ::close(fd);
}

TEST(CrossProcessLock, LockFolderIsUnderTheRuntimeFolderElseTheCacheFolder)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    EXPECT_EQ(CrossProcessLock::lockFolder(), runtime + QStringLiteral("/com.tallowfen.corvex/locks"));
    const QString document = test::testDir() + QStringLiteral("/a folder/ünïcode.crvx");
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(document.toUtf8(), QCryptographicHash::Sha1).toHex());
    EXPECT_EQ(CrossProcessLock::lockFilePathFor(document),
              CrossProcessLock::lockFolder() + QLatin1Char('/') + hash + QStringLiteral(".lock"));

    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(CrossProcessLock::lockFolder(),
              qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/com.tallowfen.corvex/locks"));
    CrossProcessLock lock(CrossProcessLock::lockFilePathFor(document));
    EXPECT_TRUE(lock.tryLock(CrossProcessLock::Mode::Shared)) << lock.errorString().toStdString();
    EXPECT_TRUE(QFileInfo::exists(lock.lockFilePath()));
    ::setenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit().constData(), 1);
}

TEST(CrossProcessLock, UnusedLockFilesAreRemovedAndHeldOnesKept)
{
    CrossProcessLock held(lockPath(QStringLiteral("held")));
    ASSERT_TRUE(held.tryLock(CrossProcessLock::Mode::Shared));
    {
        CrossProcessLock released(lockPath(QStringLiteral("released")));
        ASSERT_TRUE(released.tryLock(CrossProcessLock::Mode::Exclusive));
    }
    EXPECT_EQ(CrossProcessLock::removeUnusedLockFiles(), 1);
    EXPECT_TRUE(QFileInfo::exists(held.lockFilePath()));
    EXPECT_FALSE(QFileInfo::exists(lockPath(QStringLiteral("released"))));

    // The held lock still excludes: its file was not replaced under it.
    CrossProcessLock writer(held.lockFilePath());
    EXPECT_FALSE(writer.tryLock(CrossProcessLock::Mode::Exclusive));
    held.unlock();
    EXPECT_TRUE(writer.tryLock(CrossProcessLock::Mode::Exclusive));
}

TEST(CrossProcessLock, LockFileThatCannotBeOpenedIsReported)
{
    CrossProcessLock lock(lockPath());
    test::FaultShim shim;
    shim.failFrom(test::FaultShim::Op::Open, 1, ENOSPC);
    EXPECT_FALSE(lock.tryLock(CrossProcessLock::Mode::Exclusive));
    EXPECT_EQ(lock.error().domain(), Error::PosixDomain);
    EXPECT_EQ(lock.error().code(), ENOSPC);
    EXPECT_FALSE(lock.isLocked());
}
