// The road of a crash report: a probe run crashes, the next run finds its report, names its
// frames, packages it and uploads it to the vendor-service stand-in on 127.0.0.1, and the
// report tree ends empty.

#include "crash/BBXFileManager.h"
#include "crash/Blackbox.h"
#include "crash/BlackboxErrorRecorder.h"
#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/processing/BBXStackFrame.h"
#include "crash/runtime/BBXFileReader.h"
#include "kit/core/Loom.h"
#include "model/Globals.h"
#include "platform/core/Bundle.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/Zlib.h"
#include "platform/net/HttpSession.h"
#include "tallykit/Tally.h"
#include "tests/crash/reports/ReportTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern "C" {
volatile int* gCorvexReportsProbeNull = nullptr;
}

namespace corvex {
namespace {

const QByteArray ProbeIdentifier = "com.example.crashprobe";

// Kept out of the dynamic symbol table: only the file's own .symtab names it.
__attribute__((noinline)) void probeCrashInStaticFunction()
{
    *gCorvexReportsProbeNull = 1;
    std::abort();
}

__attribute__((noinline)) void probeCrashInThreadBody()
{
    *gCorvexReportsProbeNull = 2;
    std::abort();
}

QVariantMap probeInfo()
{
    return QVariantMap{
        {QStringLiteral("CFBundleIdentifier"), QString::fromLatin1(ProbeIdentifier)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral("7")},
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
        {QStringLiteral("Loom"),
         QVariantMap{{QStringLiteral("APIKey"), QStringLiteral("probe-api-key")},
                     {QStringLiteral("Kits"),
                      QVariantList{QVariantMap{{QStringLiteral("KitName"), QStringLiteral("Blackbox")},
                                               {QStringLiteral("KitInfo"), QVariantMap()}}}}}}};
}

// Starts the kit as the application does, against the server at args[1]; an unconfigured
// build's when that is empty.
void probeStart(const QStringList& args)
{
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    const QByteArray base = args.value(1).toUtf8();
    for (const char* variable : {"BlackboxReportsEndpoint", "SettingsEndpoint", "ConfigureEndpoint"}) {
        if (base.isEmpty())
            qunsetenv(variable);
        else
            qputenv(variable, base);
    }
    Bundle::supplyInfoDictionary(probeInfo());
    Tally::registerKitClass();
    Blackbox::registerKitClass();
    Loom::startAtLaunch({Blackbox::kitClass()});
}

bool heldByAnotherRun(const QString& directory)
{
    const int fd =
        ::open(QFile::encodeName(directory + QStringLiteral("/.lock")).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// Raises `count` non-fatal errors from 8 threads, numbered in the order they are raised.
void probeRaiseErrors(int count)
{
    BlackboxErrorRecorder::install();
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int n = next++; n < count; n = next++)
                Globals::raiseCorvexError(QStringLiteral("probe error %1").arg(n));
        });
    for (std::thread& thread : threads)
        thread.join();
    BBXUserLoggingSync([] {});
}

CORVEX_TEST_HELPER(reports_probe)
{
    // Whether the kit has given up asking for settings, and the crash reporter on sending.
    static std::atomic<bool> settingsSettled{false};
    static std::atomic<bool> reportsSettled{false};
    if (args.value(0) == QLatin1String("unconfigured")) {
        Log::setSink([](LogLevel level, const QString& message) {
            if (message.startsWith(QLatin1String("[Loom] No settings endpoint")) ||
                message.startsWith(QLatin1String("[Loom] failed to download settings")))
                settingsSettled = true;
            if (message.contains(QLatin1String("No reports endpoint")) ||
                message.contains(QLatin1String("failed to submit report")))
                reportsSettled = true;
            std::cout << "log: " << Log::levelName(level).toStdString() << ": " << message.toStdString()
                      << std::endl;
        });
    }
    if (args.value(0) == QLatin1String("report-killed")) {
        // Killed at a seeded point of the start: processing, packaging or the upload.
        const int microseconds = args.value(2).toInt();
        std::thread([microseconds] {
            ::usleep(useconds_t(microseconds));
            ::kill(::getpid(), SIGKILL);
        }).detach();
    }
    probeStart(args);
    const QString mode = args.value(0);
    BBXFileManager early(BBXFileManager::defaultRootPath());
    if (mode == QLatin1String("crash-early"))
        probeCrashInStaticFunction();
    if (mode == QLatin1String("report-urgent")) {
        // An urgent report went up synchronously inside the start.
        std::cout << (early.preparedPathContents().isEmpty() && early.processingPathContents().isEmpty()
                          ? "urgent-sent"
                          : "urgent-left")
                  << std::endl;
    }
    // The first main-queue turn removes the launch marker: the crash is then not urgent.
    BBXFileManager tree(BBXFileManager::defaultRootPath());
    test::runUntil([&] { return BBXContextIsInitialized() && !QFile::exists(tree.launchMarkerPath()); }, 10);
    if (mode == QLatin1String("crash-static"))
        probeCrashInStaticFunction();
    if (mode == QLatin1String("report-when-settled")) {
        // Once the start has taken up the earlier reports, a run that leaves one: a crash, or
        // where the sanitizers take crashes, errors.
        const QString own = Loom::sharedSDK().executionIdentifier();
        test::runUntil(
            [&] {
                const QStringList active = tree.activePathContents();
                return active.size() == 1 && active.front().endsWith(own) &&
                       tree.processingPathContents().isEmpty() && tree.preparedPathContents().size() <= 20;
            },
            20);
        if (test::isSanitized()) {
            probeRaiseErrors(3);
            return 0;
        }
        probeCrashInStaticFunction();
    }
    if (mode == QLatin1String("crash-thread")) {
        std::thread body([] { probeCrashInThreadBody(); });
        body.join();
    }
    if (mode == QLatin1String("errors")) {
        probeRaiseErrors(args.value(2).toInt());
        // A custom exception whose frames carry every field, and one with the address only.
        BBXStackFrame whole = BBXStackFrame::stackFrameWithAddress(0x1234);
        whole.symbol = QStringLiteral("probeFunction()");
        whole.library = QStringLiteral("libprobe.so");
        whole.fileName = QStringLiteral("probe.cpp");
        whole.lineNumber = 42;
        whole.offset = 7;
        Blackbox::sharedInstance()->recordCustomExceptionName(
            QStringLiteral("ProbeException"), QStringLiteral("probe reason"),
            {whole, BBXStackFrame::stackFrameWithAddress(0x5678)});
        BBXUserLoggingSync([] {});
        return 0;
    }
    if (mode == QLatin1String("unconfigured")) {
        // Until the earlier reports are packaged and the kit has seen it has no settings to ask for.
        const QString own = Loom::sharedSDK().executionIdentifier();
        const bool packaged = test::runUntil(
            [&] {
                const QStringList active = tree.activePathContents();
                return active.size() == 1 && active.front().endsWith(own) &&
                       tree.processingPathContents().isEmpty() && settingsSettled && reportsSettled;
            },
            20);
        std::cout << (packaged ? "packaged" : "unpackaged") << " " << HttpSession::transfersStartedInProcess()
                  << std::endl;
        return 0;
    }
    // "report": until the earlier reports are gone from the tree. The work queue moves a report
    // on (active, processing, prepared, gone) while this looks, so the folders are listed in
    // that order: a report that moves between two listings is met again in a later one.
    const QString own = Loom::sharedSDK().executionIdentifier();
    const bool empty = test::runUntil(
        [&] {
            for (const QString& path : tree.activePathContents()) {
                if (!path.endsWith(own) && !heldByAnotherRun(path))
                    return false;
            }
            return tree.processingPathContents().isEmpty() && tree.preparedPathContents().isEmpty();
        },
        20);
    std::cout << (empty ? "empty" : "left") << std::endl;
    return 0;
}

struct Upload
{
    QByteArray boundary;
    QString bodyPath;
};

bool crashesAreSanitized()
{
    return corvex::test::isSanitized();
}

// The sanitizers' own signal handlers take the probes' crashes.
#define CORVEX_SKIP_CRASH_UNDER_SANITIZERS()                                                                 \
    if (crashesAreSanitized())                                                                               \
    GTEST_SKIP() << "the sanitizers' own signal handlers take the probes' crashes"

class ReportRoadTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(mService.start()); }

    // Run 1 crashes with `mode`; answers the report directory's name.
    QString crashRun(const QString& mode)
    {
        if (crashesAreSanitized())
            return QString();
        auto crash = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                                {mode, QString::fromUtf8(mService.baseUrl())});
        EXPECT_TRUE(crash);
        if (!crash)
            return QString();
        EXPECT_EQ(crash->wait(), -SIGSEGV);
        BBXFileManager tree(Paths::caches() + QStringLiteral("/com.blackbox.data/") +
                            QString::fromLatin1(ProbeIdentifier));
        const QStringList active = tree.activePathContents();
        EXPECT_EQ(active.size(), 1) << active.join(QLatin1Char(' ')).toStdString();
        return active.isEmpty() ? QString() : QFileInfo(active.front()).fileName();
    }

    // Run 2 reports; answers its verdict line.
    QByteArray reportRun() { return reportRunWith(QStringLiteral("report")); }
    QByteArray reportRunWith(const QString& mode)
    {
        auto report = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                                 {mode, QString::fromUtf8(mService.baseUrl())});
        EXPECT_TRUE(report);
        if (!report)
            return QByteArray();
        const QByteArray line = report->readLine(40).value_or("none");
        EXPECT_EQ(report->wait(), 0);
        return line;
    }

    QByteArray check(const test::LoopbackRequest& request, const QString& reportId, const QString& crashFile,
                     const QString& probe)
    {
        const QByteArray type = request.header("Content-Type");
        const QByteArray boundary = type.mid(type.indexOf("boundary=") + 9);
        const QString bodyPath = mTemporary.filePath(QStringLiteral("body"));
        QFile body(bodyPath);
        if (!body.open(QIODevice::WriteOnly) || body.write(request.body) != request.body.size())
            return "unwritable";
        body.close();
        const test::ProgramRun run =
            test::runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                  {QStringLiteral(CORVEX_CRASH_REPORTS_TEST_DIR "/check_report_upload.py"),
                                   bodyPath, QString::fromLatin1(boundary), reportId, crashFile, probe});
        return run.output.trimmed();
    }

    void expectRoad(const QString& mode, const QString& probe)
    {
        const QString reportId = crashRun(mode);
        EXPECT_EQ(reportRun(), QByteArray("empty"));
        const auto uploads = mService.requests(test::VendorServiceStandIn::Route::Reports);
        ASSERT_EQ(uploads.size(), 1u);
        const test::LoopbackRequest& upload = uploads.front();
        EXPECT_EQ(upload.method, QByteArray("POST"));
        EXPECT_EQ(upload.header("Content-Length").toLongLong(), upload.bodyBytes);
        EXPECT_EQ(upload.body.size(), upload.bodyBytes);
        EXPECT_EQ(upload.header("User-Agent"), QByteArray("Blackbox Mac SDK/3.8.5"));
        EXPECT_EQ(upload.header("X-Blackbox-API-Key"), QByteArray("probe-api-key"));
        EXPECT_TRUE(check(upload, reportId, QStringLiteral("signal.bbxrecord"), probe).startsWith("ok"))
            << check(upload, reportId, QStringLiteral("signal.bbxrecord"), probe).toStdString();
    }

    BBXFileManager probeTree() const
    {
        return BBXFileManager(Paths::caches() + QStringLiteral("/com.blackbox.data/") +
                              QString::fromLatin1(ProbeIdentifier));
    }
    std::map<QByteArray, QByteArray> onlyUpload()
    {
        const auto uploads = mService.requests(test::VendorServiceStandIn::Route::Reports);
        EXPECT_EQ(uploads.size(), 1u);
        if (uploads.empty())
            return {};
        const QByteArray type = uploads.front().header("Content-Type");
        EXPECT_EQ(uploads.front().body.size(), uploads.front().header("Content-Length").toLongLong());
        return test::reportParts(uploads.front().body, type.mid(type.indexOf("boundary=") + 9));
    }

    QTemporaryDir mTemporary;
    test::VendorServiceStandIn mService{ProbeIdentifier};
};

