#pragma once

// Crash-time file (only read there). Rules: no Qt; no allocation after installation; no
// locks; no stdio; only async-signal-safe calls; a pointer below 4096 is invalid.
//
// Where the user logging stores (BBXUserLogging.h) keep their paths, limits and counters:
// blocks of the crash context.

#include <atomic>
#include <cstdint>

namespace corvex {

struct BBXUserLoggingABStorage
{
    const char* pathA = nullptr;
    const char* pathB = nullptr;
    std::uint32_t maxSize = 0;
    std::uint32_t maxEntries = 0;
    bool restrictedBySize = false;
    std::atomic<std::uint32_t>* entryCounter = nullptr; // the entry rule's count
};

struct BBXUserLoggingKVStorage
{
    const char* incrementalPath = nullptr;
    const char* compactedPath = nullptr;
    std::uint32_t compactionThreshold = 64;
    std::uint32_t maxEntries = 0;
};

// In the read-only context.
struct BBXUserLoggingStores
{
    BBXUserLoggingABStorage log;
    BBXUserLoggingABStorage errors;
    BBXUserLoggingABStorage customExceptions;
    BBXUserLoggingKVStorage userKV;
    BBXUserLoggingKVStorage internalKV;
    std::uint32_t logBufferSize = 0;
};

// In the writable context.
struct BBXUserLoggingState
{
    std::atomic<const char*> currentLog{nullptr};
    std::atomic<const char*> currentErrors{nullptr};
    std::atomic<const char*> currentCustomExceptions{nullptr};
    std::atomic<std::uint32_t> errorCount{0};
    std::atomic<std::uint32_t> customExceptionCount{0};
    std::atomic<std::uint32_t> userKVCount{0};
    std::atomic<std::uint32_t> internalKVCount{0};
};

} // namespace corvex
