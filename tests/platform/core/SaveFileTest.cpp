#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvex;
using corvex::test::FaultShim;

namespace {

QString folder()
{
    const QString path = test::testDir() + QStringLiteral("/save");
    QDir().mkpath(path);
    return path;
}

QString targetPath()
{
    return folder() + QStringLiteral("/doc.json");
}

using corvex::test::folderEntries;
using corvex::test::readFile;
using corvex::test::writeFile;

int saveFileOpenDescriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

mode_t modeOf(const QString& path)
{
    struct stat info
    {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

QByteArray bigPayload(char fill)
{
    return QByteArray(1 << 20, fill);
}

// Some file systems (older overlay mounts among them) have no unnamed temporary files.
bool unnamedTemporariesWork()
{
    const int fd = ::open(QFile::encodeName(folder()).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

TEST(SaveFile, CommitReplacesTheContentAndKeepsTheOldPermissions)
{
    writeFile(targetPath(), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(targetPath()).constData(), 0644), 0);

    SaveFile file(targetPath());
    ASSERT_TRUE(file.open()) << file.errorString().toStdString();
    EXPECT_EQ(file.write(QByteArray("new ")), 4);
    EXPECT_EQ(file.write(bigPayload('n')), 1 << 20);
    ASSERT_TRUE(file.commit()) << file.errorString().toStdString();

    EXPECT_EQ(readFile(targetPath()), QByteArray("new ") + bigPayload('n'));
    EXPECT_EQ(modeOf(targetPath()), mode_t(0644));
    EXPECT_EQ(folderEntries(folder()), QStringList{QStringLiteral("doc.json")});
}

TEST(SaveFile, NewFilesAreOnlyReadableByTheirOwner)
{
    ASSERT_TRUE(SaveFile::writeAtomically(targetPath(), "fresh").ok());
    EXPECT_EQ(readFile(targetPath()), QByteArray("fresh"));
    EXPECT_EQ(modeOf(targetPath()), mode_t(0600));
}

// A document or export is the user's to share: the umask decides, as for any editor's files,
// with or without unnamed temporaries; the program's own files stay private whatever the
// umask, and a replaced file of either kind keeps its mode.
TEST(SaveFile, NewUserFilesTakeTheUmaskProgramFilesStayPrivateReplacedFilesKeepTheirMode)
{
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary" : "named temporary");
        const QString user = folder() + (unnamed ? QStringLiteral("/u1.pdf") : QStringLiteral("/u2.pdf"));
        const QString program =
            folder() + (unnamed ? QStringLiteral("/p1.json") : QStringLiteral("/p2.json"));
        {
            FaultShim shim;
            if (!unnamed)
                shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
            test::ScopedUmask mask(022);
            ASSERT_TRUE(SaveFile::writeAtomically(user, "user", SaveFile::Kind::UserFile).ok());
            ASSERT_TRUE(SaveFile::writeAtomically(program, "own").ok());
        }
        EXPECT_EQ(modeOf(user), mode_t(0644));
        EXPECT_EQ(modeOf(program), mode_t(0600));

        test::ScopedUmask mask(027);
        ASSERT_TRUE(
            SaveFile::writeAtomically(user + QStringLiteral(".2"), "user", SaveFile::Kind::UserFile).ok());
        EXPECT_EQ(modeOf(user + QStringLiteral(".2")), mode_t(0640));
        ASSERT_EQ(::chmod(QFile::encodeName(user).constData(), 0600), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(program).constData(), 0604), 0);
        ASSERT_TRUE(SaveFile::writeAtomically(user, "again", SaveFile::Kind::UserFile).ok());
        ASSERT_TRUE(SaveFile::writeAtomically(program, "again").ok());
        EXPECT_EQ(modeOf(user), mode_t(0600));
        EXPECT_EQ(modeOf(program), mode_t(0604));
        EXPECT_EQ(readFile(user), QByteArray("again"));
    }
}

TEST(SaveFile, UsesAnUnnamedTemporaryThatGetsANameOnlyAtCommit)
{
    if (!unnamedTemporariesWork())
        GTEST_SKIP() << "the test folder's file system has no O_TMPFILE";
    FaultShim shim;
    SaveFile file(targetPath());
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.write(QByteArray("data")), 4);
    // Nothing visible in the folder while writing.
    EXPECT_TRUE(folderEntries(folder()).isEmpty())
        << folderEntries(folder()).join(QLatin1Char(' ')).toStdString();
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(shim.callCount(FaultShim::Op::Link), 1);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 1);
    EXPECT_EQ(readFile(targetPath()), QByteArray("data"));
}

