// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXHost.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXSDKLog.h"

#include <cstring>
#include <sys/statfs.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr std::uint32_t BBXHostRecordPageSize = 4096;

} // namespace

std::uint32_t BBXHostGetPageSize()
{
    if (::sysconf(_SC_PAGESIZE) <= 0)
        BBX_LOG_WARN("sysctlbyname failed while trying to get hw.pagesize");
    return BBXHostRecordPageSize;
}

std::size_t BBXHostCopyText(char* destination, std::size_t size, const char* source, std::size_t length)
{
    if (!BBXIsValidPointer(destination) || size == 0)
        return 0;
    if (!BBXIsValidPointer(source))
        length = 0;
    if (length > size - 1)
        length = size - 1;
    std::memcpy(destination, source, length);
    destination[length] = 0;
    return length;
}

bool BBXHostRecordInfo(BBXFile* file, const BBXHostContext* host)
{
    if (!BBXIsValidPointer(host))
        return true;
    BBXFileWriteSectionStart(file, "host");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "model", host->model[0] != 0 ? host->model : nullptr);
    BBXFileWriteHashEntryString(file, "machine", host->machine);
    BBXFileWriteHashEntryString(file, "cpu", host->cpu);
    BBXFileWriteHashEntryString(file, "os_build_version", host->osBuildVersion);
    BBXFileWriteHashEntryString(file, "os_display_version", host->osDisplayVersion);
    BBXFileWriteHashEntryString(file, "platform", "mac");
    BBXFileWriteHashEntryString(file, "locale", host->locale);
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
    return true;
}

void BBXHostRecordDiskSpace(BBXFile* file, const BBXHostContext* host)
{
    BBXFileWriteSectionStart(file, "storage");
    BBXFileWriteHashStart(file);
    struct statfs volume;
    if (BBXIsValidPointer(host) && host->documentsDirectory[0] != 0 &&
        ::statfs(host->documentsDirectory, &volume) == 0) {
        const std::uint64_t unit =
            volume.f_frsize != 0 ? std::uint64_t(volume.f_frsize) : std::uint64_t(volume.f_bsize);
        BBXFileWriteHashEntryUint64(file, "free", unit * std::uint64_t(volume.f_bavail));
        BBXFileWriteHashEntryUint64(file, "total", unit * std::uint64_t(volume.f_blocks));
    }
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

} // namespace corvex
