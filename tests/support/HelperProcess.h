#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <sys/types.h> // pid_t

namespace corvex::test {

// A helper is a function of the test executable itself, run in a child process started
// with posix_spawn (a threaded process is never forked). The child inherits the
// environment, so it sees the running test's XDG folders; its stdout is a pipe the test
// reads, its stderr is the test's.
using HelperFunction = int (*)(const QStringList& args);

class HelperRegistration
{
public:
    // `runsWithoutApplication`: the helper runs before the test main makes its application
    // object (and makes one itself if it needs one).
    HelperRegistration(const char* name, HelperFunction function, bool runsWithoutApplication = false);
};

// Runs the helper named on the command line ("--corvex-helper <name> args...") if there
// is one; answers its exit code, or -1 when argv does not ask for a helper.
int runHelperFromCommandLine(int argc, char** argv);
// Whether argv asks for a helper registered to run without the application object.
bool helperRunsWithoutApplication(int argc, char** argv);

// Replaces this process with the program (a helper that becomes another program, keeping the
// helper's pipes); answers 127 only when that failed.
int execProgram(const QByteArray& program, const QStringList& arguments);

// Another program run to its end (at most `timeoutMs`): whether it ended normally, its exit
// code and its merged output.
struct ProgramRun
{
    bool ran = false;
    int exitCode = -1;
    QByteArray output;
};
ProgramRun runProgramToEnd(const QString& program, const QStringList& arguments, int timeoutMs = 60000);

class HelperProcess
{
public:
    ~HelperProcess();

    // Starts the helper `name` of this executable with `args`; nullptr when spawning fails.
    static std::unique_ptr<HelperProcess> start(const QString& name, const QStringList& args = {});

    pid_t pid() const { return mPid; }
    // Sends a signal; false when the process is already reaped.
    bool kill(int signal);
    // Reaps the process: its exit code, or minus the signal that ended it.
    int wait();
    // The same within `timeoutSeconds` of real time; nothing while it still runs then.
    std::optional<int> waitFor(double timeoutSeconds);
    // A line from the helper's stdout (without the line feed), or nothing when the stream
    // ends or `timeoutSeconds` of real time pass first.
    std::optional<QByteArray> readLine(double timeoutSeconds = 30.0);
    // Everything the helper still writes, up to its end.
    QByteArray readAll();

private:
    HelperProcess(pid_t pid, int outFd) : mPid(pid), mOut(outFd) {}
    bool fill(double timeoutSeconds);

    pid_t mPid = -1;
    int mOut = -1;
    bool mReaped = false;
    int mStatus = 0;
    QByteArray mBuffer;
};

} // namespace corvex::test

#define CORVEX_TEST_HELPER(name)                                                                             \
    static int corvexHelper_##name(const QStringList& args);                                                 \
    static const ::corvex::test::HelperRegistration corvexHelperRegistration_##name(#name,                   \
                                                                                    &corvexHelper_##name);   \
    static int corvexHelper_##name([[maybe_unused]] const QStringList& args)

// A helper that starts before any application object exists.
#define CORVEX_TEST_HELPER_WITHOUT_APPLICATION(name)                                                         \
    static int corvexHelper_##name(const QStringList& args);                                                 \
    static const ::corvex::test::HelperRegistration corvexHelperRegistration_##name(                         \
        #name, &corvexHelper_##name, true);                                                                  \
    static int corvexHelper_##name([[maybe_unused]] const QStringList& args)
