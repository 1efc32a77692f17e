// What other hands leave in a report folder (a damaged disk, another program, a mistaken
// copy), each entry taken through the next launch's road: processing, packaging and the
// removal of the folder. The road runs in a helper process under a memory limit and an alarm,
// so an endless read or a blocked open fails its row instead of the test program, and the
// helper counts the bytes it read.

#include "crash/BBXCrashReportingController.h"
#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/BBXReportsController.h"
#include "crash/processing/BBXReportFileSelection.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Paths.h"
#include "tests/crash/reports/ControllerTestSupport.h"
#include "tests/crash/reports/ReportTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVEX_HOSTILE_UNDER_ASAN 1
#endif
#endif
#if !defined(CORVEX_HOSTILE_UNDER_ASAN) && defined(__SANITIZE_ADDRESS__)
#define CORVEX_HOSTILE_UNDER_ASAN 1
#endif

namespace corvex {
namespace {

const QByteArray kPrivate = "PRIVATE NOTES OF THE USER, NEVER TO BE SENT";

BBXFileManager hostileTree()
{
    return BBXFileManager(Paths::caches() + QStringLiteral("/com.blackbox.data/") +
                          LOMEscapedBundleIdentifier());
}

// The bytes this process has read so far, whatever read them.
qint64 bytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    }
    return -1;
}

// Half a gigabyte more than the helper holds now: an endless read ends in an allocation failure
// long before it reads gigabytes. The sanitizer's shadow memory rules a limit out there.
void limitMemory()
{
#if !defined(CORVEX_HOSTILE_UNDER_ASAN)
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 size = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                size = line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    const rlim_t limit = rlim_t(size + (qint64(512) << 20));
    const rlimit memory{limit, limit};
    setrlimit(RLIMIT_AS, &memory);
#endif
}

// args: "active" (a report of the last run), "processing" (one a launch left half done) or
// "full-disk" (that one again, every write under the tree failing with ENOSPC). Prints each
// log line and the bytes read.
CORVEX_TEST_HELPER(hostile_report_road)
{
    limitMemory();
    alarm(30);
    auto tree = std::make_shared<BBXFileManager>(hostileTree());
    const bool fromActive = args.value(0) == QLatin1String("active");
    const QString directory =
        (fromActive ? tree->activePath() : tree->processingPath()) + QStringLiteral("/hostile");
    auto delegate = std::make_shared<test::TestControllerDelegate>(QString());
    auto controller = BBXCrashReportingController::create(tree, delegate);
    std::unique_ptr<test::FaultShim> shim;
    if (args.value(0) == QLatin1String("full-disk")) {
        shim = std::make_unique<test::FaultShim>();
        shim->failWritesUnder(QFile::encodeName(tree->structurePath()).toStdString(), ENOSPC);
    }
    test::LogCapture log;
    const qint64 before = bytesRead();
    auto report = BBXInternalReport::reportWithPath(directory);
    if (report)
        (void)controller->reportsController()->prepareAndSubmitReport(report, false, fromActive);
    const qint64 read = bytesRead() - before;
    for (const QString& line : log.lines())
        std::cout << "log\t" << line.toStdString() << '\n';
    std::cout << "read\t" << read << std::endl;
    return report ? 0 : 3;
}

struct RoadRun
{
    int exitCode = -1;
    QStringList log;
    qint64 read = -1;
};

RoadRun runRoad(const QString& mode)
{
    RoadRun run;
    auto helper = test::HelperProcess::start(QStringLiteral("hostile_report_road"), {mode});
    if (!helper)
        return run;
    for (const QByteArray& line : helper->readAll().split('\n')) {
        if (line.startsWith("log\t"))
            run.log.push_back(QString::fromUtf8(line.mid(4)));
        else if (line.startsWith("read\t"))
            run.read = line.mid(5).toLongLong();
    }
    run.exitCode = helper->wait();
    return run;
}

void makeSparse(const QString& path, qint64 size)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(size));
}

void placeLink(const QString& target, const QString& at)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0)
        << std::strerror(errno);
}

