#include "platform/core/StartupTrace.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace corvex {

namespace {

// Opened once, on the first question; never closed (the last marks come late in the run).
int traceFile()
{
    static const int fd = [] {
        const char* path = std::getenv("CORVEX_STARTUP_TRACE");
        if (path == nullptr || *path == '\0')
            return -1;
        return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }();
    return fd;
}

} // namespace

bool StartupTrace::enabled()
{
    return traceFile() >= 0;
}

void StartupTrace::mark(const char* name, const char* detail)
{
    const int fd = traceFile();
    if (fd < 0)
        return;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nanoseconds = std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    char line[512];
    const int length = std::snprintf(line, sizeof line, "%lld %s%s%s\n", static_cast<long long>(nanoseconds),
                                     name, detail ? " " : "", detail ? detail : "");
    if (length <= 0)
        return;
    // One write per line: O_APPEND keeps lines of several threads whole.
    const std::size_t size = std::min<std::size_t>(std::size_t(length), sizeof line - 1);
    line[size - 1] = '\n'; // a cut line still ends
    [[maybe_unused]] const ssize_t written = ::write(fd, line, size);
}

} // namespace corvex
