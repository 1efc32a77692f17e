#include "tests/crash/app/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvex::test {

ChildProcess::~ChildProcess()
{
    if (!mReaped && mPid > 0) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, nullptr, 0);
    }
    if (mOut >= 0)
        ::close(mOut);
    closeInput();
}

std::unique_ptr<ChildProcess> ChildProcess::start(const QString& program, const QStringList& arguments,
                                                  const Environment& environment, const QString& stderrPath)
{
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return nullptr;
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return nullptr;
    }
    std::vector<QByteArray> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const QByteArray variable(*entry);
        const QByteArray name = variable.left(variable.indexOf('='));
        if (!environment.set.contains(name) && !environment.unset.contains(name))
            variables.push_back(variable);
    }
    for (auto it = environment.set.cbegin(); it != environment.set.cend(); ++it)
        variables.push_back(it.key() + '=' + it.value());
    std::vector<char*> envp;
    for (QByteArray& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> words{path};
    for (const QString& argument : arguments)
        words.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray errors = QFile::encodeName(stderrPath);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    if (rc != 0) {
        ::close(out[0]);
        ::close(in[1]);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, out[0], in[1]));
}

bool ChildProcess::kill(int signal)
{
    return !mReaped && ::kill(mPid, signal) == 0;
}

void ChildProcess::closeInput()
{
    if (mIn >= 0)
        ::close(mIn);
    mIn = -1;
}

std::optional<QByteArray> ChildProcess::readLine(double timeoutSeconds)
{
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    while (true) {
        const qsizetype end = mBuffer.indexOf('\n');
        if (end >= 0) {
            QByteArray line = mBuffer.left(end);
            mBuffer.remove(0, end + 1);
            return line;
        }
        if (mOut < 0 || deadline.hasExpired())
            return std::nullopt;
        pollfd pfd{mOut, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char chunk[4096];
        const ssize_t got = ::read(mOut, chunk, sizeof chunk);
        if (got <= 0) {
            ::close(mOut);
            mOut = -1;
            continue;
        }
        mBuffer.append(chunk, got);
    }
}

std::optional<int> ChildProcess::wait(double timeoutSeconds)
{
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    while (!mReaped) {
        const pid_t done = ::waitpid(mPid, &mStatus, WNOHANG);
        if (done == mPid) {
            mReaped = true;
            break;
        }
        if (deadline.hasExpired())
            return std::nullopt;
        ::usleep(2000);
    }
    return WIFSIGNALED(mStatus) ? -WTERMSIG(mStatus) : WEXITSTATUS(mStatus);
}

} // namespace corvex::test
