#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvex {

// Plain functions shared by the kit core, analytics and the crash reporter: facts of the
// application bundle, of the host, and text forms of bytes. Each reads its source anew.
// The bundle facts read the main bundle's information dictionary; the overloads taking one
// read that dictionary instead.

QString LOMEscapedBundleIdentifier();
QString LOMEscapedBundleIdentifier(const QVariantMap& info);
QString LOMBundleVersion();
QString LOMBundleVersion(const QVariantMap& info);
QString LOMBundleShortVersionString();
QString LOMBundleShortVersionString(const QVariantMap& info);
QString LOMApplicationDisplayName();
QString LOMApplicationDisplayName(const QVariantMap& info);
bool LOMIsSignedForDistribution();
bool LOMIsSignedForDistribution(const QVariantMap& info);
bool LOMShouldCollectDeviceIdentifiers();
bool LOMShouldCollectDeviceIdentifiers(const QVariantMap& info);
// No application store exists here to install from: 3 when signed for distribution, else 1.
int LOMInstallSource();
int LOMInstallSource(const QVariantMap& info);

// A property-list value as a boolean: a bool, a non-zero number, or the texts "YES", "true",
// "y", "t" and non-zero numbers (any case); anything else is NO.
bool LOMBooleanValue(const QVariant& value);

struct LOMOperatingSystemVersion
{
    std::int64_t majorVersion = 0;
    std::int64_t minorVersion = 0;
    std::int64_t patchVersion = 0;
};

LOMOperatingSystemVersion LOMHostOperatingSystemVersion();
QString LOMHostOSDisplayVersion();
// The names the kit asks for, answered from Linux's sources: "kern.osversion" (the kernel
// release), "hw.model" (the DMI product name or device-tree model), "hw.ncpu"; anything
// else, or a value over 127 bytes, is null.
QString LOMSysctlString(const char* name);
QString LOMHostOSBuildVersion();
QString LOMHostModel();
// The user's locale as the kit's services name it, one answer for the kit, analytics and the
// crash reporter: the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty (the C
// library's order), without its codeset and modifier ("de_DE.UTF-8" gives "de_DE"), whether
// or not that locale is installed. "C", "POSIX" and their variants ("C.UTF-8"), nothing set,
// and a value that is no locale name give "en_US_POSIX".
QString LOMHostLocaleIdentifier();

// Clears 2 * count + 1 bytes of `output`, then writes two lower-case hex digits per byte.
void LOMHexEncodeBytes(const void* bytes, std::size_t count, char* output);
QString LOMHexStringFromData(const QByteArray& data);
QString LOMSHA1HexStringFromBytes(const void* bytes, std::uint32_t length);
QString LOMSHA1HexStringFromData(const QByteArray& data);
QString LOMHexStringFromUUIDBytes(const std::uint8_t* bytes);
// A new random UUID: 36 characters, upper-case hex with dashes.
QString LOMCreateUUIDString();

struct LOMByteRange
{
    std::size_t location = 0;
    std::size_t length = 0;
};
// A QByteArray is one contiguous range: one call with all bytes.
void LOMEnumerateByteRangesOfData(
    const QByteArray& data,
    const std::function<void(const char* bytes, LOMByteRange range, bool* stop)>& block);

} // namespace corvex
