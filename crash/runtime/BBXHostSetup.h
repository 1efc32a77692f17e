#pragma once

// Ordinary code, run once at set-up: gathers the host's facts into the block the crash-time
// writers read (BBXHost.h), so that nothing is looked up in a crashed process.

#include "crash/runtime/BBXHost.h"

#include <QByteArray>
#include <cstdint>

namespace corvex {

// Page size, the Documents folder, uname's machine, the CPU's brand string (CPUID), model
// and OS versions and the locale (the kit's host functions). Always true.
bool BBXHostSetup(BBXHostContext* host);

// The user's Documents folder: XDG_DOCUMENTS_DIR of user-dirs.dirs, else ~/Documents; $HOME
// when that folder does not exist.
QByteArray BBXHostDocumentsDirectory();
// The processor's brand string from CPUID; empty where there is none.
QByteArray BBXHostCPUBrand();

// 1060 ... 101100 for OS X 10.6 to 10.11, 0 for every other version (so always 0 here).
std::uint32_t BBXHostOSCodeForVersion(std::int64_t major, std::int64_t minor);
std::uint32_t BBXHostGetOSCode();

} // namespace corvex
