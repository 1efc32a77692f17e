#include "storage/AttachmentNames.h"

#include "model/ObjectID.h"

namespace corvex {

namespace {

constexpr qsizetype DigestLength = 40;
constexpr qsizetype MaxFileNameBytes = 255; // NAME_MAX of the file systems we run on

bool isLowerHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f');
}

bool fitsFileName(const QString& name)
{
    return name.toUtf8().size() <= MaxFileNameBytes;
}

} // namespace

bool AttachmentNames::isSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QChar(u'\0')))
        return false;
    return fitsFileName(name);
}

bool AttachmentNames::isAcceptableAttachmentName(const QString& name)
{
    if (name.size() < DigestLength + 2 || name.at(DigestLength) != QLatin1Char('.'))
        return false;
    for (qsizetype index = 0; index < DigestLength; ++index) {
        if (!isLowerHexDigit(name.at(index)))
            return false;
    }
    const QString extension = name.mid(DigestLength + 1);
    if (extension.contains(QLatin1String("..")))
        return false;
    return isSafeFileName(extension) && fitsFileName(name);
}

QString AttachmentNames::printable(const QString& name)
{
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool AttachmentNames::isAcceptable(const ObjectID& attachment)
{
    return !attachment.isNull() && isAcceptableAttachmentName(attachment.asString());
}

} // namespace corvex
