#include "model/StringExtensions.h"

#include <QChar>
#include <QLocale>

namespace corvex {
namespace {

bool isRemovedFromFileNames(char32_t codePoint)
{
    if (QChar::isSpace(codePoint) || codePoint == 0x2028 || codePoint == 0x2029)
        return true;
    if (QChar::isNonCharacter(codePoint) || QChar::isSurrogate(codePoint))
        return true;
    switch (QChar::category(codePoint)) {
    case QChar::Other_NotAssigned:
    case QChar::Other_Control: // no file system takes NUL, and the rest only harms
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency:
    case QChar::Symbol_Modifier:
    case QChar::Symbol_Other:
        return true;
    default:
        return codePoint == U':' || codePoint == U'/';
    }
}

} // namespace

QString StringExtensions::createProperFileNameWithMaxLenght(const QString& text, quint64 maxLength)
{
    QString result;
    result.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar unit = text.at(i);
        char32_t codePoint = unit.unicode();
        qsizetype units = 1;
        if (unit.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
            units = 2;
        }
        if (!isRemovedFromFileNames(codePoint))
            result.append(text.constData() + i, units);
        i += units - 1;
    }
    if (quint64(result.size()) > maxLength) {
        qsizetype cut = qsizetype(maxLength);
        // Only whole pairs remain after the filter, so a low surrogate at the cut has its
        // high surrogate just before it.
        if (cut > 0 && result.at(cut).isLowSurrogate())
            --cut;
        result.truncate(cut);
    }
    return result;
}

QString StringExtensions::concatPath(const QString& first, const QString& second)
{
    QString joined;
    if (first.isEmpty())
        joined = second;
    else if (second.isEmpty())
        joined = first;
    else
        joined = first + QLatin1Char('/') + second;

    QString result;
    result.reserve(joined.size());
    for (const QChar c : joined) {
        if (c == QLatin1Char('/') && result.endsWith(QLatin1Char('/')))
            continue;
        result.append(c);
    }
    if (result.size() > 1 && result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

bool StringExtensions::areEqual(const QString& first, const QString& second)
{
    if (first.isNull() || second.isNull())
        return first.isNull() && second.isNull();
    return first == second;
}

bool StringExtensions::endsWith(const QString& text, const QString& suffix)
{
    return text.endsWith(suffix, Qt::CaseSensitive);
}

QString StringExtensions::urlencode(const QString& text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QString result;
    result.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        const auto c = uchar(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            result.append(QLatin1Char(char(c)));
        } else if (c == ' ') {
            result.append(QLatin1Char('+'));
        } else {
            result.append(QLatin1Char('%'));
            result.append(QLatin1Char(hex[c >> 4]));
            result.append(QLatin1Char(hex[c & 0xF]));
        }
    }
    return result;
}

bool StringExtensions::containsStringBackport(const QString& text, const QString& other)
{
    return !other.isEmpty() && text.contains(other, Qt::CaseSensitive);
}

QString StringExtensions::localUppercaseString(const QString& text)
{
    return QLocale::system().toUpper(text);
}

QString StringExtensions::xmlSimpleEscapeString(const QString& text)
{
    QString copy = text;
    xmlSimpleEscape(copy);
    return copy;
}

void StringExtensions::xmlSimpleEscape(QString& text)
{
    text.replace(QLatin1String("&"), QLatin1String("&amp;"));
    text.replace(QLatin1String("\""), QLatin1String("&quot;"));
    text.replace(QLatin1String("'"), QLatin1String("&#x27;"));
    text.replace(QLatin1String(">"), QLatin1String("&gt;"));
    text.replace(QLatin1String("<"), QLatin1String("&lt;"));
}

} // namespace corvex
