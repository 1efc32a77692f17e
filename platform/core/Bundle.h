#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

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
    // An invalid QVariant when the key is absent.
    QVariant objectForInfoDictionaryKey(const QString& key) const { return mInfo.value(key); }

    static const QString IdentifierKey;   // "CFBundleIdentifier"
    static const QString ShortVersionKey; // "CFBundleShortVersionString"
    static const QString VersionKey;      // "CFBundleVersion"

private:
    Bundle();

    QVariantMap mInfo;
};

} // namespace corvex
