#pragma once

#include <QString>
#include <cstdint>

namespace corvex {

// The process's activities as counters: Linux has no sudden or automatic termination to
// switch off, so the kit's "keep me alive" requests are counted here instead, and the quit
// path waits (bounded) while any is open, so that pending writes reach the disk.
// Safe from any thread.
class ProcessActivity
{
public:
    using Token = std::uint64_t;

    static void disableSuddenTermination();
    static void enableSuddenTermination();
    static void disableAutomaticTermination(const QString& reason);
    static void enableAutomaticTermination(const QString& reason);
    // A non-zero token; ending it twice, or ending an unknown token, does nothing.
    static Token beginActivity(std::uint64_t options, const QString& reason);
    static void endActivity(Token token);

    static int suddenTerminationDisablements();
    static int automaticTerminationDisablements();
    static int openActivities();
    // Any of the three counters above above zero.
    static bool anyOpen();

    // Blocks the caller until nothing is open, at most `timeoutSeconds` of real time (a
    // bound on a wait at quit, not a clock any logic reads). True when everything closed.
    static bool waitWhileOpen(double timeoutSeconds = 2.0);
};

} // namespace corvex
