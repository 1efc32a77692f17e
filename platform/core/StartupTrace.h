#pragma once

namespace corvex {

// Where the time to the first window goes, for the start-up benchmark. When the environment
// names a file in CORVEX_STARTUP_TRACE, each mark of the launch is appended to it at once as
// one line, "<nanoseconds> <name>", the nanoseconds those of the monotonic clock
// (CLOCK_MONOTONIC, which the benchmark that spawned the program reads too). Without the
// variable a mark costs one test of a flag. Any thread; usable from the earliest constructor.
class StartupTrace
{
public:
    static bool enabled();
    // `name` is one line of text; `detail`, when given, follows it after a blank.
    static void mark(const char* name, const char* detail = nullptr);
};

} // namespace corvex
