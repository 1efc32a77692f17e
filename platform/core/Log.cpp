#include "platform/core/Log.h"

#include <QByteArray>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <unistd.h> // getpid

namespace corvex {
namespace {

std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<Log::Sink>& sinkSlot()
{
    static std::shared_ptr<Log::Sink> slot;
    return slot;
}

// The local time as "yyyy-MM-dd HH:mm:ss.zzz", from the C library alone: a worker thread may
// log while the process ends and Qt's locale data is already gone.
QByteArray timestamp()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03ld", long(now.tv_nsec / 1000000));
    return QByteArray(text);
}

void writeToStderr(LogLevel level, const QString& message)
{
    // program_invocation_short_name is glibc's copy of argv[0]'s base name.
    const QByteArray line =
        timestamp() + ' ' + QByteArray(program_invocation_short_name) + '[' + QByteArray::number(::getpid()) +
        "] " + (level == LogLevel::Debug ? QByteArray("debug: ") : QByteArray()) + message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

void Log::write(LogLevel level, const QString& message)
{
    std::shared_ptr<Sink> sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = sinkSlot();
    }
    if (sink && *sink)
        (*sink)(level, message);
    else
        writeToStderr(level, message);
}

void Log::assertionFailure(int line, const char* method)
{
    write(LogLevel::Error,
          QString::asprintf("ERROR: Assertion failure, line: %.3i %s", line, method ? method : ""));
}

void Log::assertionFailure(const QString& text)
{
    write(LogLevel::Error, QStringLiteral("ERROR: Assertion failure: ") + text);
}

Log::Sink Log::setSink(Sink sink)
{
    std::lock_guard lock(sinkMutex());
    std::shared_ptr<Sink> previous = sinkSlot();
    sinkSlot() = sink ? std::make_shared<Sink>(std::move(sink)) : nullptr;
    return previous ? *previous : Sink();
}

QString Log::levelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug:
        return QStringLiteral("debug");
    case LogLevel::Info:
        return QStringLiteral("info");
    case LogLevel::Warning:
        return QStringLiteral("warning");
    case LogLevel::Error:
        return QStringLiteral("error");
    }
    return QString();
}

} // namespace corvex
