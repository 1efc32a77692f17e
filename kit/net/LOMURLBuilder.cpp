#include "kit/net/LOMURLBuilder.h"

namespace corvex {

namespace {

// Characters the legacy escaping keeps: the unreserved and the reserved ones of a URL.
bool urlBuilderKeepsInPath(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    static const QByteArray kept("-._~!$&'()*+,;=:@/?#[]");
    return kept.contains(c);
}

bool urlBuilderKeepsInQuery(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

QString urlBuilderEscape(const QString& text, bool (*keeps)(char))
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    static const char hex[] = "0123456789ABCDEF";
    for (char c : utf8) {
        if (keeps(c)) {
            out.append(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0xF]);
        }
    }
    return QString::fromLatin1(out);
}

} // namespace

LOMURLBuilder LOMURLBuilder::URLWithBase(const QString& base)
{
    LOMURLBuilder builder;
    builder.mURLString = base;
    return builder;
}

void LOMURLBuilder::appendComponent(const QString& component)
{
    mURLString.append(component);
}

void LOMURLBuilder::escapeAndAppendComponent(const QString& component)
{
    mURLString.append(escapeString(component));
}

QString LOMURLBuilder::escapeString(const QString& text)
{
    return urlBuilderEscape(text, &urlBuilderKeepsInPath);
}

QString LOMURLBuilder::escapeQueryValue(const QString& text)
{
    return urlBuilderEscape(text, &urlBuilderKeepsInQuery);
}

void LOMURLBuilder::appendValue(const QVariant& value, const QString& queryParam)
{
    if (value.isNull() || !value.isValid())
        return;
    mURLString.append(mQueryParams == 0 ? QLatin1Char('?') : QLatin1Char('&'));
    ++mQueryParams;
    mURLString.append(queryParam);
    mURLString.append(QLatin1Char('='));
    mURLString.append(escapeQueryValue(value.toString()));
}

std::optional<QUrl> LOMURLBuilder::URL() const
{
    const QUrl url = QUrl::fromEncoded(mURLString.toUtf8(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace corvex