TEST_F(ReportRoadTest, ACrashInAStaticFunctionIsNamedFromTheFileSymbolTableAndUploadedAtTheNextRun)
{
    CORVEX_SKIP_CRASH_UNDER_SANITIZERS();
    expectRoad(QStringLiteral("crash-static"), QStringLiteral("probeCrashInStaticFunction"));
}

TEST_F(ReportRoadTest, ACrashInAThreadBodyIsNamedAndUploadedAtTheNextRun)
{
    CORVEX_SKIP_CRASH_UNDER_SANITIZERS();
    expectRoad(QStringLiteral("crash-thread"), QStringLiteral("probeCrashInThreadBody"));
}

// The kill loop: tools/soak runs it at 20 kills.
class ReportRoadSoak : public ReportRoadTest
{};

// The server has a report before its sender hears so and removes the package: a run killed
// in between leaves a sent package in prepared/, and the next run sends it again. Only such
// runs may add an arrival, and several in a row can die there (the seeded kill points hold
// three within 1.4 ms), so the arrivals are held to one plus the runs that died with a package
// waiting, not to a fixed count.
TEST_F(ReportRoadSoak,
       RunsKilledWhileReportingNeverSendATornBodyAndTheReportArrivesAgainOnlyAfterARunDiedWithItsPackage)
{
    CORVEX_SKIP_CRASH_UNDER_SANITIZERS();
    const int kills = test::soakRuns(20, 6, 0);
    const QString reportId = crashRun(QStringLiteral("crash-static"));
    std::mt19937 seeded(39);
    std::uniform_int_distribution<int> point(0, 60000);
    int diedWithAPackage = 0;
    for (int k = 0; k < kills; ++k) {
        auto killed = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                                 {QStringLiteral("report-killed"),
                                                  QString::fromUtf8(mService.baseUrl()),
                                                  QString::number(point(seeded))});
        ASSERT_TRUE(killed);
        if (killed->wait() == -SIGKILL && !probeTree().preparedPathContents().isEmpty())
            ++diedWithAPackage;
    }
    EXPECT_EQ(reportRun(), QByteArray("empty"));
    int arrived = 0;
    for (const test::LoopbackRequest& upload :
         mService.requests(test::VendorServiceStandIn::Route::Reports)) {
        EXPECT_EQ(upload.bodyBytes, upload.header("Content-Length").toLongLong());
        const QByteArray type = upload.header("Content-Type");
        const std::map<QByteArray, QByteArray> parts =
            test::reportParts(upload.body, type.mid(type.indexOf("boundary=") + 9));
        ASSERT_FALSE(parts.empty()) << "a body that does not parse";
        EXPECT_EQ(parts.at("report_id"), reportId.toUtf8());
        ++arrived;
    }
    EXPECT_GE(arrived, 1);
    EXPECT_LE(arrived, 1 + diedWithAPackage);
    test::reportSoak(
        QStringLiteral("%1 reporting runs killed (%2 with a package waiting), the report arrived %3 "
                       "time(s), every body whole")
            .arg(kills)
            .arg(diedWithAPackage)
            .arg(arrived));
    EXPECT_TRUE(probeTree().preparedPathContents().isEmpty());
    EXPECT_TRUE(probeTree().processingPathContents().isEmpty());
}