TEST(SaveFile, CancelledSaveLeavesNoFile)
{
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
        FaultShim shim;
        if (named)
            shim.failAt(FaultShim::Op::Open, 1, EOPNOTSUPP);
        SaveFile file(targetPath());
        ASSERT_TRUE(file.open()) << file.errorString().toStdString();
        EXPECT_EQ(file.write(bigPayload('x')), 1 << 20);
        file.cancelWriting();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(file.write(QByteArray("more")), -1);
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(file.error().code(), ECANCELED);
        EXPECT_TRUE(folderEntries(folder()).isEmpty())
            << folderEntries(folder()).join(QLatin1Char(' ')).toStdString();
    }
}

TEST(SaveFile, DestroyingWithoutCommitKeepsTheOldFileAndLeavesNothingElse)
{
    writeFile(targetPath(), "old");
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
        FaultShim shim;
        if (named)
            shim.failAt(FaultShim::Op::Open, 1, EOPNOTSUPP);
        {
            SaveFile file(targetPath());
            ASSERT_TRUE(file.open());
            EXPECT_EQ(file.write(QByteArray("abandoned")), 9);
        }
        EXPECT_EQ(readFile(targetPath()), QByteArray("old"));
        EXPECT_EQ(folderEntries(folder()), QStringList{QStringLiteral("doc.json")});
    }
}

TEST(SaveFile, ADirectoryPathFailsAtOpenWithAReadableError)
{
    const QString directory = folder() + QStringLiteral("/a folder");
    ASSERT_TRUE(QDir().mkpath(directory));
    SaveFile file(directory);
    EXPECT_FALSE(file.open());
    EXPECT_EQ(file.error().domain(), Error::PosixDomain);
    EXPECT_EQ(file.error().code(), EISDIR);
    EXPECT_TRUE(file.errorString().contains(QStringLiteral("folder"))) << file.errorString().toStdString();
    EXPECT_TRUE(file.errorString().contains(directory)) << file.errorString().toStdString();
    EXPECT_EQ(folderEntries(directory), QStringList());
}

TEST(SaveFile, AMissingFolderFailsAtOpenWithAReadableError)
{
    const QString missing = folder() + QStringLiteral("/missing/doc.json");
    SaveFile file(missing);
    EXPECT_FALSE(file.open());
    EXPECT_EQ(file.error().code(), ENOENT);
    EXPECT_TRUE(file.errorString().contains(QStringLiteral("does not exist")))
        << file.errorString().toStdString();
    EXPECT_TRUE(file.errorString().contains(folder() + QStringLiteral("/missing")))
        << file.errorString().toStdString();
    EXPECT_EQ(file.write(QByteArray("x")), -1);
    EXPECT_FALSE(file.commit());
}

TEST(SaveFile, ShortWritesAreCompleted)
{
    FaultShim shim;
    shim.limitWriteSize(4093);
    QByteArray payload;
    for (int i = 0; i < 300000; ++i)
        payload.append(char('a' + i % 26));
    ASSERT_TRUE(SaveFile::writeAtomically(targetPath(), payload).ok());
    EXPECT_EQ(readFile(targetPath()), payload);
    EXPECT_GE(shim.callCount(FaultShim::Op::Write), int(payload.size() / 4093));
}

TEST(SaveFile, AWriteErrorSticksToLaterWritesAndTheCommit)
{
    writeFile(targetPath(), "old");
    FaultShim shim;
    shim.failAt(FaultShim::Op::Write, 1, ENOSPC);
    SaveFile file(targetPath());
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.write(bigPayload('a')), -1);
    // The shim would let this one through; the earlier failure must still stop it.
    EXPECT_EQ(file.write(bigPayload('b')), -1);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Write), 1);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(file.error().code(), ENOSPC);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 0);
    EXPECT_EQ(readFile(targetPath()), QByteArray("old"));
    EXPECT_EQ(folderEntries(folder()), QStringList{QStringLiteral("doc.json")});
}

TEST(SaveFile, BufferedSmallWritesReportAWriteFailureAtCommit)
{
    writeFile(targetPath(), "old");
    FaultShim shim;
    shim.failAt(FaultShim::Op::Write, 1, EIO);
    SaveFile file(targetPath());
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.write(QByteArray("small")), 5);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(file.error().code(), EIO);
    EXPECT_EQ(readFile(targetPath()), QByteArray("old"));
    EXPECT_EQ(folderEntries(folder()), QStringList{QStringLiteral("doc.json")});
}

