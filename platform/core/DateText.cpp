#include "platform/core/DateText.h"

namespace corvex {
namespace {

void appendNumber(QString& out, int value, int width)
{
    char digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && count < int(sizeof digits));
    if (value < 0)
        out += QLatin1Char('-');
    for (int pad = count; pad < width; ++pad)
        out += QLatin1Char('0');
    while (count > 0)
        out += QLatin1Char(digits[--count]);
}

// Reads exactly `width` ASCII digits at `pos`.
bool readDigits(QStringView text, qsizetype& pos, int width, int& value)
{
    if (pos + width > text.size())
        return false;
    int result = 0;
    for (int i = 0; i < width; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        result = result * 10 + int(c - u'0');
    }
    pos += width;
    value = result;
    return true;
}

bool readChar(QStringView text, qsizetype& pos, char16_t expected)
{
    if (pos >= text.size() || text[pos].unicode() != expected)
        return false;
    ++pos;
    return true;
}

bool isDigitAt(QStringView text, qsizetype pos)
{
    return pos < text.size() && text[pos].unicode() >= u'0' && text[pos].unicode() <= u'9';
}

constexpr int kMaxOffsetHours = 18;

} // namespace

QString DateText::format(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return QString();
    const QDateTime utc = dateTime.toUTC();
    const QDate date = utc.date();
    const QTime time = utc.time();
    QString out;
    out.reserve(23);
    appendNumber(out, date.year(), 4);
    out += QLatin1Char('-');
    appendNumber(out, date.month(), 2);
    out += QLatin1Char('-');
    appendNumber(out, date.day(), 2);
    out += QLatin1Char(' ');
    appendNumber(out, time.hour(), 2);
    out += QLatin1Char(':');
    appendNumber(out, time.minute(), 2);
    out += QLatin1String(":00 GMT");
    return out;
}

std::optional<QDateTime> DateText::parse(QStringView text)
{
    qsizetype pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, pos, 4, year) || !readChar(text, pos, u'-') || !readDigits(text, pos, 2, month) ||
        !readChar(text, pos, u'-') || !readDigits(text, pos, 2, day) || !readChar(text, pos, u' ') ||
        !readDigits(text, pos, 2, hour) || !readChar(text, pos, u':') || !readDigits(text, pos, 2, minute) ||
        !readChar(text, pos, u':') || !readDigits(text, pos, 2, second) || !readChar(text, pos, u' ') ||
        !readChar(text, pos, u'G') || !readChar(text, pos, u'M') || !readChar(text, pos, u'T'))
        return std::nullopt;
    if (second != 0 || hour > 23 || minute > 59)
        return std::nullopt;

    int offsetSeconds = 0;
    if (pos < text.size()) {
        const char16_t sign = text[pos].unicode();
        if (sign != u'+' && sign != u'-')
            return std::nullopt;
        ++pos;
        int offsetHours = 0;
        int offsetMinutes = 0;
        const int hourDigits = isDigitAt(text, pos + 1) ? 2 : 1;
        if (!readDigits(text, pos, hourDigits, offsetHours))
            return std::nullopt;
        if (pos < text.size() && (!readChar(text, pos, u':') || !readDigits(text, pos, 2, offsetMinutes)))
            return std::nullopt;
        if (pos != text.size() || offsetHours > kMaxOffsetHours || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (sign == u'-' ? -1 : 1);
    }

    // Year 0 does not exist in Qt's calendar; isValid rejects it with the other bad dates.
    const QDate date(year, month, day);
    if (year == 0 || !date.isValid())
        return std::nullopt;
    // The text gives local time at the offset: UTC is that time minus the offset.
    return QDateTime(date, QTime(hour, minute), Qt::UTC).addSecs(-offsetSeconds);
}

} // namespace corvex
