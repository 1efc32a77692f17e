#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <mutex>

namespace corvex {

// The user's preferences, in the way of the platform's user defaults: a persistent layer
// kept in one JSON file, over a layer of registered defaults that is never written.
//
// Values are QVariants holding bool, qint64, double, QString, QVariantList, QVariantMap
// (nested) or null (QVariant::fromValue(nullptr)); other integer types are stored as qint64,
// QStringList as a list. Integers stay integers and doubles stay doubles through the file.
//
// Every set that changes a value rewrites the whole file at once through SaveFile. Setters
// return nothing: a failed write is logged and kept in lastError() (until a later write
// succeeds), the old file stays, and the new value stays in memory for the next successful
// write (or synchronize()) to persist. A set that changes nothing touches no file and posts
// nothing.
//
// After changes, DidChangeNotification (sender: this object) is posted once on the main
// queue for every burst of changes made before the main queue gets to run.
//
// Thread-safe; observers are never called under the lock. Destroy it on the main thread.
class UserDefaults
{
public:
    static const QString DidChangeNotification; // "UserDefaultsDidChangeNotification"

    // Loads `filePath`. A missing file is an empty store. A file that is not a JSON object
    // is logged, moved aside to "<file>.corrupt" and treated as empty. Temporary files
    // left by an interrupted save are removed.
    explicit UserDefaults(QString filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The shared store at standardFilePath(), the path taken from the environment when it is
    // first used.
    static UserDefaults& standardUserDefaults();
    // Paths::config()/com.tallowfen.corvex/defaults.json.
    static QString standardFilePath();
    // Drops the shared store so that the next standardUserDefaults() loads afresh. References
    // to the old one dangle afterwards.
    static void resetStandardUserDefaultsForTesting();

    const QString& filePath() const { return mFilePath; }

    // Merges into the registered layer, consulted for keys the persistent layer lacks.
    void registerDefaults(const QVariantMap& defaults);

    // The persistent value, else the registered one, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;
    // The typed getters read the persistent value, else the registered one, converted as
    // below; a value that does not convert counts as absent, and absence reads as
    // 0 / false / empty.
    // A number (non-zero is true), a bool, or the strings "YES"/"NO", "true"/"false" (any
    // case) and decimal integers ("1", "0").
    bool boolForKey(const QString& key) const;
    // A number (doubles truncated toward zero and clamped), a bool, or the same strings.
    qint64 integerForKey(const QString& key) const;
    // A number, a bool, or the same strings and decimal numbers.
    double doubleForKey(const QString& key) const;
    // A string, or a number or bool in its decimal form.
    QString stringForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    // Whether the persistent layer holds the key.
    bool containsKey(const QString& key) const;
    // The registered layer overlaid with the persistent one.
    QVariantMap dictionaryRepresentation() const;

    // An invalid QVariant removes the key. A value of another type is refused (lastError).
    void setObject(const QString& key, const QVariant& value);
    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qint64 value);
    // A NaN or an infinity is refused (lastError): the file cannot hold it.
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);
    void removeObjectForKey(const QString& key);

    // The error of the last failed set or write; null once a later write succeeded.
    Error lastError() const;
    // Writes the file if a change has not reached it yet (after a failed write).
    [[nodiscard]] Status synchronize();

private:
    struct NotifyState;

    void load();
    void change(const QString& key, const QVariant* normalized);
    void persist(quint64 generation, const QByteArray& bytes);
    void setError(const Error& error);

    const QString mFilePath;
    mutable std::mutex mMutex; // guards the layers, the generation and the last error
    QVariantMap mValues;
    QVariantMap mRegistered;
    quint64 mGeneration = 0;
    Error mLastError;

    std::mutex mWriteMutex; // orders the file writes
    std::atomic<quint64> mWrittenGeneration{0};

    std::shared_ptr<NotifyState> mNotify;
};

} // namespace corvex
