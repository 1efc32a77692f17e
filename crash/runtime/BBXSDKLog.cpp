// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXSDKLog.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXFile.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvex {

namespace {

std::atomic<BBXSDKLogState*> gBBXSDKLogState{nullptr};

// Opens the file at the first line; a failed open leaves -1 so that the next line tries
// again. Two threads opening at once keep one descriptor.
int bbxSDKLogDescriptor(BBXSDKLogState* state)
{
    std::int32_t fd = state->descriptor.load(std::memory_order_acquire);
    if (fd != -1)
        return fd;
    const int opened = BBXFileOpenPrivate(state->path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (opened < 0)
        return -1;
    std::int32_t expected = -1;
    if (state->descriptor.compare_exchange_strong(expected, opened, std::memory_order_acq_rel))
        return opened;
    ::close(opened);
    return expected;
}

void bbxSDKLogNumber(int fd, std::uint64_t bits, bool negative, bool hex)
{
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start =
        negative ? BBXFileFormatInt64(scratch, std::int64_t(bits)) : BBXFileFormatUInt64(scratch, bits, hex);
    BBXFileWriteWithRetriesQuietly(fd, scratch + start, BBXFileNumberScratchSize - 1 - start);
}

} // namespace

void BBXSDKLogInstall(BBXSDKLogState* state)
{
    gBBXSDKLogState.store(state, std::memory_order_release);
}

BBXSDKLogState* BBXSDKLogInstalledState()
{
    return gBBXSDKLogState.load(std::memory_order_acquire);
}

void BBXSDKLog(std::uint32_t level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    BBXSDKLogV(level, format, arguments);
    va_end(arguments);
}

void BBXSDKLogV(std::uint32_t level, const char* format, va_list arguments)
{
    BBXSDKLogState* state = gBBXSDKLogState.load(std::memory_order_acquire);
    if (!BBXIsValidPointer(state) || !BBXIsValidPointer(state->path) || !BBXIsValidPointer(format) ||
        state->minimumLevel > level)
        return;
    const int fd = bbxSDKLogDescriptor(state);
    if (fd < 0)
        return;
    // Literal text goes out in runs straight from the format: the same bytes as one write per
    // character, without a buffer.
    const char* run = format;
    const char* p = format;
    while (*p != 0) {
        if (*p != '%') {
            ++p;
            continue;
        }
        if (p > run)
            BBXFileWriteWithRetriesQuietly(fd, run, std::size_t(p - run));
        const char conversion = p[1];
        switch (conversion) {
        case 'd': {
            const int value = va_arg(arguments, int);
            // Widened first: the magnitude of INT32_MIN does not fit an int.
            const std::int64_t wide = value;
            bbxSDKLogNumber(fd, std::uint64_t(wide), wide < 0, false);
            break;
        }
        case 'u':
            bbxSDKLogNumber(fd, va_arg(arguments, unsigned int), false, false);
            break;
        case 'x':
            bbxSDKLogNumber(fd, va_arg(arguments, unsigned int), false, true);
            break;
        case 'p':
            BBXFileWriteWithRetriesQuietly(fd, "0x", 2);
            bbxSDKLogNumber(fd, va_arg(arguments, std::uint64_t), false, true);
            break;
        case 's': {
            const char* text = va_arg(arguments, const char*);
            if (text == nullptr)
                text = "(null)";
            const std::size_t length = std::strlen(text);
            if (length > 0)
                BBXFileWriteWithRetriesQuietly(fd, text, length);
            break;
        }
        case 0:
            // A "%" at the very end stands for itself.
            BBXFileWriteWithRetriesQuietly(fd, "%", 1);
            return;
        default:
            BBXFileWriteWithRetriesQuietly(fd, p, 2);
            break;
        }
        p += 2;
        run = p;
    }
    if (p > run)
        BBXFileWriteWithRetriesQuietly(fd, run, std::size_t(p - run));
}

} // namespace corvex
