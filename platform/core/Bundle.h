#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace corvex {

// The application's description: identifier, versions and the rest of the information
// dictionary compiled in from resources/Info.json. Read once, then immutable, so it is
// safe from any thread.
class Bundle
{
public:
    static const Bundle& mainBundle();

    // "com.tallowfen.corvex".
    QString identifier() const;
    // The marketing version ("1.6.0").
    QString shortVersion() const;
    // The build version.
    QString version() const;

    const QVariantMap& infoDictionary() const { return mInfo; }
    // False when there is no information dictionary at all (only through the seam below, or
    // when the compiled-in one cannot be read).
    bool hasInfoDictionary() const { return mHasInfo; }

    // Test seam: the information dictionary this process uses in place of the compiled-in one
    // (nullopt: none at all), for a test or a helper process to describe the application it
    // plays. The dictionary is still read once per process, so this has to come before the
    // first mainBundle(); afterwards it changes nothing and answers false.
    static bool supplyInfoDictionary(std::optional<QVariantMap> info);
    // An invalid QVariant when the key is absent.
    QVariant objectForInfoDictionaryKey(const QString& key) const { return mInfo.value(key); }

    static const QString IdentifierKey;   // "CFBundleIdentifier"
    static const QString ShortVersionKey; // "CFBundleShortVersionString"
    static const QString VersionKey;      // "CFBundleVersion"

private:
    Bundle();

    QVariantMap mInfo;
    bool mHasInfo = false;
};

} // namespace corvex
