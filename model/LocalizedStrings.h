#pragma once

#include <QHash>
#include <QString>

namespace corvex {

// The application's string table: user-visible texts by key, compiled in as the resource
// ":/corvex/strings/en.json" (a JSON object of key -> English text). Loaded once on first
// use (thread-safe) and read-only afterwards, so it may be read from any thread.
class LocalizedStrings
{
public:
    static const LocalizedStrings& mainTable();

    LocalizedStrings(const LocalizedStrings&) = delete;
    LocalizedStrings& operator=(const LocalizedStrings&) = delete;

    // The table's text for the key; when the table has none, the default text, or the key
    // itself when the default is null or empty. A null or empty key finds nothing and answers
    // the default text as given (null when it is null).
    QString stringForKey(const QString& key, const QString& defaultText) const;
    bool containsKey(const QString& key) const { return mTexts.contains(key); }
    qsizetype count() const { return mTexts.size(); }

    static constexpr const char* ResourcePath = ":/corvex/strings/en.json";

private:
    LocalizedStrings();

    QHash<QString, QString> mTexts;
};

} // namespace corvex