TEST_F(ReportRoadTest, ACrashBeforeTheFirstTurnIsSentSynchronouslyInsideTheNextStart)
{
    CORVEX_SKIP_CRASH_UNDER_SANITIZERS();
    auto crash =
        test::HelperProcess::start(QStringLiteral("reports_probe"),
                                   {QStringLiteral("crash-early"), QString::fromUtf8(mService.baseUrl())});
    ASSERT_TRUE(crash);
    EXPECT_EQ(crash->wait(), -SIGSEGV);
    EXPECT_TRUE(QFile::exists(probeTree().launchMarkerPath()));
    EXPECT_EQ(reportRunWith(QStringLiteral("report-urgent")), QByteArray("urgent-sent"));
    EXPECT_EQ(onlyUpload().count("signal.bbxrecord.symbolicated"), 1u);
}

TEST_F(ReportRoadTest, NonFatalErrorsFromEightThreadsArriveAsWholeRecordsOfTheNewestOnes)
{
    const int raised = 1000;
    auto errors = test::HelperProcess::start(
        QStringLiteral("reports_probe"),
        {QStringLiteral("errors"), QString::fromUtf8(mService.baseUrl()), QString::number(raised)});
    ASSERT_TRUE(errors);
    EXPECT_EQ(errors->wait(), 0);
    EXPECT_EQ(reportRun(), QByteArray("empty"));
    const std::map<QByteArray, QByteArray> parts = onlyUpload();
    EXPECT_EQ(parts.count("signal.bbxrecord"), 0u);
    int records = 0;
    for (const char* name : {"errors_a.bbxrecord", "errors_b.bbxrecord"}) {
        auto part = parts.find(name);
        if (part == parts.end())
            continue;
        const QList<QByteArray> lines = part->second.split('\n');
        EXPECT_TRUE(lines.back().isEmpty()) << "a torn last line in " << name;
        const ValueArray sections = BBXFileReadSectionsFromData(part->second);
        EXPECT_EQ(qsizetype(sections.size()), lines.size() - 1) << name;
        for (const Value& section : sections) {
            const QByteArray hexInfo = QByteArray(section.value(QStringLiteral("error"))
                                                      .value(QStringLiteral("info"))
                                                      .at(0)
                                                      .at(1)
                                                      .toString()
                                                      .toLatin1());
            const int number =
                QString::fromUtf8(BBXFileHexDecodeBytes(hexInfo)).section(QLatin1Char(' '), 2).toInt();
            // 2 files of 16: what is kept is the last of what was raised.
            EXPECT_GE(number, raised - 200)
                << QString::fromUtf8(BBXFileHexDecodeBytes(hexInfo)).toStdString();
            ++records;
        }
    }
    EXPECT_GT(records, 0);
    EXPECT_LE(records, 32);
    // No beta token is a null; the custom exception's frames keep what they were given.
    const auto part = [&parts](const char* name) {
        const auto found = parts.find(name);
        return found == parts.end() ? QByteArray() : found->second;
    };
    EXPECT_TRUE(part("metadata.bbxrecord").contains("\"beta_token\":null,"))
        << part("metadata.bbxrecord").constData();
    const QByteArray exception = part("custom_exception_a.bbxrecord");
    const auto hex = [](const char* text) { return QByteArray(text).toHex(); };
    EXPECT_TRUE(exception.contains("\"frames\":[{\"pc\":4660,\"symbol\":\"" + hex("probeFunction()") +
                                   "\",\"offset\":7,\"library\":\"" + hex("libprobe.so") + "\",\"file\":\"" +
                                   hex("probe.cpp") +
                                   "\",\"line\":42},{\"pc\":22136,\"offset\":0,\"line\":0}]"))
        << exception.constData();
}

