// Saves killed between naming their temporary file and the rename: a child process keeps
// replacing one file with one writer and says when a temporary got its name; the test kills
// it soon after. Whatever a kill leaves must be gone once the next save of the same file has
// run, for every writer that replaces a file.

#include "formats/ExportImport.h"
#include "platform/core/Paths.h"
#include "platform/core/StaleTemporarySweep.h"
#include "platform/core/SysCalls.h"
#include "tests/formats/ReplacingWritersTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

using namespace corvex;
using corvex::test::writers::WriterCase;

namespace {

constexpr int kSoakWriterSize = 200;

std::atomic<bool> gStaleRefuseUnnamed{false};
std::atomic<int> gStaleNamedPauseMicroseconds{0};

void staleSay(const char* text)
{
    // Straight to the pipe: the line is out before the next system call.
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, text, std::strlen(text));
}

bool isTemporaryName(const char* path)
{
    return std::strstr(path, ".corvex-tmp-") != nullptr;
}

// A temporary has its name from here on: say so, then hold still a while so that the kill
// that follows lands before the rename.
void staleNamed()
{
    staleSay("named\n");
    std::this_thread::sleep_for(std::chrono::microseconds(gStaleNamedPauseMicroseconds.load()));
}

int staleOpen(const char* path, int flags, mode_t mode)
{
    // What a file system without O_TMPFILE gets: the temporary has a name from the start.
    if (gStaleRefuseUnnamed.load() && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) && isTemporaryName(path))
        staleNamed();
    return fd;
}

int staleLinkat(int fromDirFd, const char* from, int toDirFd, const char* to, int flags)
{
    const int rc = ::linkat(fromDirFd, from, toDirFd, to, flags);
    if (rc == 0 && isTemporaryName(to))
        staleNamed();
    return rc;
}

} // namespace

// Replaces the file with the writer again and again (forever with 0 saves), saying "saved"
// after each save. args: writer name, path, "named"|"unnamed" temporaries, saves, pause
// after naming a temporary in microseconds.
CORVEX_TEST_HELPER(staleTemporaryWriter)
{
    const auto writer = test::writers::writerNamed(args.value(0));
    if (!writer)
        return 2;
    const QString path = args.value(1);
    gStaleRefuseUnnamed.store(args.value(2) == QLatin1String("named"));
    const int saves = args.value(3).toInt();
    gStaleNamedPauseMicroseconds.store(args.value(4).toInt());
    SysCalls::Hooks hooks;
    hooks.open = &staleOpen;
    hooks.linkat = &staleLinkat;
    SysCalls::installHooks(hooks);
    for (int i = 0; saves == 0 || i < saves; ++i) {
        if (!test::writers::saveWith(writer->writer, path, i % 7, kSoakWriterSize)) {
            staleSay("save failed\n");
            return 1;
        }
        staleSay("saved\n");
    }
    return 0;
}

namespace {

// Reads lines until one equals `wanted`; false when the stream ends or times out first.
bool staleWaitFor(test::HelperProcess& helper, const QByteArray& wanted, double timeoutSeconds,
                  QByteArrayList& seen)
{
    for (;;) {
        const auto line = helper.readLine(timeoutSeconds);
        if (!line)
            return false;
        seen.append(*line);
        if (*line == wanted)
            return true;
    }
}

quint32 staleSoakSeed()
{
    bool ok = false;
    const quint32 fromEnvironment = qEnvironmentVariable("CORVEX_CRASH_TEST_SEED").toUInt(&ok);
    return ok ? fromEnvironment : std::random_device{}();
}

class StaleTemporarySoak : public ::testing::TestWithParam<WriterCase>
{};

} // namespace