// One of the things a path can name that is no file (made elsewhere, moved in).
void moveInNonRegular(const char* kind, const QString& at)
{
    const QString scratch = test::testDir() + QStringLiteral("/scratch");
    QDir(scratch).removeRecursively();
    for (const test::NonRegularFile& special : test::makeNonRegularFiles(scratch, QStringLiteral("entry"))) {
        if (QLatin1String(special.kind) == QLatin1String(kind)) {
            ASSERT_EQ(
                ::rename(QFile::encodeName(special.path).constData(), QFile::encodeName(at).constData()), 0);
            return;
        }
    }
    FAIL() << kind;
}

struct HostileEntry
{
    const char* what;
    // Places the entry in the report folder; `victim` is a private file of the user elsewhere.
    std::function<void(const QString& report, const QString& victim)> place;
    // The log lines the road must write once each: the entry's name and why.
    QStringList lines;
    // The name that must be in no part of the package.
    QString leftOut;
    bool fullDiskFirst = false;
};

const QString kLinkReason = QStringLiteral("The file is not a regular file: it is a symbolic link.");

std::vector<HostileEntry> hostileEntries()
{
    return {
        {"a link to a device",
         [](const QString& r, const QString&) {
             placeLink(QStringLiteral("/dev/zero"), r + QStringLiteral("/zero.bbxrecord"));
         },
         {QStringLiteral("zero.bbxrecord is left out of the report: ") + kLinkReason},
         QStringLiteral("zero.bbxrecord")},
        {"a link to a private file",
         [](const QString& r, const QString& victim) {
             placeLink(victim, r + QStringLiteral("/notes.bbxrecord"));
         },
         {QStringLiteral("notes.bbxrecord is left out of the report: ") + kLinkReason},
         QStringLiteral("notes.bbxrecord")},
        {"a named pipe",
         [](const QString& r, const QString&) {
             moveInNonRegular("a named pipe", r + QStringLiteral("/pipe.bbxrecord"));
         },
         {QStringLiteral("pipe.bbxrecord is left out of the report: The file is not a regular file: it is a "
                         "named pipe.")},
         QStringLiteral("pipe.bbxrecord")},
        {"a socket",
         [](const QString& r, const QString&) {
             moveInNonRegular("a socket", r + QStringLiteral("/socket.bbxrecord"));
         },
         {QStringLiteral(
             "socket.bbxrecord is left out of the report: The file is not a regular file: it is a socket.")},
         QStringLiteral("socket.bbxrecord")},
        {"a folder holding a link to a private file",
         [](const QString& r, const QString& victim) {
             ASSERT_TRUE(QDir().mkpath(r + QStringLiteral("/folder.bbxrecord")));
             placeLink(victim, r + QStringLiteral("/folder.bbxrecord/notes"));
         },
         {QStringLiteral(
             "folder.bbxrecord is left out of the report: The file is not a regular file: it is a folder.")},
         QStringLiteral("folder.bbxrecord")},
        {"a record over the report's bound",
         [](const QString& r, const QString&) {
             makeSparse(r + QStringLiteral("/big.bbxrecord"), BBXReportFileSelection::MaximumReportBytes + 1);
         },
         {QStringLiteral("big.bbxrecord is left out of the report: The report's files hold")},
         QStringLiteral("big.bbxrecord")},
        {"a 2 GB sparse record",
         [](const QString& r, const QString&) {
             makeSparse(r + QStringLiteral("/huge.bbxrecord"), qint64(2) << 30);
         },
         {QStringLiteral(
             "huge.bbxrecord is left out of the report: The file holds 2147483648 bytes or more; at most "
             "268435456 are read.")},
         QStringLiteral("huge.bbxrecord")},
        {"links at the names processing writes",
         [](const QString& r, const QString& victim) {
             placeLink(victim, r + QStringLiteral("/errors_a.bbxrecord.gz"));
             placeLink(victim, r + QStringLiteral("/signal.bbxrecord.symbolicated"));
         },
         {QStringLiteral("Removed errors_a.bbxrecord.gz from the report: it was no regular file"),
          QStringLiteral("Removed signal.bbxrecord.symbolicated from the report: it was no regular file")},
         QString()},
        {"a full disk that left an empty symbolicated record",
         [](const QString& r, const QString&) {
             ASSERT_TRUE(
                 test::writeReportFile(r + QStringLiteral("/signal.bbxrecord.symbolicated"), QByteArray()));
         },
         {},
         QString(),
         true},
    };
}