// Crash records, analytics logs, packages and the folders Corvex makes for them are the user's
// alone whatever the umask; the caches folder above them, which Corvex did not make, keeps its
// mode.
TEST_F(ReportRoadTest, RecordsLogsAndTheirFoldersAreTheUsersAloneWhateverTheUmask)
{
    const QString data = Paths::caches() + QStringLiteral("/com.blackbox.data");
    const QByteArray caches = QFile::encodeName(Paths::caches());
    for (const mode_t mask : {mode_t(022), mode_t(077)}) {
        SCOPED_TRACE(mask);
        ASSERT_TRUE(QDir(data).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(Paths::caches()));
        ASSERT_EQ(::chmod(caches.constData(), 0751), 0);
        const test::ScopedUmask umask(mask);
        // A run that crashed (where the sanitizers take crashes, one that recorded errors)...
        if (crashesAreSanitized()) {
            auto errors = test::HelperProcess::start(
                QStringLiteral("reports_probe"),
                {QStringLiteral("errors"), QString::fromUtf8(mService.baseUrl()), QStringLiteral("5")});
            ASSERT_TRUE(errors);
            EXPECT_EQ(errors->wait(), 0);
        } else {
            crashRun(QStringLiteral("crash-static"));
        }
        QStringList names;
        EXPECT_EQ(test::widerThanTheUsers(data, &names), QStringList());
        const QString record = crashesAreSanitized() ? QStringLiteral("/errors_a.bbxrecord")
                                                     : QStringLiteral("/signal.bbxrecord");
        EXPECT_FALSE(names.filter(record).isEmpty()) << names.join(u' ').toStdString();
        // ...and a launch that packages its report and keeps it, with nowhere to send it to.
        auto kept = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                               {QStringLiteral("unconfigured"), QString()});
        ASSERT_TRUE(kept);
        const QByteArray output = kept->readAll();
        EXPECT_EQ(kept->wait(), 0);
        EXPECT_TRUE(output.contains("\npackaged 0\n")) << output.constData();
        EXPECT_EQ(test::widerThanTheUsers(data, &names), QStringList());
        const auto has = [&](const QString& pattern) {
            return !names.filter(QRegularExpression(pattern)).isEmpty();
        };
        EXPECT_TRUE(has(QStringLiteral("/v3/prepared/[^/]+\\.multipartmime$")))
            << names.join(u' ').toStdString();
        for (const char* name : {"/metadata.bbxrecord", "/binary_images.bbxrecord", "/.lock"})
            EXPECT_TRUE(has(QRegularExpression::escape(QLatin1String(name)) + u'$')) << name;
        EXPECT_TRUE(has(QStringLiteral("/analytics/v2/events/[^/]+\\.(log|gz|multipartmime)$")))
            << names.join(u' ').toStdString();
        struct stat info;
        ASSERT_EQ(::stat(caches.constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0751u) << "a folder Corvex did not make";
    }
}