TEST_P(StaleTemporarySoak, AKilledSaveLeavesNoTemporaryOnceTheNextSaveOfTheFileHasRun)
{
    const WriterCase writer = GetParam();
    const quint32 seed = staleSoakSeed();
    RecordProperty("seed", int(seed));
    std::printf("stale temporary soak seed %u (set CORVEX_CRASH_TEST_SEED to repeat)\n", seed);
    std::mt19937 rng(seed);
    const int runs = test::soakRuns(200, 5, 3);
    const double timeout = test::isSanitized() ? 300 : 120;
    const int pause = test::isSanitized() ? 40000 : 20000;
    // Most kills land while a named temporary waits for its rename.
    std::uniform_int_distribution<int> killDelay(0, pause * 3 / 4);
    std::bernoulli_distribution namedTemporaries(0.5);
    const auto started = std::chrono::steady_clock::now();

    const QString folder = test::testDir() + QStringLiteral("/soak-") + QLatin1String(writer.name);
    QDir().mkpath(folder);
    const QString fileName = QLatin1String(writer.fileName);
    const QString path = folder + QLatin1Char('/') + fileName;

    QStringList leftBehind;
    int killsLeavingOne = 0;
    int removedByTheNextSave = 0;
    qint64 largestLeft = 0;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(QStringLiteral("run %1 (seed %2)").arg(run).arg(seed).toStdString());
        const bool named = namedTemporaries(rng);
        auto helper = test::HelperProcess::start(QStringLiteral("staleTemporaryWriter"),
                                                 {QLatin1String(writer.name), path,
                                                  named ? QStringLiteral("named") : QStringLiteral("unnamed"),
                                                  QStringLiteral("0"), QString::number(pause)});
        ASSERT_TRUE(helper);
        QByteArrayList lines;
        ASSERT_TRUE(staleWaitFor(*helper, "saved", timeout, lines)) << lines.join(' ').toStdString();
        // The first save of the new process cleaned what the last kill left.
        for (const QString& name : leftBehind)
            EXPECT_FALSE(QFileInfo::exists(folder + QLatin1Char('/') + name)) << name.toStdString();
        removedByTheNextSave += int(leftBehind.size());

        ASSERT_TRUE(staleWaitFor(*helper, "named", timeout, lines)) << lines.join(' ').toStdString();
        std::this_thread::sleep_for(std::chrono::microseconds(killDelay(rng)));
        ASSERT_TRUE(helper->kill(SIGKILL));
        EXPECT_EQ(helper->wait(), -SIGKILL);

        leftBehind = test::writers::temporariesOf(folder, fileName);
        if (!leftBehind.isEmpty())
            ++killsLeavingOne;
        for (const QString& name : leftBehind)
            largestLeft = std::max(largestLeft, QFileInfo(folder + QLatin1Char('/') + name).size());
        if (HasFailure())
            break;
    }

    // A last save that is not killed leaves the file and nothing else.
    auto helper = test::HelperProcess::start(QStringLiteral("staleTemporaryWriter"),
                                             {QLatin1String(writer.name), path, QStringLiteral("named"),
                                              QStringLiteral("1"), QStringLiteral("0")});
    ASSERT_TRUE(helper);
    QByteArrayList lines;
    EXPECT_TRUE(staleWaitFor(*helper, "saved", timeout, lines)) << lines.join(' ').toStdString();
    EXPECT_EQ(helper->wait(), 0);
    removedByTheNextSave += int(leftBehind.size());
    EXPECT_EQ(test::writers::temporariesOf(folder, fileName), QStringList());
    EXPECT_TRUE(QFileInfo::exists(path));

    RecordProperty("kills", runs);
    RecordProperty("killsLeavingATemporary", killsLeavingOne);
    test::reportSoak(
        QStringLiteral("%1: %2 kills in %3 s, %4 left a temporary (largest %5 bytes), %6 "
                       "temporaries removed by the next save, none left")
            .arg(QLatin1String(writer.name))
            .arg(runs)
            .arg(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0, 'f', 1)
            .arg(killsLeavingOne)
            .arg(largestLeft)
            .arg(removedByTheNextSave));
    EXPECT_GE(killsLeavingOne * 2, runs) << "at least half of the kills land between naming and the rename";
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, StaleTemporarySoak, ::testing::ValuesIn(test::writers::allWriters()),
                         [](const ::testing::TestParamInfo<WriterCase>& info) {
                             return test::writers::testNameOf(info.param.name);
                         });

namespace {

// Kills a save of `writer` once its temporary has its name (the writer then waits a minute
// before the rename), and answers the temporaries the kill left.
QStringList staleKilledBetweenNamingAndRename(const WriterCase& writer, const QString& path)
{
    auto helper = test::HelperProcess::start(QStringLiteral("staleTemporaryWriter"),
                                             {QLatin1String(writer.name), path, QStringLiteral("named"),
                                              QStringLiteral("1"), QStringLiteral("60000000")});
    EXPECT_TRUE(helper);
    if (!helper)
        return {};
    QByteArrayList lines;
    EXPECT_TRUE(staleWaitFor(*helper, "named", 60, lines)) << lines.join(' ').toStdString();
    EXPECT_TRUE(helper->kill(SIGKILL));
    EXPECT_EQ(helper->wait(), -SIGKILL);
    return test::writers::temporariesOf(QFileInfo(path).path(), QFileInfo(path).fileName());
}

} // namespace

// What the next run does without saving again: at its start it cleans the program's own
// folders, and opening a user's document cleans beside it.
TEST(StaleTemporaryAfterAKill, NothingIsLeftOnceTheProgramStartsAgainAndTheDocumentIsOpened)
{
    const auto attachment = test::writers::writerNamed(QStringLiteral("attachment"));
    const auto document = test::writers::writerNamed(QStringLiteral("archive-export"));
    ASSERT_TRUE(attachment && document);

    // The temporary location's attachments, cleaned by the start.
    const QString attachments = Paths::applicationSupport() + QLatin1Char('/') + Paths::appFolderName() +
                                QStringLiteral("/volatile/attachments");
    QDir().mkpath(attachments);
    const QString picture = attachments + QLatin1Char('/') + QLatin1String(attachment->fileName);
    ASSERT_EQ(staleKilledBetweenNamingAndRename(*attachment, picture).size(), 1);
    EXPECT_EQ(StaleTemporarySweep::run(StaleTemporarySweep::ownFolders()), 1);
    EXPECT_EQ(test::writers::temporariesOf(attachments, QLatin1String(attachment->fileName)), QStringList());

    // A user's document: the temporary beside it goes when it is opened.
    const QString folder = Paths::home() + QStringLiteral("/Documents");
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + QLatin1String(document->fileName);
    ASSERT_TRUE(test::writers::saveWith(document->writer, path, 0, kSoakWriterSize));
    ASSERT_EQ(staleKilledBetweenNamingAndRename(*document, path).size(), 1);
    EXPECT_EQ(StaleTemporarySweep::run(StaleTemporarySweep::ownFolders()), 0) << "not one of the program's";
    bool opened = false;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path), [](const ObjectID&, const QByteArray&, auto stored) { stored(true); },
        [&](const DocumentImporter::Read& read) { opened = read.ok(); });
    ASSERT_TRUE(test::runUntil([&] { return opened; }, 60));
    EXPECT_EQ(test::writers::temporariesOf(folder, QLatin1String(document->fileName)), QStringList());
}
