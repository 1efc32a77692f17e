#pragma once

#include "tests/support/HelperProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace corvex::test {

// How a launch of the application ended, as a user (and the next launch) finds it.
struct AppEnding
{
    bool ended = false;       // within the time allowed; otherwise it was killed
    int exitCode = -1;        // when it exited
    int signal = 0;           // the signal that ended it, else 0
    QStringList crashRecords; // the crash reporter's records of a crash
    QStringList leftovers;    // files a clean end removes

    bool clean() const
    {
        return ended && signal == 0 && exitCode == 0 && crashRecords.isEmpty() && leftovers.isEmpty();
    }
    QString describe() const;
};

// The application in a child process, so that quitting ends it for real: either this test
// program running the same runCorvex() as main() with a script of the journey inside it, or
// the corvex executable itself. Both inherit the test's environment (its HOME and XDG
// folders). Main thread only.
class AppChild
{
public:
    // A script runs inside the child's application once its event loop runs, with the
    // arguments given to startScript; what it prints on stdout the test reads with readLine.
    using Script = std::function<void(const QStringList& arguments)>;
    struct ScriptRegistration
    {
        ScriptRegistration(const char* name, Script script);
    };

    ~AppChild();

    // This program as the application, running the script; `files` are its launch files. Its
    // stderr is the test's, or goes to `stderrFile` in the test's folder when one is named.
    static std::unique_ptr<AppChild> startScript(const QString& script, const QStringList& arguments,
                                                 const QStringList& files = {},
                                                 const QString& stderrFile = {});
    // The corvex executable with its arguments.
    static std::unique_ptr<AppChild> startBinary(const QStringList& arguments = {});

    pid_t pid() const { return mProcess->pid(); }
    // The next line the child printed, waiting at most `seconds`.
    std::optional<QByteArray> readLine(double seconds = 30.0) { return mProcess->readLine(seconds); }
    bool signal(int number) { return mProcess->kill(number); }
    // Waits for the end (killing the child after `seconds`) and looks at what it left.
    AppEnding waitForEnd(double seconds = 20.0);

    // In the test's folders now: the crash records of runs that crashed, and the files a
    // clean end removes (the instance socket, half-written saves, scratch files).
    static QStringList crashRecords();
    static QStringList leftovers();

    // In the child: prints a line for the test and flushes it.
    static void tell(const QByteArray& line);
    // In the child: tells why the script cannot go on and ends the process at once (exit
    // status FailedScriptExit), so that the test reads the reason and the end right away
    // rather than waiting out its time-outs for a quit that will not come.
    [[noreturn]] static void fail(const QByteArray& reason);
    static constexpr int FailedScriptExit = 3;

private:
    explicit AppChild(std::unique_ptr<HelperProcess> process) : mProcess(std::move(process)) {}

    std::unique_ptr<HelperProcess> mProcess;
};

} // namespace corvex::test

// Registers a script for AppChild::startScript under its name.
#define CORVEX_APP_SCRIPT(name)                                                                              \
    static void corvexAppScript_##name(const QStringList& arguments);                                        \
    static const ::corvex::test::AppChild::ScriptRegistration corvexAppScriptRegistration_##name(            \
        #name, &corvexAppScript_##name);                                                                     \
    static void corvexAppScript_##name([[maybe_unused]] const QStringList& arguments)
