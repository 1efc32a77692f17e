// The main of the application tests. Unlike the shared test main it starts no Qt application
// and never picks the offscreen platform: each journey starts the real application, whose
// application object is made by the application's own start-up, on the xcb platform of the
// X server run-under-xvfb.sh gives it. Without a display the run fails; it never skips.
//
// Every test runs in a process of its own with fresh HOME and XDG folders: the running
// application keeps process-wide state (its singletons, its seams, its one-instance claim)
// that no test may inherit from another. ctest runs one test per process anyway; when a
// filter selects several, this main runs itself once per test.

#include "app/WebPageModule.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestProcessSetup.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

void fixEnvironment()
{
    // Real windows on the X server; the tests of the other layers use the offscreen platform.
    corvex::test::fixTestProcessEnvironment("xcb");
    // The web engine draws in software on the virtual X server. Its sandbox is the
    // application's own decision: nothing here switches it off.
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
    ::unsetenv("QTWEBENGINE_DISABLE_SANDBOX");
}

// Short: the one-instance socket lives in XDG_RUNTIME_DIR and must fit in sun_path.
QString makeShortTestFolders()
{
    QByteArray pattern("/tmp/cvx-app-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    const QString root = QString::fromLocal8Bit(pattern);
    corvex::test::makeTestFolders(root);
    return root;
}

bool isListing(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    }
    return false;
}

// The tests the command line selects, as "Suite.Name", from a listing run of this program.
QStringList selectedTests(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    arguments << QStringLiteral("--gtest_list_tests");
    const corvex::test::ProgramRun listing =
        corvex::test::runProgramToEnd(corvex::test::selfExecutable(), arguments, 60000);
    QStringList tests;
    if (!listing.ran || listing.exitCode != 0)
        return tests;
    QString suite;
    for (const QByteArray& raw : listing.output.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!line.startsWith(QLatin1Char(' '))) {
            suite = line.trimmed();
            continue;
        }
        tests << suite + line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return tests;
}

// Runs each test in a child of its own, one after the other; the exit code is 1 when any
// failed.
int runEachInItsOwnProcess(int argc, char** argv, const QStringList& tests)
{
    QStringList failed;
    for (const QString& test : tests) {
        QStringList arguments;
        for (int i = 1; i < argc; ++i) {
            if (std::strncmp(argv[i], "--gtest_filter", 14) != 0)
                arguments << QString::fromLocal8Bit(argv[i]);
        }
        arguments << QStringLiteral("--gtest_filter=") + test;
        std::printf("[ process  ] %s\n", test.toUtf8().constData());
        std::fflush(stdout);
        const corvex::test::ProgramRun run =
            corvex::test::runProgramToEnd(corvex::test::selfExecutable(), arguments, 900000);
        std::fputs(run.output.constData(), stdout);
        if (!run.ran || run.exitCode != 0)
            failed << test;
    }
    std::printf("[==========] %lld tests in their own processes, %lld failed\n", (long long)tests.size(),
                (long long)failed.size());
    for (const QString& test : failed)
        std::printf("[  FAILED  ] %s\n", test.toUtf8().constData());
    return failed.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // The application started in a journey checks its web engine by starting this program.
    if (const std::optional<int> probed = corvex::WebPageModule::runEngineCheckIfAsked(argc, argv))
        return *probed;
    fixEnvironment();
    // A helper (a launch of the real application in a child) keeps the environment of the
    // test that started it.
    if (corvex::test::helperRunsWithoutApplication(argc, argv))
        return corvex::test::runHelperFromCommandLine(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--corvex-helper") == 0) {
        std::fprintf(stderr, "application tests: every helper starts the application itself\n");
        return 2;
    }
    if (isListing(argc, argv)) {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr,
                     "application tests: no DISPLAY; they run on the xcb platform under an Xvfb of their own "
                     "(ctest does that), never skipped\n");
        return 1;
    }
    const QStringList tests = selectedTests(argc, argv);
    if (tests.size() > 1)
        return runEachInItsOwnProcess(argc, argv, tests);

    const QString root = makeShortTestFolders();
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (rc == 0 || !qEnvironmentVariableIsSet("CORVEX_KEEP_TEST_DIRS"))
        QDir(root).removeRecursively();
    else
        std::fprintf(stderr, "application tests: folders kept in %s\n", root.toLocal8Bit().constData());
    return rc;
}
