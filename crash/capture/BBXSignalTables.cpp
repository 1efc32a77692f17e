// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/capture/BBXSignalTables.h"

namespace corvex {

const char* BBXSignalName(int signal)
{
    switch (signal) {
    case SIGILL:
        return "SIGILL";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGABRT:
        return "SIGABRT";
    case SIGFPE:
        return "SIGFPE";
    case SIGBUS:
        return "SIGBUS";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGSYS:
        return "SIGSYS";
    default:
        return "UNKNOWN";
    }
}

const char* BBXSignalCodeName(int signal)
{
    return signal == SIGABRT ? "ABORT" : nullptr;
}

} // namespace corvex
