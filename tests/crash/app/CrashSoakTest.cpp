// The crash loop over the real application: the built `corvex`, on an X server of its own,
// with a test-only library preloaded (CrashFaults.cpp) that crashes it in one way after the
// other; every crash is followed by a launch that must send its report, once, to the
// vendor-service stand-in on 127.0.0.1, without an error line about it. A second loop
// quits the application while the crash report prompt shows: the next launch asks again
// and Send sends the report. tools/soak runs them at 50 crashes of each way. A last run puts
// every hostile entry other hands may leave into the folder of a real crash before the launch
// that sends it.

#include "kit/core/Loom.h"
#include "platform/core/Paths.h"
#include "tests/crash/app/ChildProcess.h"
#include "tests/crash/reports/ReportTestSupport.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::test {
namespace {

// One way of crashing: the library's mode, the signal that ends the process, and the
// function of the library the crashed thread's frames must name.
struct CrashWay
{
    const char* mode;
    int signal;
    const char* function;
    bool overflow = false;
    bool exception = false;
};

const CrashWay kWays[] = {
    {"abrt", SIGABRT, "corvex_fault_abort"},
    {"bus", SIGBUS, "corvex_fault_bus"},
    {"fpe", SIGFPE, "corvex_fault_fpe"},
    {"ill", SIGILL, "corvex_fault_ill"},
    {"segv", SIGSEGV, "corvex_fault_segv"},
    {"sys", SIGSYS, "corvex_fault_sys"},
    {"trap", SIGTRAP, "corvex_fault_trap"},
    {"null-main", SIGSEGV, "corvex_fault_null"},
    {"null-worker", SIGSEGV, "corvex_fault_null"},
    {"overflow-main", SIGSEGV, "corvex_fault_recurse", true},
    {"overflow-thread", SIGSEGV, "corvex_fault_recurse", true},
    {"overflow-qthread", SIGSEGV, "corvex_fault_recurse", true},
    {"overflow-pool", SIGSEGV, "corvex_fault_recurse", true},
    {"overflow-http", SIGSEGV, "corvex_fault_recurse", true},
    {"overflow-queue", SIGSEGV, "corvex_fault_recurse", true},
    {"exception", SIGABRT, "corvex_fault_throw", false, true},
};

// Log lines that speak of trouble with a report; after a crash the launch that sends its
// report must write none of them.
const char* const kReportErrorLines[] = {
    "Unable to read identifier",    "Removing unreadable report",     "Failed to remove file",
    "Failed to move file",          "Unable to move report",          "Unable to package report",
    "Unable to remove a",           "Unable to remove packaged",      "failed to submit report",
    "Unable to setup a new report", "Unable to start crash reporter",
};

const QByteArray kBundle = "com.tallowfen.corvex";

// An X server of the test's own; -displayfd lets it pick a free display without the race
// of several tests probing lock files at once.
class VirtualDisplay
{
public:
    bool start()
    {
        mServer =
            ChildProcess::start(QStringLiteral("/usr/bin/Xvfb"),
                                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                 QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                 QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                                {}, testDir() + QStringLiteral("/xvfb.log"));
        const std::optional<QByteArray> number = mServer ? mServer->readLine(30) : std::nullopt;
        if (!number || number->isEmpty())
            return false;
        mName = ':' + number->trimmed();
        return true;
    }
    ~VirtualDisplay()
    {
        if (mServer && mServer->kill(SIGTERM) && !mServer->wait(10))
            mServer->kill(SIGKILL);
    }
    QByteArray name() const { return mName; }

private:
    std::unique_ptr<ChildProcess> mServer;
    QByteArray mName;
};

// What a soak saw, added up.
struct Tally
{
    int crashes = 0;
    int sent = 0;
    int lost = 0;
    int duplicated = 0;
    int withoutSignalRecord = 0;
    int framesNotNamed = 0;
    int errorLines = 0;
    int wrongEnd = 0;
    QStringList faults; // the first few, for the failure message
    void fault(const QString& what)
    {
        if (faults.size() < 12)
            faults.append(what);
    }
};

class CrashSoak : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo::exists(QStringLiteral(CORVEX_APP_BINARY))) << CORVEX_APP_BINARY;
        ASSERT_TRUE(mDisplay.start()) << "no X server";
        ASSERT_TRUE(mService.start());
    }

    QString reportTree() const { return Paths::caches() + QStringLiteral("/com.blackbox.data/") + kBundle; }
    QString activePath() const { return reportTree() + QStringLiteral("/v3/active"); }

    // Starts the application with the library in `mode`; its log goes to a file of its own.
    // A new document is named by the second it was made in, so a launch waits for the second
    // after the one in which the launch before ended: in the same second it would find the
    // name taken.
    std::unique_ptr<ChildProcess> launch(const QByteArray& mode)
    {
        while (QDateTime::currentSecsSinceEpoch() <= mLastEndSecond)
            ::usleep(10000);
        ChildProcess::Environment environment;
        const QByteArray base = mService.baseUrl();
        environment.set = {{"DISPLAY", mDisplay.name()}, {"LD_PRELOAD", CORVEX_CRASH_FAULTS_LIBRARY},
                           {"CORVEX_FAULT", mode},       {"BlackboxReportsEndpoint", base},
                           {"SettingsEndpoint", base},   {"ConfigureEndpoint", base}};
        environment.unset = {"QT_QPA_PLATFORM"};
        ++mLaunches;
        mLogs.append(testDir() +
                     QStringLiteral("/launch-%1-%2.log").arg(mLaunches).arg(QString::fromLatin1(mode)));
        return ChildProcess::start(QStringLiteral(CORVEX_APP_BINARY), {}, environment, mLogs.back());
    }

    // What went wrong with a launch that did not come up: how it ended and its log's end.
    std::string launchFault(ChildProcess& app)
    {
        const std::optional<int> end = app.wait(0.5);
        const QByteArray log = readFile(mLogs.back());
        return QStringLiteral("launch %1 %2; the library said: %3; its log ends:\n%4")
            .arg(mLaunches)
            .arg(end ? QStringLiteral("ended with %1").arg(*end) : QStringLiteral("still runs"))
            .arg(QString::fromUtf8(mOtherLines.join(" / ").right(1000)))
            .arg(QString::fromUtf8(log.right(3000)))
            .toStdString();
    }

    // Reads the library's lines until one starts with `prefix`.
    std::optional<QByteArray> awaitLine(ChildProcess& app, const QByteArray& prefix, double seconds = 60)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            const std::optional<QByteArray> line = app.readLine(seconds - timer.elapsed() / 1000.0);
            if (!line)
                return std::nullopt;
            if (line->startsWith("faults: " + prefix))
                return line->mid(8);
            mOtherLines.append(*line);
        }
        return std::nullopt;
    }

    // The report directories no live run holds, by name.
    QStringList unheldReports() const
    {
        QStringList names;
        for (const QString& name : QDir(activePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray lock = QFile::encodeName(activePath() + '/' + name + QStringLiteral("/.lock"));
            const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC);
            const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (fd >= 0)
                ::close(fd);
            if (!held)
                names.append(name);
        }
        return names;
    }

    // The one report directory of the run that started last (the others are known).
    QString newReport()
    {
        for (const QString& name : QDir(activePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (!mKnown.contains(name)) {
                mKnown.insert(name);
                return name;
            }
        }
        return QString();
    }

    int uploadsOf(const QString& id) const
    {
        int count = 0;
        for (const QByteArray& sent : mSentIds)
            count += sent == id.toUtf8();
        return count;
    }

    // Takes in the uploads that arrived since the last call.
    void takeUploads()
    {
        const auto uploads = mService.requests(VendorServiceStandIn::Route::Reports);
        for (std::size_t i = mSentIds.size(); i < uploads.size(); ++i) {
            const QByteArray type = uploads[i].header("Content-Type");
            std::map<QByteArray, QByteArray> parts =
                reportParts(uploads[i].body, type.mid(type.indexOf("boundary=") + 9));
            mSentIds.append(parts.count("report_id") ? parts["report_id"] : QByteArray("<unreadable>"));
            mParts.push_back(std::move(parts));
        }
    }

    // Waits until the report `id` has arrived and the tree holds nothing but live runs.
    bool awaitSent(const QString& id, double seconds = 60)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            takeUploads();
            const bool settled = QDir(reportTree() + QStringLiteral("/v3/processing"))
                                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                                     .isEmpty() &&
                                 QDir(reportTree() + QStringLiteral("/v3/prepared"))
                                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                                     .isEmpty();
            if (uploadsOf(id) > 0 && settled && !unheldReports().contains(id))
                return true;
            ::usleep(20000);
        }
        return false;
    }

    // Checks the report `id` the way `way` crashed it: sent once, with the signal record of
    // its signal and its crashed frames named.
    void checkReport(const QString& id, const CrashWay& way, Tally& tally)
    {
        takeUploads();
        const int count = uploadsOf(id);
        if (count == 0) {
            ++tally.lost;
            tally.fault(QStringLiteral("%1: report %2 lost").arg(QString::fromLatin1(way.mode), id));
            return;
        }
        ++tally.sent;
        tally.duplicated += count - 1;
        if (count > 1)
            tally.fault(QStringLiteral("%1: report %2 sent %3 times")
                            .arg(QString::fromLatin1(way.mode), id)
                            .arg(count));
        const std::map<QByteArray, QByteArray>& parts = mParts[std::size_t(mSentIds.indexOf(id.toUtf8()))];
        const auto signal = parts.find("signal.bbxrecord");
        const bool signalRecord =
            signal != parts.end() &&
            signal->second.startsWith("{\"signal\":{\"number\":" + QByteArray::number(way.signal) + ",") &&
            signal->second.contains("\"crashed\":true") &&
            (!way.overflow || signal->second.contains("\"repeated_pc\":")) &&
            (!way.exception || parts.count("exception.bbxrecord") == 1);
        if (!signalRecord) {
            ++tally.withoutSignalRecord;
            tally.fault(QStringLiteral("%1: report %2 without its signal record: %3")
                            .arg(QString::fromLatin1(way.mode), id,
                                 QString::fromUtf8(signal == parts.end() ? QByteArray("none")
                                                                         : signal->second.left(120))));
        }
        bool named = false;
        for (const auto& [name, content] : parts)
            named = named || (name.endsWith(".symbolicated") && content.contains(way.function));
        if (!named) {
            ++tally.framesNotNamed;
            tally.fault(QStringLiteral("%1: report %2 names no %3")
                            .arg(QString::fromLatin1(way.mode), id, QString::fromLatin1(way.function)));
        }
    }

    // Error lines of the launches' logs about reports; a report of a crash removed as
    // having nothing to submit counts too.
    int errorLines(const QSet<QString>& crashed, Tally& tally)
    {
        int lines = 0;
        for (const QString& log : mLogs) {
            for (const QByteArray& line : readFile(log).split('\n')) {
                bool error = false;
                for (const char* text : kReportErrorLines)
                    error = error || line.contains(text);
                if (line.contains("Removing report without anything to submit"))
                    error = crashed.contains(QString::fromUtf8(line.mid(line.lastIndexOf('/') + 1)));
                if (error) {
                    ++lines;
                    tally.fault(QFileInfo(log).fileName() + QStringLiteral(": ") + QString::fromUtf8(line));
                }
            }
        }
        return lines;
    }

    // Crashes a launch in `way`: answers its report's name, or nothing when it did not end
    // by the way's signal.
    QString crashLaunch(ChildProcess& app, const CrashWay& way, Tally& tally)
    {
        const QString own = newReport();
        app.kill(SIGUSR2);
        const std::optional<int> end = app.wait(120);
        mLastEndSecond = QDateTime::currentSecsSinceEpoch();
        ++tally.crashes;
        if (!end || *end != -way.signal) {
            ++tally.wrongEnd;
            tally.fault(QStringLiteral("%1: ended with %2")
                            .arg(QString::fromLatin1(way.mode))
                            .arg(end.value_or(999)));
            if (!end)
                app.kill(SIGKILL);
        }
        return own;
    }

    // Quits a launch as the session would and expects it to end cleanly.
    bool quitLaunch(ChildProcess& app)
    {
        app.kill(SIGTERM);
        const std::optional<int> end = app.wait(60);
        mLastEndSecond = QDateTime::currentSecsSinceEpoch();
        if (!end)
            app.kill(SIGKILL);
        return end == 0;
    }

    VirtualDisplay mDisplay;
    VendorServiceStandIn mService{kBundle};
    int mLaunches = 0;
    qint64 mLastEndSecond = 0;
    QList<QByteArray> mOtherLines; // what the library said beside what was awaited
    QStringList mLogs;
    QSet<QString> mKnown;
    QList<QByteArray> mSentIds;
    std::vector<std::map<QByteArray, QByteArray>> mParts;
};

