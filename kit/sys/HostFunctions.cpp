#include "kit/sys/HostFunctions.h"

#include "platform/core/Bundle.h"
#include "platform/core/HostInfo.h"
#include "platform/core/Sha1.h"

#include <QUuid>
#include <algorithm>
#include <cstring>
#include <vector>

namespace corvex {

namespace {

const QVariantMap& mainInfoDictionary()
{
    return Bundle::mainBundle().infoDictionary();
}

QString infoString(const QVariantMap& info, const char* key)
{
    const QVariant value = info.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

} // namespace

bool LOMBooleanValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.isEmpty())
            return false;
        const QChar first = text.at(0).toLower();
        if (first == QLatin1Char('y') || first == QLatin1Char('t'))
            return true;
        bool ok = false;
        const double number = text.toDouble(&ok);
        return ok && number != 0.0;
    }
    default:
        return false;
    }
}

QString LOMEscapedBundleIdentifier(const QVariantMap& info)
{
    QString identifier = infoString(info, "CFBundleIdentifier");
    return identifier.replace(QLatin1Char('/'), QLatin1Char('_'));
}

QString LOMEscapedBundleIdentifier()
{
    return LOMEscapedBundleIdentifier(mainInfoDictionary());
}

QString LOMBundleVersion(const QVariantMap& info)
{
    return infoString(info, "CFBundleVersion");
}

QString LOMBundleVersion()
{
    return LOMBundleVersion(mainInfoDictionary());
}

QString LOMBundleShortVersionString(const QVariantMap& info)
{
    return infoString(info, "CFBundleShortVersionString");
}

QString LOMBundleShortVersionString()
{
    return LOMBundleShortVersionString(mainInfoDictionary());
}

QString LOMApplicationDisplayName(const QVariantMap& info)
{
    const QString displayName = infoString(info, "CFBundleDisplayName");
    if (!displayName.isNull())
        return displayName;
    const QString name = infoString(info, "CFBundleName");
    if (!name.isNull())
        return name;
    return LOMBundleVersion(info);
}

QString LOMApplicationDisplayName()
{
    return LOMApplicationDisplayName(mainInfoDictionary());
}

bool LOMIsSignedForDistribution(const QVariantMap& info)
{
    return LOMBooleanValue(info.value(QStringLiteral("BlackboxSignedForDistribution")));
}

bool LOMIsSignedForDistribution()
{
    return LOMIsSignedForDistribution(mainInfoDictionary());
}

bool LOMShouldCollectDeviceIdentifiers(const QVariantMap& info)
{
    const QVariant loom = info.value(QStringLiteral("Loom"));
    if (loom.typeId() == QMetaType::QVariantMap) {
        const QVariant inner = loom.toMap().value(QStringLiteral("ReportIdentifiers"));
        if (inner.isValid())
            return LOMBooleanValue(inner);
    }
    const QVariant outer = info.value(QStringLiteral("BlackboxCollectDeviceIdentifiers"));
    if (outer.isValid())
        return LOMBooleanValue(outer);
    return true;
}

bool LOMShouldCollectDeviceIdentifiers()
{
    return LOMShouldCollectDeviceIdentifiers(mainInfoDictionary());
}

int LOMInstallSource(const QVariantMap& info)
{
    return LOMIsSignedForDistribution(info) ? 3 : 1;
}

int LOMInstallSource()
{
    return LOMInstallSource(mainInfoDictionary());
}

LOMOperatingSystemVersion LOMHostOperatingSystemVersion()
{
    const HostInfo::OsVersion version = HostInfo::osVersion();
    return {version.major, version.minor, version.patch};
}

QString LOMHostOSDisplayVersion()
{
    const LOMOperatingSystemVersion version = LOMHostOperatingSystemVersion();
    return QStringLiteral("%1.%2.%3")
        .arg(version.majorVersion)
        .arg(version.minorVersion)
        .arg(version.patchVersion);
}

QString LOMSysctlString(const char* name)
{
    if (name == nullptr)
        return QString();
    QString value;
    if (std::strcmp(name, "kern.osversion") == 0)
        value = HostInfo::osBuild();
    else if (std::strcmp(name, "hw.model") == 0)
        value = HostInfo::model();
    else if (std::strcmp(name, "hw.ncpu") == 0)
        value = QString::number(HostInfo::processorCount());
    // A system control is read into 128 bytes, its terminating zero included.
    if (value.isEmpty() || value.toUtf8().size() > 127)
        return QString();
    return value;
}

QString LOMHostOSBuildVersion()
{
    return LOMSysctlString("kern.osversion");
}

QString LOMHostModel()
{
    return LOMSysctlString("hw.model");
}

QString LOMHostLocaleIdentifier()
{
    QByteArray name;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        name = qgetenv(variable);
        if (!name.isEmpty())
            break;
    }
    // language[_territory][.codeset][@modifier]: the identifier is what comes before the
    // codeset and the modifier.
    const auto cut = std::find_if(name.cbegin(), name.cend(), [](char c) { return c == '.' || c == '@'; });
    name.truncate(cut - name.cbegin());
    // The value goes into request headers and records: anything but a plain name is no locale.
    const bool plain = std::all_of(name.cbegin(), name.cend(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-';
    });
    if (name.isEmpty() || !plain || name == "C" || name == "POSIX")
        return QStringLiteral("en_US_POSIX");
    return QString::fromLatin1(name);
}

void LOMHexEncodeBytes(const void* bytes, std::size_t count, char* output)
{
    if (output == nullptr)
        return;
    std::memset(output, 0, 2 * count + 1);
    if (bytes == nullptr)
        return;
    static const char alphabet[] = "0123456789abcdef";
    const auto* in = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        output[2 * i] = alphabet[in[i] >> 4];
        output[2 * i + 1] = alphabet[in[i] & 0x0F];
    }
}

QString LOMHexStringFromData(const QByteArray& data)
{
    std::vector<char> buffer(2 * std::size_t(data.size()) + 1);
    LOMHexEncodeBytes(data.constData(), std::size_t(data.size()), buffer.data());
    return QString::fromLatin1(buffer.data());
}

QString LOMSHA1HexStringFromBytes(const void* bytes, std::uint32_t length)
{
    Sha1 sha;
    if (bytes != nullptr)
        sha.update(static_cast<const char*>(bytes), qsizetype(length));
    return sha.hexDigest();
}

QString LOMSHA1HexStringFromData(const QByteArray& data)
{
    return Sha1::hex(data);
}

QString LOMHexStringFromUUIDBytes(const std::uint8_t* bytes)
{
    if (bytes == nullptr)
        return QString();
    char buffer[33];
    LOMHexEncodeBytes(bytes, 16, buffer);
    return QString::fromLatin1(buffer);
}

QString LOMCreateUUIDString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void LOMEnumerateByteRangesOfData(
    const QByteArray& data,
    const std::function<void(const char* bytes, LOMByteRange range, bool* stop)>& block)
{
    if (!block)
        return;
    bool stop = false;
    block(data.constData(), LOMByteRange{0, std::size_t(data.size())}, &stop);
}

} // namespace corvex
