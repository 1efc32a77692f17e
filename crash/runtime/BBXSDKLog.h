#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The kit's own log, "sdk.log" in the current run's report directory: the reporter's
// account of what it did, written from signal handlers and while other threads are frozen,
// so only open, strlen and raw writes.

#include <atomic>
#include <cstdarg>
#include <cstdint>

namespace corvex {

// The log's path and state live in a block the caller hands in (the crash context holds
// it); nothing is logged until one is installed with a path.
struct BBXSDKLogState
{
    const char* path = nullptr;               // <report directory>/sdk.log, NUL-terminated
    std::atomic<std::int32_t> descriptor{-1}; // -1: not open yet
    std::uint32_t minimumLevel = 1;           // 1: every line
};

enum BBXSDKLogLevel : std::uint32_t
{
    BBXSDKLogLevelDebug = 1,
    BBXSDKLogLevelInfo = 2,
    BBXSDKLogLevelWarn = 3,
    BBXSDKLogLevelError = 4,
};

// Process-wide; nullptr stops logging. The state must outlive its installation.
void BBXSDKLogInstall(BBXSDKLogState* state);
BBXSDKLogState* BBXSDKLogInstalledState();

// Conversions: %d (int), %u and %x (unsigned int), %p (a 64-bit value: pointers or
// std::uint64_t), %s (a NUL-terminated string, "(null)" for none). Any other character
// after "%" is written with it and takes no argument ("%zd" stays "%zd").
void BBXSDKLog(std::uint32_t level, const char* format, ...);
void BBXSDKLogV(std::uint32_t level, const char* format, va_list arguments);

} // namespace corvex

// The callers' line forms: the level's six-character prefix, "[function:line] ", the text
// and a line feed.
#define BBX_LOG_DEBUG(format, ...)                                                                           \
    ::corvex::BBXSDKLog(1, "DEBUG [%s:%d] " format "\n", __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define BBX_LOG_INFO(format, ...)                                                                            \
    ::corvex::BBXSDKLog(2, "INFO  [%s:%d] " format "\n", __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define BBX_LOG_WARN(format, ...)                                                                            \
    ::corvex::BBXSDKLog(3, "WARN  [%s:%d] " format "\n", __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define BBX_LOG_ERROR(format, ...)                                                                           \
    ::corvex::BBXSDKLog(4, "ERROR [%s:%d] " format "\n", __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