TEST_F(CrashSoak, EveryWayOfCrashingArrivesAsOneReportWithItsSignalRecordAndNoErrorLine)
{
    const int each = soakRuns(50, 1, 0);
    if (each == 0)
        GTEST_SKIP() << "no application in this tree";
    std::vector<const CrashWay*> order;
    for (int round = 0; round < each; ++round)
        for (const CrashWay& way : kWays)
            order.push_back(&way);
    QElapsedTimer timer;
    timer.start();
    Tally tally;
    std::vector<std::pair<QString, const CrashWay*>> crashed;
    QSet<QString> crashedIds;
    // Each launch first sends the report the one before left, then crashes in the next way;
    // the last one only sends.
    for (std::size_t i = 0; i <= order.size(); ++i) {
        const bool last = i == order.size();
        std::unique_ptr<ChildProcess> app = launch(last ? QByteArray("none") : QByteArray(order[i]->mode));
        ASSERT_TRUE(app);
        ASSERT_TRUE(awaitLine(*app, "ready")) << launchFault(*app);
        if (!crashed.empty() && !awaitSent(crashed.back().first))
            tally.fault(QStringLiteral("report %1 not sent by the next launch").arg(crashed.back().first));
        if (last) {
            EXPECT_TRUE(quitLaunch(*app));
            break;
        }
        const QString id = crashLaunch(*app, *order[i], tally);
        crashed.emplace_back(id, order[i]);
        crashedIds.insert(id);
    }
    // A while for late duplicates.
    ::usleep(500000);
    for (const auto& [id, way] : crashed)
        checkReport(id, *way, tally);
    tally.errorLines = errorLines(crashedIds, tally);
    const int unknown = int(mSentIds.size()) - tally.sent - tally.duplicated;
    reportSoak(
        QStringLiteral("%1 crashes (%2 ways x %3), %4 reports sent, %5 lost, %6 duplicated, %7 without "
                       "their signal record, %8 with the crashing function unnamed, %9 error lines about "
                       "handled reports, %10 launches in %11 s")
            .arg(tally.crashes)
            .arg(int(std::size(kWays)))
            .arg(each)
            .arg(tally.sent)
            .arg(tally.lost)
            .arg(tally.duplicated)
            .arg(tally.withoutSignalRecord)
            .arg(tally.framesNotNamed)
            .arg(tally.errorLines)
            .arg(mLaunches)
            .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    EXPECT_EQ(tally.lost, 0);
    EXPECT_EQ(tally.duplicated, 0);
    EXPECT_EQ(unknown, 0) << "uploads of reports no crash left";
    EXPECT_EQ(tally.withoutSignalRecord, 0);
    EXPECT_EQ(tally.framesNotNamed, 0);
    EXPECT_EQ(tally.errorLines, 0);
    EXPECT_EQ(tally.wrongEnd, 0);
    EXPECT_TRUE(tally.faults.isEmpty()) << tally.faults.join(QLatin1Char('\n')).toStdString();
}

TEST_F(CrashSoak, AQuitDuringThePromptKeepsTheReportTheNextLaunchAsksAgainAndSendSendsIt)
{
    const int rounds = soakRuns(50, 1, 0);
    if (rounds == 0)
        GTEST_SKIP() << "no application in this tree";
    // Settings that turn the prompt on; a launch uses what the one before stored.
    VendorServiceStandIn::Answer settings =
        VendorServiceStandIn::jsonAnswer("{\"app\":{\"status\":\"activated\",\"update_required\":false},"
                                         "\"features\":{\"collect_analytics\":true,"
                                         "\"prompt_enabled\":true},\"analytics\":{\"url\":\"\"}}");
    mService.setDefaultAnswer(VendorServiceStandIn::Route::Settings, settings);
    const QString stored = Paths::caches() + '/' + Loom::KitCoreBundleIdentifier + QStringLiteral(".data/") +
                           kBundle + "/settings.json";
    const CrashWay& way = kWays[7]; // null-main
    QElapsedTimer timer;
    timer.start();
    Tally tally;
    int prompts = 0;
    int quitsClean = 0;
    int keptAfterQuit = 0;
    QSet<QString> crashedIds;

    std::unique_ptr<ChildProcess> app = launch("null-main");
    ASSERT_TRUE(app);
    ASSERT_TRUE(awaitLine(*app, "ready")) << launchFault(*app);
    QElapsedTimer storing;
    storing.start();
    while (!readFile(stored).contains("\"prompt_enabled\":true") && storing.elapsed() < 30000)
        ::usleep(20000);
    ASSERT_TRUE(readFile(stored).contains("\"prompt_enabled\":true")) << "the settings were not stored";
    QString id = crashLaunch(*app, way, tally);
    for (int round = 0; round < rounds; ++round) {
        crashedIds.insert(id);
        // The quit while the prompt shows is no answer.
        app = launch("prompt-quit");
        ASSERT_TRUE(app);
        const std::optional<QByteArray> asked = awaitLine(*app, "prompt");
        ASSERT_TRUE(asked) << "no prompt: " << launchFault(*app);
        EXPECT_EQ(*asked, QByteArray("prompt Send|Always Send|Don't Send"));
        prompts += asked.has_value();
        newReport();
        quitsClean += quitLaunch(*app);
        takeUploads();
        keptAfterQuit += QFileInfo::exists(activePath() + '/' + id) && uploadsOf(id) == 0;
        // The next launch asks again; Return presses Send.
        const bool more = round + 1 < rounds;
        app = launch("prompt-send");
        ASSERT_TRUE(app);
        const bool askedAgain = awaitLine(*app, "prompt").has_value();
        EXPECT_TRUE(askedAgain) << "no prompt again: " << launchFault(*app);
        prompts += askedAgain;
        if (!awaitSent(id))
            tally.fault(QStringLiteral("report %1 not sent after Send").arg(id));
        checkReport(id, way, tally);
        if (!more) {
            EXPECT_TRUE(quitLaunch(*app));
            break;
        }
        id = crashLaunch(*app, way, tally);
    }
    ::usleep(500000);
    takeUploads();
    const int duplicated = int(mSentIds.size()) - tally.sent;
    tally.errorLines = errorLines(crashedIds, tally);
    reportSoak(
        QStringLiteral("%1 crashes, %2 prompts shown, %3 quits during the prompt (%4 ended cleanly, %5 kept "
                       "the report unsent), %6 reports sent after Send, %7 lost, %8 duplicated, %9 error "
                       "lines about handled reports, %10 s")
            .arg(tally.crashes)
            .arg(prompts)
            .arg(rounds)
            .arg(quitsClean)
            .arg(keptAfterQuit)
            .arg(tally.sent)
            .arg(tally.lost)
            .arg(duplicated)
            .arg(tally.errorLines)
            .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
    EXPECT_EQ(prompts, 2 * rounds);
    EXPECT_EQ(quitsClean, rounds);
    EXPECT_EQ(keptAfterQuit, rounds);
    EXPECT_EQ(tally.sent, rounds);
    EXPECT_EQ(tally.lost, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(tally.errorLines, 0);
    EXPECT_TRUE(tally.faults.isEmpty()) << tally.faults.join(QLatin1Char('\n')).toStdString();
}

// Every entry other hands may leave in a report folder, all at once in the folder of a real
// crash. The next launch must send the report, once, without any of them, leave nothing
// half-made in prepared/, remove the folder (its links as links) and send no byte of the
// private file they point at. Each entry's outcome is printed.
TEST_F(CrashSoak, AReportFolderHoldingEveryHostileEntryIsSentWithoutThemAndRemoved)
{
    const QByteArray secret = "PRIVATE NOTES OF THE USER, NEVER TO BE SENT";
    const QString victim = testDir() + QStringLiteral("/private/notes.txt");
    ASSERT_TRUE(writeReportFile(victim, secret));
    ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0600), 0);

    Tally tally;
    std::unique_ptr<ChildProcess> app = launch("segv");
    ASSERT_TRUE(awaitLine(*app, "ready")) << launchFault(*app);
    const QString id = crashLaunch(*app, kWays[4], tally);
    ASSERT_FALSE(id.isEmpty());
    const QString report = activePath() + u'/' + id;
    const auto place = [&](const QString& name, const std::function<bool(const QByteArray&)>& make) {
        EXPECT_TRUE(make(QFile::encodeName(report + u'/' + name)))
            << name.toStdString() << ": " << std::strerror(errno);
    };
    const auto linkTo = [](const QString& target) {
        return [target](const QByteArray& at) {
            return ::symlink(QFile::encodeName(target).constData(), at.constData()) == 0;
        };
    };
    const auto sparse = [](qint64 size) {
        return [size](const QByteArray& at) {
            QFile file(QFile::decodeName(at));
            return file.open(QIODevice::WriteOnly) && file.resize(size);
        };
    };
    struct Entry
    {
        QString name;
        const char* what;
    };
    const std::vector<Entry> entries{
        {QStringLiteral("zero.bbxrecord"), "a link to /dev/zero"},
        {QStringLiteral("notes.bbxrecord"), "a link to a private file"},
        {QStringLiteral("pipe.bbxrecord"), "a named pipe"},
        {QStringLiteral("socket.bbxrecord"), "a socket"},
        {QStringLiteral("folder.bbxrecord"), "a folder holding a link to the private file"},
        {QStringLiteral("big.bbxrecord"), "a record over the 16 MiB report bound"},
        {QStringLiteral("huge.bbxrecord"), "a 2 GB sparse record"},
        {QStringLiteral("signal.bbxrecord.gz"), "a link at a compressed part's name"},
        {QStringLiteral("signal.bbxrecord.symbolicated"), "a link at the symbol record's name"},
    };
    place(entries[0].name, linkTo(QStringLiteral("/dev/zero")));
    place(entries[1].name, linkTo(victim));
    place(entries[2].name, [](const QByteArray& at) { return ::mkfifo(at.constData(), 0600) == 0; });
    for (const NonRegularFile& special :
         makeNonRegularFiles(testDir() + QStringLiteral("/kinds"), QStringLiteral("s"))) {
        if (QLatin1String(special.kind) == QLatin1String("a socket"))
            place(entries[3].name, [&](const QByteArray& at) {
                return ::rename(QFile::encodeName(special.path).constData(), at.constData()) == 0;
            });
    }
    place(entries[4].name, [&](const QByteArray& at) {
        return QDir().mkpath(QFile::decodeName(at)) && linkTo(victim)(at + "/notes");
    });
    place(entries[5].name, sparse(16 * 1024 * 1024 + 1));
    place(entries[6].name, sparse(qint64(2) << 30));
    place(entries[7].name, linkTo(victim));
    place(entries[8].name, linkTo(victim));

    app = launch("none");
    ASSERT_TRUE(awaitLine(*app, "ready")) << launchFault(*app);
    const bool sent = awaitSent(id, 90);
    EXPECT_TRUE(quitLaunch(*app)) << launchFault(*app);
    ASSERT_TRUE(sent) << launchFault(*app);
    EXPECT_EQ(uploadsOf(id), 1);
    const std::map<QByteArray, QByteArray>& parts = mParts[std::size_t(mSentIds.indexOf(id.toUtf8()))];
    const QByteArray log = readFile(mLogs.back());
    for (const Entry& entry : entries) {
        const bool inPackage = parts.count(entry.name.toUtf8()) == 1;
        int lines = 0;
        for (const QByteArray& line : log.split('\n'))
            lines += line.contains(entry.name.toUtf8() + " is left out of the report: ") ||
                     line.contains("Removed " + entry.name.toUtf8() + " from the report");
        std::cout << "[ hostile ] " << entry.what << " (" << entry.name.toStdString()
                  << "): " << (inPackage ? "sent" : "not sent") << ", " << lines << " log line(s)"
                  << std::endl;
        EXPECT_EQ(lines, 1) << entry.name.toStdString();
        if (!entry.name.endsWith(QStringLiteral(".symbolicated"))) {
            EXPECT_FALSE(inPackage) << entry.name.toStdString();
        }
    }
    bool named = false;
    for (const auto& [name, content] : parts) {
        EXPECT_FALSE(content.contains(secret)) << name.toStdString();
        named = named || (name == "signal.bbxrecord.symbolicated" && content.contains("corvex_fault_segv"));
    }
    EXPECT_TRUE(named) << "the crash is sent with its names";
    EXPECT_TRUE(QDir(reportTree() + QStringLiteral("/v3/prepared"))
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                    .isEmpty());
    EXPECT_FALSE(QFileInfo::exists(report));
    EXPECT_FALSE(QFileInfo::exists(reportTree() + QStringLiteral("/v3/processing/") + id));
    EXPECT_EQ(readFile(victim), secret) << "the private file is neither removed nor written";
}

} // namespace
} // namespace corvex::test