// With no endpoint anywhere, 25 runs that crashed leave the newest 20 reports, oldest removed
// first, and a launch sends nothing and logs no error, one line for each service that has
// nothing to ask. Named later, the stand-in gets every report kept.
TEST_F(ReportRoadTest, WithoutAnEndpointTwentyFiveCrashesLeaveTheNewestTwentyAndALaunchSendsNothing)
{
    BBXFileManager tree = probeTree();
    QList<QByteArray> runs;
    for (int i = 0; i < 25; ++i) {
        auto run = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                              {QStringLiteral("report-when-settled"), QString()});
        ASSERT_TRUE(run);
        EXPECT_EQ(run->wait(), crashesAreSanitized() ? 0 : -SIGSEGV);
        const QStringList active = tree.activePathContents();
        ASSERT_EQ(active.size(), 1) << active.join(u' ').toStdString();
        runs.append(QFileInfo(active.front()).fileName().toLatin1());
        EXPECT_LE(tree.preparedPathContents().size(), 20);
    }
    auto launch = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                             {QStringLiteral("unconfigured"), QString()});
    ASSERT_TRUE(launch);
    const QByteArray output = launch->readAll();
    EXPECT_EQ(launch->wait(), 0);
    EXPECT_TRUE(output.contains("\npackaged 0\n")) << output.constData() << "(the count: requests started)";
    EXPECT_EQ(output.count("log: error:"), 0) << output.constData();
    EXPECT_EQ(output.count("[Loom] No settings endpoint is configured: the kit makes no requests\n"), 1);
    EXPECT_EQ(output.count("No reports endpoint is configured"), 1);
    EXPECT_TRUE(mService.requests().empty());

    QList<QByteArray> newest = runs.mid(5);
    std::sort(newest.begin(), newest.end());
    QList<QByteArray> kept;
    for (const QString& package : tree.preparedPathContents()) {
        QFile file(package);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const auto parts =
            test::reportParts(file.readAll(), QFileInfo(package).completeBaseName().toLatin1());
        kept.append(parts.count("report_id") ? parts.at("report_id") : QByteArray("<unreadable>"));
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, newest);

    EXPECT_EQ(reportRun(), QByteArray("empty"));
    QList<QByteArray> sent;
    for (const test::LoopbackRequest& upload :
         mService.requests(test::VendorServiceStandIn::Route::Reports)) {
        const QByteArray type = upload.header("Content-Type");
        const auto parts = test::reportParts(upload.body, type.mid(type.indexOf("boundary=") + 9));
        sent.append(parts.count("report_id") ? parts.at("report_id") : QByteArray("<unreadable>"));
    }
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, newest);
}

