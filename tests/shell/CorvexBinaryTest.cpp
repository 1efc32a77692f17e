#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace corvex::test {

namespace {

// The corvex executable itself, its log joined to the pipe the test reads.
CORVEX_TEST_HELPER_WITHOUT_APPLICATION(run_corvex_binary)
{
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    return execProgram(QByteArrayLiteral(CORVEX_APP_BINARY), args);
}

QJsonObject corvexDefaults()
{
    QFile file(QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
                   .filePath(QStringLiteral("com.tallowfen.corvex/defaults.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Reads the primary's log until a line holds the fragment.
bool waitForLine(HelperProcess& process, const QByteArray& fragment)
{
    while (auto line = process.readLine(30.0)) {
        std::fprintf(stderr, "corvex: %s\n", line->constData());
        if (line->contains(fragment))
            return true;
    }
    return false;
}

} // namespace

TEST(CorvexBinary, SecondLaunchHandsItsFileToTheFirstAndQuitSavesBothWindows)
{
    const QString opml = testDir() + QStringLiteral("/B.opml");
    const QString link = testDir() + QStringLiteral("/B-link.opml");
    writeFile(
        opml,
        "<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body><outline text=\"B\"/></body></opml>");
    ASSERT_TRUE(QFile::link(opml, link));

    // A socket path must fit in sun_path (108 bytes): the per-test folder is too deep for it.
    QByteArray runtime = QByteArrayLiteral("/tmp/corvex-rt-XXXXXX");
    ASSERT_NE(::mkdtemp(runtime.data()), nullptr);
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime);
    struct RuntimeRestore
    {
        QByteArray folder, previous;
        ~RuntimeRestore()
        {
            qputenv("XDG_RUNTIME_DIR", previous);
            QDir(QString::fromLocal8Bit(folder)).removeRecursively();
        }
    } restore{runtime, previousRuntime};

    auto primary = HelperProcess::start(QStringLiteral("run_corvex_binary"));
    ASSERT_NE(primary, nullptr);
    ASSERT_TRUE(waitForLine(*primary, "Opened a new window"));

    // A second launch exits 0 at once and the first opens the file.
    const ProgramRun second = runProgramToEnd(QStringLiteral(CORVEX_APP_BINARY), {opml}, 30000);
    EXPECT_TRUE(second.ran);
    EXPECT_EQ(second.exitCode, 0) << second.output.constData();
    ASSERT_TRUE(waitForLine(*primary, "Opened a new window"));
    // The same file through a link: no third window.
    const ProgramRun third = runProgramToEnd(QStringLiteral(CORVEX_APP_BINARY), {link}, 30000);
    EXPECT_EQ(third.exitCode, 0);
    ASSERT_TRUE(waitForLine(*primary, "is open already"));

    ASSERT_TRUE(primary->kill(SIGTERM));
    EXPECT_EQ(primary->wait(), 0);
    const QJsonArray windows = corvexDefaults()
                                   .value(QStringLiteral("CurrentState"))
                                   .toObject()
                                   .value(QStringLiteral("controllerStates"))
                                   .toArray();
    EXPECT_EQ(windows.size(), 2);
}

} // namespace corvex::test