// The report as a crashed run leaves it: metadata, a non-fatal error, images and a signal
// record whose frames lie in no image now loaded.
void writeCrashedReport(const QString& directory)
{
    test::writeMinimalReport(directory, "hostile", true);
    test::writeReportFile(directory + QStringLiteral("/binary_images.bbxrecord"),
                          "{\"load\":{\"base\":1,\"size\":1}}\n");
    test::writeReportFile(
        directory + QStringLiteral("/signal.bbxrecord"),
        "{\"signal\":{\"time\":1}}\n{\"threads\":[{\"stacktrace\":[16,32],\"crashed\":true}]}\n");
}

QStringList hiddenAndVisible(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// One row: its failures end only the row.
void takeTheRoadWith(const HostileEntry& entry)
{
    {
        BBXFileManager tree = hostileTree();
        QDir(tree.rootPath()).removeRecursively(); // hidden leftovers of an earlier row too
        ASSERT_TRUE(tree.prepareForNewLaunch());
        const QString victim = test::testDir() + QStringLiteral("/private/notes.txt");
        ASSERT_TRUE(test::writeReportFile(victim, kPrivate));
        ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0600), 0);
        const QString active = tree.activePath() + QStringLiteral("/hostile");
        writeCrashedReport(active);
        entry.place(active, victim);

        RoadRun run;
        if (entry.fullDiskFirst) {
            ASSERT_TRUE(tree.moveItemAtPath(active, tree.processingPath()));
            const RoadRun full = runRoad(QStringLiteral("full-disk"));
            EXPECT_EQ(full.exitCode, 0);
            EXPECT_TRUE(hiddenAndVisible(tree.preparedPath()).isEmpty()) << "nothing half-made in prepared/";
            ASSERT_TRUE(QFileInfo::exists(tree.processingPath() + QStringLiteral("/hostile")));
            run = runRoad(QStringLiteral("processing")); // the next launch, with room again
        } else {
            run = runRoad(QStringLiteral("active"));
        }
        ASSERT_EQ(run.exitCode, 0) << "the road ended by a signal (minus its number) or failed";
        EXPECT_GE(run.read, 0);
        EXPECT_LT(run.read, 4 * BBXReportFileSelection::MaximumReportBytes) << "bytes read";
        for (const QString& line : entry.lines)
            EXPECT_EQ(run.log.filter(line).size(), 1) << line.toStdString() << "\n"
                                                      << run.log.join(u'\n').toStdString();

        const QStringList prepared = hiddenAndVisible(tree.preparedPath());
        ASSERT_EQ(prepared.size(), 1) << prepared.join(u' ').toStdString();
        QFile package(tree.preparedPath() + QLatin1Char('/') + prepared.front());
        ASSERT_TRUE(package.open(QIODevice::ReadOnly));
        const QByteArray body = package.readAll();
        const auto parts = test::reportParts(body, QFileInfo(package).completeBaseName().toLatin1());
        for (const char* name :
             {"metadata.bbxrecord", "errors_a.bbxrecord", "binary_images.bbxrecord", "signal.bbxrecord"})
            EXPECT_EQ(parts.count(name), 1u) << name;
        ASSERT_EQ(parts.count("signal.bbxrecord.symbolicated"), 1u) << "the names are made and sent";
        EXPECT_TRUE(parts.at("signal.bbxrecord.symbolicated").startsWith("{\"threads\":[[{\"symbol\":null"));
        if (!entry.leftOut.isEmpty()) {
            EXPECT_EQ(parts.count(entry.leftOut.toUtf8()), 0u);
        }
        EXPECT_FALSE(body.contains(kPrivate));
        for (const auto& part : parts)
            EXPECT_FALSE(part.second.contains(kPrivate)) << part.first.toStdString();

        QFile kept(victim);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << "the private file is never removed";
        EXPECT_EQ(kept.readAll(), kPrivate) << "nor written through a link";
        EXPECT_FALSE(QFileInfo::exists(tree.processingPath() + QStringLiteral("/hostile")));
    }
}

TEST(HostileReportFiles, EveryEntryIsLeftOutOrRemovedWithOneLineAndTheRestOfTheReportIsSent)
{
    for (const HostileEntry& entry : hostileEntries()) {
        SCOPED_TRACE(entry.what);
        takeTheRoadWith(entry);
    }
}

} // namespace
} // namespace corvex
