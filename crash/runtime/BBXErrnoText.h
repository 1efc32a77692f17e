#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// errno values in words for crash-time log lines. strerror and its relatives are not
// async-signal-safe (they may take the locale's lock or allocate), so the common values come
// from a fixed table and any other is written as "Unknown error <n>".

#include <cstddef>

namespace corvex {

// Holds the words for one value: a fixed text, or the fallback written into its own buffer.
// Lives on the caller's stack; text() stays valid while it does.
class BBXErrnoText
{
public:
    explicit BBXErrnoText(int error);

    const char* text() const { return mFixed != nullptr ? mFixed : mFallback; }

private:
    // "Unknown error " and the widest int with its sign and terminator.
    static constexpr std::size_t FallbackSize = 32;

    const char* mFixed = nullptr;
    char mFallback[FallbackSize] = {};
};

} // namespace corvex
