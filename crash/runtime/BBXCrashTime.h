#pragma once

// Crash-time file. Rules for everything here: no Qt; no allocation after installation; no
// locks; no stdio; only async-signal-safe calls; a pointer below 4096 is invalid.
//
// What every crash-time file of the runtime shares: the pointer rule.

#include <cstdint>

namespace corvex {

// The first page is never mapped; anything pointing into it is a null that was offset.
constexpr std::uintptr_t BBXMinimumValidAddress = 4096;

inline bool BBXIsValidPointer(const void* pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer) >= BBXMinimumValidAddress;
}

inline bool BBXIsValidAddress(std::uint64_t address)
{
    return address >= BBXMinimumValidAddress;
}

} // namespace corvex
