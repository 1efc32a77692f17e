#include "platform/core/HostInfo.h"

#include "platform/core/WholeFileReader.h"

#include <QList>
#include <QStringList>
#include <algorithm>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace corvex {

namespace {

// The most any fact is allowed to hold, as a system control read into a 128-byte buffer.
constexpr qsizetype HostFactMaximum = 127;

QByteArray readSmallFile(const QString& path)
{
    auto bytes = WholeFileReader::read(path, 64 * 1024);
    return bytes ? *bytes : QByteArray();
}

} // namespace

bool HostInfo::parseVersion(const QByteArray& text, OsVersion& version)
{
    OsVersion parsed;
    std::int64_t* fields[] = {&parsed.major, &parsed.minor, &parsed.patch};
    qsizetype i = 0;
    int field = 0;
    bool any = false;
    while (field < 3) {
        qsizetype start = i;
        std::int64_t number = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 12)
            number = number * 10 + (text[i++] - '0');
        if (i == start)
            break;
        *fields[field++] = number;
        any = true;
        if (i >= text.size() || text[i] != '.')
            break;
        ++i;
    }
    if (any)
        version = parsed;
    return any;
}

bool HostInfo::parseOsRelease(const QByteArray& osRelease, OsVersion& version)
{
    for (const QByteArray& rawLine : osRelease.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("VERSION_ID="))
            continue;
        QByteArray value = line.mid(11);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return parseVersion(value, version);
    }
    return false;
}

HostInfo::OsVersion HostInfo::osVersion()
{
    OsVersion version;
    if (parseOsRelease(readSmallFile(QStringLiteral("/etc/os-release")), version))
        return version;
    if (parseVersion(readSmallFile(QStringLiteral("/etc/debian_version")).trimmed(), version))
        return version;
    return OsVersion();
}

QString HostInfo::osBuild()
{
    struct utsname names
    {};
    if (::uname(&names) != 0)
        return QString();
    return QString::fromUtf8(QByteArray(names.release).left(HostFactMaximum));
}

QString HostInfo::firstLine(const QStringList& paths)
{
    for (const QString& path : paths) {
        QByteArray text = readSmallFile(path);
        // The device tree ends its strings with a zero byte.
        const qsizetype zero = text.indexOf('\0');
        if (zero >= 0)
            text.truncate(zero);
        text = text.trimmed().left(HostFactMaximum).trimmed();
        if (!text.isEmpty())
            return QString::fromUtf8(text);
    }
    return QString();
}

QString HostInfo::model()
{
    return firstLine({QStringLiteral("/sys/devices/virtual/dmi/id/product_name"),
                      QStringLiteral("/proc/device-tree/model")});
}

int HostInfo::processorCount()
{
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? int(count) : 1;
}

int HostInfo::usableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

} // namespace corvex
