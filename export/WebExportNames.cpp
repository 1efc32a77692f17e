#include "export/WebExportNames.h"

#include "model/Idea.h"
#include "platform/core/Sha1.h"

namespace corvex {

namespace {

// Room for the longest suffix ("_mini.png") within a file name of 255 bytes.
constexpr qsizetype kMaxSafeIdentifierBytes = 240;

bool isPlainNameByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

} // namespace

QString WebExportNames::safeIdentifier(const QString& identifier)
{
    const QByteArray utf8 = identifier.toUtf8();
    bool plain = !utf8.isEmpty() && utf8.size() <= kMaxSafeIdentifierBytes && !utf8.contains("..");
    for (qsizetype i = 0; plain && i < utf8.size(); ++i)
        plain = isPlainNameByte(utf8[i]) || utf8[i] == '.';
    if (plain)
        return identifier;

    static const char hex[] = "0123456789ABCDEF";
    QByteArray mapped("~");
    for (const char c : utf8) {
        if (isPlainNameByte(c)) {
            mapped.append(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        mapped.append('~');
        mapped.append(hex[byte >> 4]);
        mapped.append(hex[byte & 0xF]);
    }
    if (mapped.size() > kMaxSafeIdentifierBytes)
        return QStringLiteral("~") + Sha1::hex(utf8);
    return QString::fromLatin1(mapped);
}

QString WebExportNames::imageNameFor(const Idea& idea)
{
    return safeIdentifier(idea.identifier()) + QStringLiteral("_mini.png");
}

QString WebExportNames::bigImageNameFor(const Idea& idea)
{
    return safeIdentifier(idea.identifier()) + QStringLiteral(".jpg");
}

} // namespace corvex
