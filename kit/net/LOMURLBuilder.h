#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>
#include <optional>

namespace corvex {

// Builds the kit's request URLs piece by piece: path components with the legacy URL
// escaping (space and non-ASCII percent-encoded, reserved characters kept), query values
// percent-encoded outside the unreserved characters, so that a value holding "&", "=", "+"
// or "#" stays one value.
class LOMURLBuilder
{
public:
    static LOMURLBuilder URLWithBase(const QString& base);

    void appendComponent(const QString& component);
    void escapeAndAppendComponent(const QString& component);
    // Nothing for a null value; a value that is not a string is escaped as its text.
    void appendValue(const QVariant& value, const QString& queryParam);

    // The legacy escaping of path components.
    static QString escapeString(const QString& text);
    // The escaping of query values: everything but A-Z a-z 0-9 - . _ ~ as UTF-8 %XX.
    static QString escapeQueryValue(const QString& text);

    const QString& URLString() const { return mURLString; }
    quint64 queryParams() const { return mQueryParams; }
    // Nothing when the whole string is no valid URL.
    std::optional<QUrl> URL() const;

private:
    QString mURLString;
    quint64 mQueryParams = 0;
};

} // namespace corvex
