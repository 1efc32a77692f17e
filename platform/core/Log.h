#pragma once

#include <QString>
#include <functional>

namespace corvex {

enum class LogLevel
{
    Debug,
    Info,
    Warning,
    Error
};

// The process log: a stand-in for the system log. Lines go to stderr with the time and the
// process name; a test can replace the sink to capture them. Safe from any thread.
class Log
{
public:
    using Sink = std::function<void(LogLevel, const QString&)>;

    static void write(LogLevel level, const QString& message);
    static void debug(const QString& message) { write(LogLevel::Debug, message); }
    static void info(const QString& message) { write(LogLevel::Info, message); }
    static void warning(const QString& message) { write(LogLevel::Warning, message); }
    static void error(const QString& message) { write(LogLevel::Error, message); }

    // "ERROR: Assertion failure, line: %.3i %s": a violated internal expectation; the caller
    // goes on afterwards.
    static void assertionFailure(int line, const char* method);
    // "ERROR: Assertion failure: <text>".
    static void assertionFailure(const QString& text);

    // Installs a sink and answers the previous one; an empty sink restores stderr.
    static Sink setSink(Sink sink);

    static QString levelName(LogLevel level);
};

} // namespace corvex