TEST(SaveFile, AFailedFolderFlushAfterTheRenameIsOnlyLogged)
{
    writeFile(targetPath(), "old");
    test::LogCapture log;
    FaultShim shim;
    shim.failAt(FaultShim::Op::Fsync, 2, EIO); // the first flushes the file, the second the folder
    SaveFile file(targetPath());
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.write(QByteArray("new")), 3);
    EXPECT_TRUE(file.commit()) << file.errorString().toStdString();
    EXPECT_EQ(shim.callCount(FaultShim::Op::Fsync), 2);
    EXPECT_EQ(readFile(targetPath()), QByteArray("new"));
    EXPECT_TRUE(log.contains(QStringLiteral("folder could not be flushed")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(SaveFile, SavingThroughASymbolicLinkReplacesItsTarget)
{
    const QString real = folder() + QStringLiteral("/real.json");
    const QString link = folder() + QStringLiteral("/link.json");
    writeFile(real, "old");
    ASSERT_TRUE(QFile::link(real, link));
    ASSERT_TRUE(SaveFile::writeAtomically(link, "new").ok());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(real), QByteArray("new"));
    EXPECT_EQ(folderEntries(folder()),
              (QStringList{QStringLiteral("link.json"), QStringLiteral("real.json")}));
}

// realpath runs only for a link; when it fails, the save must not fall back to renaming
// over the link itself (which would turn the link into a plain file).
TEST(SaveFile, AFailedResolutionOfASymbolicLinkFailsAtOpenAndKeepsLinkAndTarget)
{
    const QString real = folder() + QStringLiteral("/real.json");
    const QString link = folder() + QStringLiteral("/link.json");
    writeFile(real, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, link));
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Realpath, 1, ELOOP);
        SaveFile file(link);
        EXPECT_FALSE(file.open());
        EXPECT_EQ(file.error().code(), ELOOP) << file.errorString().toStdString();
        EXPECT_EQ(file.write(QByteArray("new")), -1);
        EXPECT_FALSE(file.commit());
        EXPECT_EQ(shim.callCount(FaultShim::Op::Realpath), 1);
        EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 0);
    }
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(real), QByteArray("old"));
    EXPECT_EQ(modeOf(real), mode_t(0640));
    EXPECT_EQ(folderEntries(folder()),
              (QStringList{QStringLiteral("link.json"), QStringLiteral("real.json")}));

    // A plain file never asks for its real path.
    FaultShim shim;
    ASSERT_TRUE(SaveFile::writeAtomically(real, "plain").ok());
    EXPECT_EQ(shim.callCount(FaultShim::Op::Realpath), 0);
}

TEST(SaveFile, WriteAtomicallyReturnsTheError)
{
    const Status status = SaveFile::writeAtomically(folder() + QStringLiteral("/missing/doc.json"), "x");
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code(), ENOENT);
}

TEST(SaveFile, RemoveStaleTemporariesRemovesOnlyTheTargetsTemporaries)
{
    writeFile(targetPath(), "keep");
    writeFile(folder() + QStringLiteral("/doc.json.corvex-tmp-Ab12Cd"), "stale");
    writeFile(folder() + QStringLiteral("/doc.json.corvex-tmp-zzzzzz"), "stale");
    writeFile(folder() + QStringLiteral("/other.json.corvex-tmp-Ab12Cd"), "someone else's");
    writeFile(folder() + QStringLiteral("/doc.json.corrupt"), "kept aside");
    EXPECT_EQ(SaveFile::removeStaleTemporaries(folder(), QStringLiteral("doc.json")), 2);
    EXPECT_EQ(folderEntries(folder()),
              (QStringList{QStringLiteral("doc.json"), QStringLiteral("doc.json.corrupt"),
                           QStringLiteral("other.json.corvex-tmp-Ab12Cd")}));
    EXPECT_EQ(
        SaveFile::removeStaleTemporaries(folder() + QStringLiteral("/missing"), QStringLiteral("doc.json")),
        0);
}

// Injected failures at every step of a save: each must keep the old content, report the
// errno, leave no temporary file and no open descriptor.
struct InjectedFault
{
    const char* name;
    FaultShim::Op op;
    int k;
    bool namedTemporary; // O_TMPFILE made to fail with EOPNOTSUPP first
    bool failsAtOpen;
};

void PrintTo(const InjectedFault& fault, std::ostream* out)
{
    *out << fault.name;
}

class SaveFileInjectedFault : public ::testing::TestWithParam<InjectedFault>
{};

