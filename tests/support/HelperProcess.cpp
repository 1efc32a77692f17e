#include "tests/support/HelperProcess.h"

#include "platform/core/NativeFileName.h"
#include "tests/support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <cerrno>
#include <cstring>
#include <fcntl.h> // O_CLOEXEC
#include <map>
#include <poll.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvex::test {
namespace {

std::map<std::string, HelperFunction>& registry()
{
    static std::map<std::string, HelperFunction> helpers;
    return helpers;
}

std::set<std::string>& withoutApplication()
{
    static std::set<std::string> names;
    return names;
}

} // namespace

HelperRegistration::HelperRegistration(const char* name, HelperFunction function, bool runsWithoutApplication)
{
    registry()[name] = function;
    if (runsWithoutApplication)
        withoutApplication().insert(name);
}

bool helperRunsWithoutApplication(int argc, char** argv)
{
    return argc >= 3 && std::strcmp(argv[1], "--corvex-helper") == 0 &&
           withoutApplication().count(argv[2]) > 0;
}

int runHelperFromCommandLine(int argc, char** argv)
{
    if (argc < 3 || std::strcmp(argv[1], "--corvex-helper") != 0)
        return -1;
    auto it = registry().find(argv[2]);
    if (it == registry().end()) {
        std::fprintf(stderr, "no test helper named %s\n", argv[2]);
        return 127;
    }
    QStringList args;
    for (int i = 3; i < argc; ++i)
        args << NativeFileName::decode(QByteArrayView(argv[i]));
    return it->second(args);
}

HelperProcess::~HelperProcess()
{
    if (!mReaped && mPid > 0) {
        ::kill(mPid, SIGKILL);
        wait();
    }
    if (mOut >= 0)
        ::close(mOut);
}

std::unique_ptr<HelperProcess> HelperProcess::start(const QString& name, const QStringList& args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

    const QByteArray exe = selfExecutable().toLocal8Bit();
    std::vector<QByteArray> storage{exe, QByteArray("--corvex-helper"), name.toLocal8Bit()};
    for (const QString& arg : args)
        storage.push_back(NativeFileName::encode(arg));
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, exe.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return nullptr;
    }
    return std::unique_ptr<HelperProcess>(new HelperProcess(pid, fds[0]));
}

bool HelperProcess::kill(int signal)
{
    if (mReaped)
        return false;
    return ::kill(mPid, signal) == 0;
}

int HelperProcess::wait()
{
    if (!mReaped) {
        int status = 0;
        while (::waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
        }
        mReaped = true;
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
    }
    return mStatus;
}

std::optional<int> HelperProcess::waitFor(double timeoutSeconds)
{
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    while (!mReaped) {
        int status = 0;
        const pid_t reaped = ::waitpid(mPid, &status, WNOHANG);
        if (reaped == mPid) {
            mReaped = true;
            mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
            break;
        }
        if (reaped < 0 && errno != EINTR)
            return std::nullopt;
        if (deadline.hasExpired())
            return std::nullopt;
        ::usleep(10000);
    }
    return mStatus;
}

bool HelperProcess::fill(double timeoutSeconds)
{
    if (mOut < 0)
        return false;
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    pollfd pfd{mOut, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&pfd, 1, int(std::max<qint64>(0, deadline.remainingTime())));
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = ::read(mOut, chunk, sizeof chunk);
    if (n <= 0) {
        ::close(mOut);
        mOut = -1;
        return false;
    }
    mBuffer.append(chunk, n);
    return true;
}

std::optional<QByteArray> HelperProcess::readLine(double timeoutSeconds)
{
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    while (true) {
        const qsizetype newline = mBuffer.indexOf('\n');
        if (newline >= 0) {
            QByteArray line = mBuffer.left(newline);
            mBuffer.remove(0, newline + 1);
            return line;
        }
        if (deadline.hasExpired() || !fill(double(deadline.remainingTime()) / 1000.0))
            return std::nullopt;
    }
}

QByteArray HelperProcess::readAll()
{
    while (fill(60.0)) {
    }
    QByteArray all = mBuffer;
    mBuffer.clear();
    return all;
}

int execProgram(const QByteArray& program, const QStringList& arguments)
{
    std::vector<QByteArray> storage{program};
    for (const QString& argument : arguments)
        storage.push_back(NativeFileName::encode(argument));
    std::vector<char*> argv;
    for (QByteArray& bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    ::execv(argv.front(), argv.data());
    return 127;
}

ProgramRun runProgramToEnd(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProgramRun result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        return result;
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAll();
    return result;
}

} // namespace corvex::test
