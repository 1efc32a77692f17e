// The launch loop: the corvex executable launched again and again under Xvfb, each launch
// ended by Ctrl+Q or SIGTERM at a seeded moment of its first two seconds (mid start-up, while
// the first windows appear, while the emoji catalogue is drawn). It counts crashes, exits
// other than 0 and files left behind. The test command runs it scaled down; tools/soak runs it
// at full count and prints its figures.

#include "model/Globals.h"
#include "tests/app/AppChild.h"
#include "tests/app/UserFiles.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestProcessSetup.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace corvex::test {

namespace {

constexpr std::uint32_t kSeed = 45;
constexpr double kFirstSeconds = 2.0;

// Ctrl+Q typed into the application's window as the X server delivers keys (XTEST), once one
// is shown; false when none shows within the time.
bool typeCtrlQ(pid_t pid, double seconds)
{
    QDeadlineTimer deadline(qint64(seconds * 1000));
    while (!deadline.hasExpired()) {
        const ProgramRun search = runProgramToEnd(QStringLiteral("xdotool"),
                                                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                   QStringLiteral("--pid"), QString::number(pid)},
                                                  5000);
        const QList<QByteArray> windows = search.output.trimmed().split('\n');
        if (search.ran && search.exitCode == 0 && !windows.isEmpty() && !windows.last().isEmpty()) {
            const QString window = QString::fromLatin1(windows.last());
            runProgramToEnd(QStringLiteral("xdotool"),
                            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}, 5000);
            return runProgramToEnd(QStringLiteral("xdotool"),
                                   {QStringLiteral("key"), QStringLiteral("ctrl+q")}, 5000)
                .ran;
        }
        QThread::msleep(20);
    }
    return false;
}

struct Figures
{
    int launches = 0;
    int byKeys = 0;
    int bySignal = 0;
    int clean = 0;
    int crashes = 0;
    int nonZeroExits = 0;
    // Ended by the SIGTERM itself: it came before the program ran any of its own code (the
    // dynamic loader still at work), so nothing of Corvex could answer it.
    int endedBySigtermBeforeItsHandler = 0;
    int hung = 0;
    // Ended well, but without a window to type Ctrl+Q into first.
    int undelivered = 0;
    int leftoverFiles = 0;
    QStringList details;

    QString line() const
    {
        return QStringLiteral(
                   "%1 launches (seed %2; %3 by Ctrl+Q, %4 by SIGTERM): %5 clean, %6 crashes, %7 non-zero "
                   "exits, %8 ended by SIGTERM before its handler, %9 hung, %10 without a window for Ctrl+Q, "
                   "%11 leftover files")
            .arg(launches)
            .arg(kSeed)
            .arg(byKeys)
            .arg(bySignal)
            .arg(clean)
            .arg(crashes)
            .arg(nonZeroExits)
            .arg(endedBySigtermBeforeItsHandler)
            .arg(hung)
            .arg(undelivered)
            .arg(leftoverFiles);
    }
};

} // namespace

TEST(LaunchSoak, QuitByCtrlQOrSigtermAtSeededMomentsOfItsFirstTwoSeconds)
{
    const int launches = soakRuns(200, 6, 3);
    const QString root = testDir();
    std::mt19937 random(kSeed);
    std::uniform_real_distribution<double> moment(0.0, kFirstSeconds);
    std::bernoulli_distribution byKeys(0.5);
    Figures figures;
    for (int i = 0; i < launches; ++i) {
        // Each launch on a machine of its own: the iCloud home screen and a document given on
        // the command line.
        makeTestFolders(root + QStringLiteral("/launch-%1").arg(i));
        UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
        const QString document = QDir::home().filePath(QStringLiteral("Trip.opml"));
        QFile file(document);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>Trip</title></head><body>"
                   "<outline text=\"Pack\" _note=\"Socks\"/><outline text=\"Tickets\"/></body></opml>");
        file.close();

        const double at = moment(random);
        const bool keys = byKeys(random);
        auto child = AppChild::startBinary({document});
        ASSERT_NE(child, nullptr);
        QDeadlineTimer quitAt(qint64(at * 1000));
        while (!quitAt.hasExpired())
            QThread::msleep(5);
        bool delivered = true;
        if (keys) {
            delivered = typeCtrlQ(child->pid(), 20.0);
            ++figures.byKeys;
        } else {
            child->signal(SIGTERM);
            ++figures.bySignal;
        }
        const AppEnding ending = child->waitForEnd(20.0);
        ++figures.launches;
        if (ending.clean())
            ++figures.clean;
        if (!ending.ended)
            ++figures.hung;
        else if (!keys && ending.signal == SIGTERM)
            ++figures.endedBySigtermBeforeItsHandler;
        else if (ending.signal != 0 || !ending.crashRecords.isEmpty())
            ++figures.crashes;
        else if (ending.exitCode != 0)
            ++figures.nonZeroExits;
        else if (!delivered)
            ++figures.undelivered;
        figures.leftoverFiles += int(ending.leftovers.size());
        if (!ending.clean() || !delivered) {
            figures.details << QStringLiteral("launch %1 (%2 at %3 s%4): %5")
                                   .arg(i)
                                   .arg(keys ? QStringLiteral("Ctrl+Q") : QStringLiteral("SIGTERM"))
                                   .arg(at, 0, 'f', 3)
                                   .arg(delivered ? QString() : QStringLiteral(", no window to type into"))
                                   .arg(ending.describe());
            // The end of its log.
            const QList<QByteArray> log = readFile(testDir() + QStringLiteral("/corvex.log")).split('\n');
            for (const QByteArray& line : log.mid(std::max<qsizetype>(0, log.size() - 12)))
                figures.details << QStringLiteral("    ") + QString::fromLocal8Bit(line);
        }
    }
    reportSoak(figures.line());
    for (const QString& detail : figures.details)
        std::fprintf(stderr, "%s\n", detail.toLocal8Bit().constData());
    EXPECT_EQ(figures.crashes, 0);
    EXPECT_EQ(figures.nonZeroExits, 0);
    EXPECT_EQ(figures.hung, 0);
    EXPECT_EQ(figures.undelivered, 0);
    EXPECT_EQ(figures.leftoverFiles, 0);
}

} // namespace corvex::test