TEST_F(ReportRoadTest, DirectoriesLeftHalfWrittenAreSentAsFarAsTheyReadOrDeletedAndALiveRunIsLeftAlone)
{
    BBXFileManager tree = probeTree();
    ASSERT_TRUE(tree.prepareForNewLaunch());
    const QString active = tree.activePath();
    test::writeMinimalReport(active + QStringLiteral("/torn"), "torn", true);
    test::writeReportFile(active + QStringLiteral("/torn/log_a.bbxrecord"), "{\"log\":{\"msg\":\"61");
    test::writeReportFile(active + QStringLiteral("/junk/whatever.bin"), "\x01\x02");
    test::writeReportFile(active + QStringLiteral("/nometa/signal.bbxrecord"), "{\"signal\":{}}\n");
    test::writeMinimalReport(active + QStringLiteral("/live"), "live", true);
    // Left by runs killed while packaging: a partial package and a processed directory without
    // its metadata.
    const QString partial = tree.preparedPath() + QStringLiteral("/.B.multipartmime.partial");
    test::writeReportFile(partial, "MIME-Version: 1.0\r\n--B\r\n");
    test::writeReportFile(tree.processingPath() + QStringLiteral("/cut/signal.bbxrecord"),
                          "{\"signal\":{}}\n");
    const int lock = ::open(QFile::encodeName(active + QStringLiteral("/live/.lock")).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    reportRun();
    ::close(lock);
    const std::map<QByteArray, QByteArray> parts = onlyUpload();
    EXPECT_EQ(parts.count("report_id") ? parts.at("report_id") : QByteArray(), QByteArray("torn"));
    EXPECT_EQ(parts.count("log_a.bbxrecord"), 1u);
    EXPECT_FALSE(QFileInfo::exists(active + QStringLiteral("/junk")));
    EXPECT_FALSE(QFileInfo::exists(active + QStringLiteral("/nometa")));
    EXPECT_TRUE(QFileInfo::exists(active + QStringLiteral("/live/errors_a.bbxrecord")));
    EXPECT_FALSE(QFileInfo::exists(partial));
    EXPECT_FALSE(QFileInfo::exists(tree.processingPath() + QStringLiteral("/cut")));
}

// A report names the images of another run by path; what lies at such a path now may be
// anything. Each of the four things no reader may block on, at an image path, leaves the
// report sent within the one launch, its frames in that image unnamed.
TEST_F(ReportRoadTest, ImagePathsThatAreNoRegularFilesLeaveTheReportSentWithThoseFramesUnnamed)
{
    BBXFileManager tree = probeTree();
    ASSERT_TRUE(tree.prepareForNewLaunch());
    const QString report = tree.activePath() + QStringLiteral("/hostile");
    test::writeMinimalReport(report, "hostile", false);
    QByteArray images;
    QByteArray stack;
    std::uint64_t base = 0x10000000;
    for (const test::NonRegularFile& special :
         test::makeNonRegularFiles(mTemporary.path(), QStringLiteral("libodd.so"))) {
        images += "{\"load\":{\"base\":" + QByteArray::number(base) + ",\"size\":4096,\"uuid\":\"" +
                  QByteArray::number(base, 16).rightJustified(32, 'a') + "\",\"path\":\"" +
                  special.path.toUtf8() + "\"}}\n";
        stack += (stack.isEmpty() ? "" : ",") + QByteArray::number(base + 16);
        base += 0x100000;
    }
    test::writeReportFile(report + QStringLiteral("/binary_images.bbxrecord"), images);
    test::writeReportFile(report + QStringLiteral("/signal.bbxrecord"),
                          "{\"signal\":{\"number\":11,\"code\":1,\"address\":0}}\n"
                          "{\"threads\":[{\"crashed\":true,\"stacktrace\":[" +
                              stack + "]}]}\n");
    // A bounded wait: a reader blocked on one of them fails the test instead of hanging it.
    auto run = test::HelperProcess::start(QStringLiteral("reports_probe"),
                                          {QStringLiteral("report"), QString::fromUtf8(mService.baseUrl())});
    ASSERT_TRUE(run);
    const QByteArray verdict = run->readLine(60).value_or("no verdict: the run hung");
    if (!run->waitFor(20)) {
        run->kill(SIGKILL);
        (void)run->wait();
    }
    EXPECT_EQ(verdict, QByteArray("empty"));
    const std::map<QByteArray, QByteArray> parts = onlyUpload();
    EXPECT_EQ(parts.count("report_id") ? parts.at("report_id") : QByteArray(), QByteArray("hostile"));
    ASSERT_EQ(parts.count("signal.bbxrecord.symbolicated"), 1u);
    const QByteArray frames = parts.at("signal.bbxrecord.symbolicated");
    // One frame in each image, each placed in its image and named by nothing.
    EXPECT_EQ(frames.count("{\"symbol\":null,\"raw_symbol\":null,\"offset\":16,\"library\":\"libodd.so\"}"),
              4)
        << frames.constData();
    EXPECT_TRUE(tree.processingPathContents().isEmpty());
}

} // namespace
} // namespace corvex
