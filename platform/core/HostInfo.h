#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace corvex {

// Facts about the machine the reporting kit describes in its requests and reports. Each call
// reads its source afresh; nothing is cached.
class HostInfo
{
public:
    struct OsVersion
    {
        std::int64_t major = 0;
        std::int64_t minor = 0;
        std::int64_t patch = 0;
    };

    // VERSION_ID of /etc/os-release (up to three numeric components, missing ones 0; Debian
    // 12 is 12.0.0), else the leading numbers of /etc/debian_version, else 0.0.0.
    static OsVersion osVersion();
    // The numeric components of a VERSION_ID (or any "12.4" text) in os-release form: the
    // line may quote its value. A text without a leading number answers nothing.
    static bool parseVersion(const QByteArray& text, OsVersion& version);
    static bool parseOsRelease(const QByteArray& osRelease, OsVersion& version);

    // The kernel release (uname -r), at most 127 bytes.
    static QString osBuild();
    // The machine's product name from DMI, else the device tree's model, at most 127 bytes and
    // trimmed; a null string when neither exists (as on many virtual machines).
    static QString model();
    // The first of the files that holds text, trimmed and cut to 127 bytes; null when none.
    static QString firstLine(const QStringList& paths);

    static int processorCount();
    // The cores this process may run on (its affinity mask, which taskset narrows); at least 1.
    static int usableCores();
};

} // namespace corvex
