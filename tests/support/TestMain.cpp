// The shared main of every test executable. It fixes the environment before Qt starts
// (offscreen platform, a non-UTC time zone with summer time, the language), gives every
// test its own XDG folders through the environment, and dispatches helper processes.

#include "platform/core/BackgroundDrawing.h"
#include "platform/core/CompletionCheck.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LaterTurn.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestProcessSetup.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVEX_LEAK_CHECK 1
#include <sanitizer/lsan_interface.h>
#endif
#endif

#if CORVEX_TEST_GUI == 2
#include <QApplication>
#elif CORVEX_TEST_GUI
#include <QGuiApplication>
#endif

namespace {

QString gRunRoot;

void setEnv(const char* name, const QString& value)
{
    ::setenv(name, value.toLocal8Bit().constData(), 1);
}

// Every test gets fresh XDG folders, set in the environment so that helper processes and
// QStandardPaths see them.
class PerTestFolders : public ::testing::EmptyTestEventListener
{
public:
    void OnTestStart(const ::testing::TestInfo& info) override
    {
        const QString name = QString::fromUtf8(info.test_suite_name()) + QLatin1Char('.') +
                             QString::fromUtf8(info.name()).replace(QLatin1Char('/'), QLatin1Char('_'));
        mDir = gRunRoot + QLatin1Char('/') + name;
        corvex::test::makeTestFolders(mDir);
    }

    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        if (qEnvironmentVariableIsSet("CORVEX_KEEP_TEST_DIRS") && info.result()->Failed())
            return;
        QDir(mDir).removeRecursively();
    }

private:
    QString mDir;
};

void makeRunRoot()
{
    const QByteArray base = qgetenv("TMPDIR").isEmpty() ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray pattern = base + "/corvex-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    gRunRoot = QString::fromLocal8Bit(pattern);
    setEnv("CORVEX_TEST_DIR", gRunRoot);
}

// Qt's fontconfig database loads fontconfig's configuration while it is destroyed, even in
// a program that never drew text, and fontconfig leaks a little while parsing it. What is
// allocated while the application object goes away is kept out of the leak check: matching
// it against a suppression would cost every test process a symbolizer run.
class LeakCheckPauseFromHere
{
public:
    LeakCheckPauseFromHere() = default;
    LeakCheckPauseFromHere(const LeakCheckPauseFromHere&) = delete;
    LeakCheckPauseFromHere& operator=(const LeakCheckPauseFromHere&) = delete;
    ~LeakCheckPauseFromHere()
    {
#if CORVEX_LEAK_CHECK
        __lsan_disable();
#endif
    }
};

// Stops the background drawing when it goes (BackgroundDrawing).
class DrawingStopsFirst
{
public:
    DrawingStopsFirst() = default;
    DrawingStopsFirst(const DrawingStopsFirst&) = delete;
    DrawingStopsFirst& operator=(const DrawingStopsFirst&) = delete;
    ~DrawingStopsFirst() { corvex::BackgroundDrawing::stopAndWait(); }
};

// Delivers every event inside a LaterTurn, so that the completion recorder knows a
// completion run from the event loop from one run straight from the test body.
template <class Application> class TestApplication final : public Application
{
public:
    TestApplication(int& argc, char** argv) : Application(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override
    {
        const corvex::test::LaterTurn turn;
        return Application::notify(receiver, event);
    }
};

int runTests(int argc, char** argv, bool helper)
{
#if CORVEX_TEST_GUI == 2
    TestApplication<QApplication> app(argc, argv);
#elif CORVEX_TEST_GUI
    TestApplication<QGuiApplication> app(argc, argv);
#else
    TestApplication<QCoreApplication> app(argc, argv);
#endif
    // Destroyed before the application object.
    const LeakCheckPauseFromHere pause;

    // As on the application's own road out: no drawing a test started (the emoji catalogue's
    // preload after a first frame, say) goes on into the fonts the application object takes
    // down.
    const DrawingStopsFirst drawing;
    if (helper)
        return corvex::test::runHelperFromCommandLine(argc, argv);

    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new PerTestFolders);
    // A completion answered twice fails whichever test it happens in. One let go unanswered
    // fails only a test that asked for it through CompletionRecorder: a test that ends with
    // work still queued lets its completions go on purpose.
    corvex::CompletionCheck::setReporter(
        [](corvex::CompletionFault fault, const corvex::SourceLocation& made) {
            if (fault == corvex::CompletionFault::AnsweredTwice)
                ADD_FAILURE() << corvex::CompletionCheck::describe(fault, made).toStdString();
        });
    const int rc = RUN_ALL_TESTS();
    // A failed test's folders are kept on request; they live under the run folder.
    if (rc == 0 || !qEnvironmentVariableIsSet("CORVEX_KEEP_TEST_DIRS"))
        QDir(gRunRoot).removeRecursively();
    else
        std::fprintf(stderr, "Kept the failed tests' folders under %s\n", qPrintable(gRunRoot));
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    corvex::test::fixTestProcessEnvironment("offscreen");
    // A helper process keeps the environment of the test that started it.
    const bool helper = argc >= 3 && std::strcmp(argv[1], "--corvex-helper") == 0;
    if (!helper)
        makeRunRoot();
    // Such a helper checks what happens before an application object exists; it makes its
    // own, and the leak check stays on throughout.
    if (helper && corvex::test::helperRunsWithoutApplication(argc, argv))
        return corvex::test::runHelperFromCommandLine(argc, argv);
    const int rc = runTests(argc, argv, helper);
#if CORVEX_LEAK_CHECK
    __lsan_enable();
#endif
    return rc;
}
