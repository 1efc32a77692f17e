#include "cloud/container/SyncFileNames.h"

namespace corvex {

namespace {

bool syncNameDigitsAt(const QString& text, qsizetype at, qsizetype count)
{
    if (at < 0 || at + count > text.size())
        return false;
    for (qsizetype i = at; i < at + count; ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool syncNameCharAt(const QString& text, qsizetype at, QChar c)
{
    return at >= 0 && at < text.size() && text.at(at) == c;
}

// "YYYYMMDD-HHMMSS" at `at`.
bool compactStampAt(const QString& text, qsizetype at)
{
    return syncNameDigitsAt(text, at, 8) && syncNameCharAt(text, at + 8, QLatin1Char('-')) &&
           syncNameDigitsAt(text, at + 9, 6);
}

// "YYYY-MM-DD" at `at`.
bool dashedDateAt(const QString& text, qsizetype at)
{
    return syncNameDigitsAt(text, at, 4) && syncNameCharAt(text, at + 4, QLatin1Char('-')) &&
           syncNameDigitsAt(text, at + 5, 2) && syncNameCharAt(text, at + 7, QLatin1Char('-')) &&
           syncNameDigitsAt(text, at + 8, 2);
}

// What may follow the stamp: nothing, or an extension (a point and no further marks).
bool isExtensionTail(const QString& tail)
{
    return tail.isEmpty() || (tail.startsWith(QLatin1Char('.')) && !tail.contains(QLatin1Char('/')));
}

std::optional<SyncFileNames::ConflictCopy> copyOf(const QString& base, const QString& extension,
                                                  const QString& device, const char* tool)
{
    if (base.isEmpty())
        return std::nullopt;
    SyncFileNames::ConflictCopy copy{base + extension, device, QString::fromLatin1(tool)};
    if (!SyncFileNames::isPlainFileName(copy.original))
        return std::nullopt;
    return copy;
}

std::optional<SyncFileNames::ConflictCopy> syncthingCopy(const QString& name)
{
    static const QString marker = QStringLiteral(".sync-conflict-");
    const qsizetype at = name.lastIndexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype stamp = at + marker.size();
    if (!compactStampAt(name, stamp) || !syncNameCharAt(name, stamp + 15, QLatin1Char('-')))
        return std::nullopt;
    qsizetype end = stamp + 16;
    while (end < name.size() && name.at(end).isLetterOrNumber() && name.at(end).unicode() < 128)
        ++end;
    if (end == stamp + 16)
        return std::nullopt;
    const QString tail = name.mid(end);
    if (!isExtensionTail(tail))
        return std::nullopt;
    return copyOf(name.left(at), tail, name.mid(stamp + 16, end - stamp - 16), "Syncthing");
}

std::optional<SyncFileNames::ConflictCopy> nextcloudCopy(const QString& name)
{
    static const QString marker = QStringLiteral(" (conflicted copy ");
    const qsizetype at = name.lastIndexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype inner = at + marker.size();
    const qsizetype close = name.indexOf(QLatin1Char(')'), inner);
    // "YYYY-MM-DD HHMMSS" ends the parenthesis; a user name may stand before it.
    if (close < 0 || close - inner < 17)
        return std::nullopt;
    const qsizetype stamp = close - 17;
    if (!dashedDateAt(name, stamp) || !syncNameCharAt(name, stamp + 10, QLatin1Char(' ')) ||
        !syncNameDigitsAt(name, stamp + 11, 6))
        return std::nullopt;
    QString device;
    if (stamp > inner) {
        if (!syncNameCharAt(name, stamp - 1, QLatin1Char(' ')))
            return std::nullopt;
        device = name.mid(inner, stamp - 1 - inner);
    }
    const QString tail = name.mid(close + 1);
    if (!isExtensionTail(tail))
        return std::nullopt;
    return copyOf(name.left(at), tail, device, "Nextcloud");
}

std::optional<SyncFileNames::ConflictCopy> owncloudCopy(const QString& name)
{
    static const QString marker = QStringLiteral("_conflict-");
    const qsizetype at = name.lastIndexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype stamp = at + marker.size();
    if (!compactStampAt(name, stamp))
        return std::nullopt;
    const QString tail = name.mid(stamp + 15);
    if (!isExtensionTail(tail))
        return std::nullopt;
    return copyOf(name.left(at), tail, QString(), "ownCloud");
}

std::optional<SyncFileNames::ConflictCopy> dropboxCopy(const QString& name)
{
    static const QString marker = QStringLiteral("'s conflicted copy ");
    const qsizetype at = name.lastIndexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype open = name.lastIndexOf(QStringLiteral(" ("), at);
    if (open < 0 || open + 2 >= at)
        return std::nullopt;
    qsizetype pos = at + marker.size();
    if (!dashedDateAt(name, pos))
        return std::nullopt;
    pos += 10;
    // An optional " (n)" when the same day had several copies.
    if (syncNameCharAt(name, pos, QLatin1Char(' ')) && syncNameCharAt(name, pos + 1, QLatin1Char('('))) {
        qsizetype digits = pos + 2;
        while (digits < name.size() && syncNameDigitsAt(name, digits, 1))
            ++digits;
        if (digits == pos + 2 || !syncNameCharAt(name, digits, QLatin1Char(')')))
            return std::nullopt;
        pos = digits + 1;
    }
    if (!syncNameCharAt(name, pos, QLatin1Char(')')))
        return std::nullopt;
    const QString tail = name.mid(pos + 1);
    if (!isExtensionTail(tail))
        return std::nullopt;
    return copyOf(name.left(open), tail, name.mid(open + 2, at - open - 2), "Dropbox");
}

} // namespace

bool SyncFileNames::isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool SyncFileNames::isHidden(const QString& name)
{
    return name.startsWith(QLatin1Char('.'));
}

bool SyncFileNames::isTemporary(const QString& name)
{
    return isHidden(name) || name.startsWith(QLatin1Char('~')) || name.endsWith(QLatin1String(".part")) ||
           name.endsWith(QLatin1String(".partial")) || name.endsWith(QLatin1String(".tmp")) ||
           name.endsWith(QLatin1String(".!sync")) || name.contains(QLatin1String(".corvex-tmp-"));
}

std::optional<SyncFileNames::ConflictCopy> SyncFileNames::parseConflictCopy(const QString& name)
{
    if (!isPlainFileName(name))
        return std::nullopt;
    if (auto copy = syncthingCopy(name))
        return copy;
    if (auto copy = nextcloudCopy(name))
        return copy;
    if (auto copy = dropboxCopy(name))
        return copy;
    return owncloudCopy(name);
}

bool SyncFileNames::isListable(const QString& name)
{
    return isPlainFileName(name) && !isTemporary(name) && !isConflictCopy(name);
}

} // namespace corvex
