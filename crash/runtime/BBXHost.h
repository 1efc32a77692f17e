#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The host's facts, gathered ahead of time by BBXHostSetup (BBXHostSetup.h) into a block the
// caller hands in, and the "host" and "storage" lines written from it.

#include <cstddef>
#include <cstdint>

namespace corvex {

struct BBXFile;

constexpr std::size_t BBXHostTextSize = 128;
constexpr std::size_t BBXHostPathSize = 4096;

struct BBXHostContext
{
    std::uint32_t pageSize = 0;
    char documentsDirectory[BBXHostPathSize] = {}; // the volume the "storage" line measures
    char model[BBXHostTextSize] = {};              // empty: none (written as null)
    char machine[BBXHostTextSize] = {};            // "(failed)" when it could not be read
    char cpu[BBXHostTextSize] = {};                // "(failed)" when it could not be read
    char osBuildVersion[BBXHostTextSize] = {};
    char osDisplayVersion[BBXHostTextSize] = {};
    char locale[BBXHostTextSize] = {};
};

// The kernel's page size is read (a failure is logged), but 4096 is what the records use.
std::uint32_t BBXHostGetPageSize();

// The "host" line: model, machine, cpu, os_build_version, os_display_version, platform
// ("mac", the service's name for this kit), locale. Always true.
bool BBXHostRecordInfo(BBXFile* file, const BBXHostContext* host);
// The "storage" line: free and total bytes of the volume holding the Documents folder; an
// empty hash when that volume cannot be measured.
void BBXHostRecordDiskSpace(BBXFile* file, const BBXHostContext* host);

// Copies at most size - 1 bytes and always terminates; answers the bytes copied.
std::size_t BBXHostCopyText(char* destination, std::size_t size, const char* source, std::size_t length);

} // namespace corvex