TEST_P(SaveFileInjectedFault, KeepsTheOldContentReportsTheFailureAndLeavesNoTemporary)
{
    const InjectedFault fault = GetParam();
    if (fault.op == FaultShim::Op::Link && !unnamedTemporariesWork())
        GTEST_SKIP() << "the test folder's file system has no O_TMPFILE";
    const QByteArray old = bigPayload('o');
    writeFile(targetPath(), old);
    const int descriptorsBefore = saveFileOpenDescriptors();
    {
        FaultShim shim;
        if (fault.namedTemporary)
            shim.failAt(FaultShim::Op::Open, 1, EOPNOTSUPP);
        shim.failAt(fault.op, fault.k, ENOSPC);

        SaveFile file(targetPath());
        if (fault.failsAtOpen) {
            EXPECT_FALSE(file.open());
        } else {
            ASSERT_TRUE(file.open()) << file.errorString().toStdString();
            file.write(bigPayload('n'));
            EXPECT_FALSE(file.commit());
        }
        EXPECT_EQ(shim.callCount(fault.op), fault.k) << "the failure was never injected";
        EXPECT_EQ(file.error().domain(), Error::PosixDomain);
        EXPECT_EQ(file.error().code(), ENOSPC) << file.errorString().toStdString();
        EXPECT_FALSE(file.errorString().isEmpty());
        EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), fault.op == FaultShim::Op::Rename ? 1 : 0);
    }
    EXPECT_TRUE(readFile(targetPath()) == old) << "the old file was changed";
    EXPECT_EQ(folderEntries(folder()), QStringList{QStringLiteral("doc.json")});
    EXPECT_EQ(saveFileOpenDescriptors(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    EverySaveStep, SaveFileInjectedFault,
    ::testing::Values(InjectedFault{"OpenUnnamed", FaultShim::Op::Open, 1, false, true},
                      InjectedFault{"OpenNamed", FaultShim::Op::Open, 2, true, true},
                      InjectedFault{"WriteUnnamed", FaultShim::Op::Write, 1, false, false},
                      InjectedFault{"WriteNamed", FaultShim::Op::Write, 1, true, false},
                      InjectedFault{"FsyncUnnamed", FaultShim::Op::Fsync, 1, false, false},
                      InjectedFault{"FsyncNamed", FaultShim::Op::Fsync, 1, true, false},
                      InjectedFault{"LinkUnnamed", FaultShim::Op::Link, 1, false, false},
                      InjectedFault{"CloseUnnamed", FaultShim::Op::Close, 1, false, false},
                      InjectedFault{"CloseNamed", FaultShim::Op::Close, 1, true, false},
                      InjectedFault{"RenameUnnamed", FaultShim::Op::Rename, 1, false, false},
                      InjectedFault{"RenameNamed", FaultShim::Op::Rename, 1, true, false},
                      InjectedFault{"StatOfTheFile", FaultShim::Op::Stat, 1, false, true},
                      InjectedFault{"StatOfTheFolder", FaultShim::Op::Stat, 2, false, true},
                      InjectedFault{"LstatOfTheFile", FaultShim::Op::Lstat, 1, false, true},
                      InjectedFault{"FchmodUnnamed", FaultShim::Op::Fchmod, 1, false, true},
                      InjectedFault{"FchmodNamed", FaultShim::Op::Fchmod, 1, true, true}),
    [](const ::testing::TestParamInfo<InjectedFault>& info) { return std::string(info.param.name); });

TEST(FaultShim, CountsCallsFromInstallationAndRestoresTheRealCallsWhenDestroyed)
{
    const QByteArray path = QFile::encodeName(folder() + QStringLiteral("/probe"));
    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Mkdir, 2, EROFS);
        EXPECT_EQ(SysCalls::mkdir(path.constData(), 0700), 0);
        EXPECT_EQ(SysCalls::mkdir((path + "2").constData(), 0700), -1);
        EXPECT_EQ(errno, EROFS);
        EXPECT_EQ(SysCalls::mkdir((path + "3").constData(), 0700), -1);
        EXPECT_EQ(shim.callCount(FaultShim::Op::Mkdir), 3);
        EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 0);
    }
    EXPECT_EQ(SysCalls::mkdir((path + "2").constData(), 0700), 0);
    EXPECT_EQ(folderEntries(folder()), (QStringList{QStringLiteral("probe"), QStringLiteral("probe2")}));
}

TEST(FaultShim, HoldsWritesUnderItsFolderUntilReleased)
{
    FaultShim shim;
    shim.holdWritesUnder(folder().toStdString());
    const QByteArray elsewhere = QFile::encodeName(test::testDir() + QStringLiteral("/elsewhere"));
    const int free = SysCalls::open(elsewhere.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(free, 0);
    EXPECT_EQ(SysCalls::write(free, "free", 4), 4) << "a write outside the folder waits";
    SysCalls::close(free);

    const int held =
        SysCalls::open(QFile::encodeName(targetPath()).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    std::atomic<bool> written{false};
    std::thread writer([&] { written = SysCalls::write(held, "held", 4) == 4; });
    ASSERT_TRUE(shim.waitForHeldWrite(10.0));
    EXPECT_FALSE(written) << "the write went on before its release";
    shim.releaseWrites();
    writer.join();
    EXPECT_TRUE(written);
    SysCalls::close(held);
    EXPECT_EQ(readFile(targetPath()), QByteArray("held"));
}
