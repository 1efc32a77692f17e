#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace corvex::test {

// Another program started for a test with its own environment: the test's environment with
// `set` added or replaced and `unset` taken out, its stdout a pipe the test reads line by
// line, its stdin a pipe the test may close, its stderr written to a file.
class ChildProcess
{
public:
    struct Environment
    {
        QMap<QByteArray, QByteArray> set;
        QList<QByteArray> unset;
    };

    ~ChildProcess();
    static std::unique_ptr<ChildProcess> start(const QString& program, const QStringList& arguments,
                                               const Environment& environment, const QString& stderrPath);

    pid_t pid() const { return mPid; }
    bool kill(int signal);
    void closeInput();
    // A line of stdout without its line feed, or nothing when the stream ends or
    // `timeoutSeconds` pass first.
    std::optional<QByteArray> readLine(double timeoutSeconds);
    // The exit code, or minus the signal that ended it; nothing when it still runs after
    // `timeoutSeconds` (it is then left running).
    std::optional<int> wait(double timeoutSeconds);

private:
    ChildProcess(pid_t pid, int out, int in) : mPid(pid), mOut(out), mIn(in) {}

    pid_t mPid = -1;
    int mOut = -1;
    int mIn = -1;
    bool mReaped = false;
    int mStatus = 0;
    QByteArray mBuffer;
};

} // namespace corvex::test
