#pragma once

#include "platform/core/Value.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace corvex {

class SerialQueue;
class UserDefaults;

// The reporting kit's own defaults store: an in-memory dictionary mirrored to one XML
// property list, "<Application Support>/<escaped bundle identifier>/com.blackbox/
// BBXUserDefaults.plist", written only by synchronize() (atomically: a failed write keeps the
// old file). Keys can be moved once from the application's user defaults into it; a key
// leaves the application's defaults only after the file holding it was written, so a failed
// write never loses the value.
//
// Every use of the dictionary runs on the access queue, every file read and write on the io
// queue; any thread may call, and calls block until done. No call from inside either queue.
class BBXUserDefaults
{
public:
    static const QString AccessQueueLabel; // "com.blackbox.BBXUserDefaults.access"
    static const QString IoQueueLabel;     // "com.blackbox.BBXUserDefaults.io"

    // The shared store (Application Support of this moment, the main bundle's identifier,
    // the application's standard user defaults), made on first use.
    static BBXUserDefaults& standardUserDefaults();

    // A store under `baseDirectory` for `bundleIdentifier`, migrating from
    // `applicationDefaults` (nullptr: nothing to migrate from). Loads the file at once.
    BBXUserDefaults(const QString& baseDirectory, const QString& bundleIdentifier,
                    UserDefaults* applicationDefaults);
    ~BBXUserDefaults();
    BBXUserDefaults(const BBXUserDefaults&) = delete;
    BBXUserDefaults& operator=(const BBXUserDefaults&) = delete;

    const QString& directoryPath() const { return mDirectoryPath; }
    const QString& filePath() const { return mFilePath; }

    // Null when absent.
    Value objectForKey(const QString& key) const;
    // The value when it is a string, else null.
    QString stringForKey(const QString& key) const;
    // The value's truth when it is a number or a boolean, else false.
    bool boolForKey(const QString& key) const;

    // A null value removes the key. Memory only: synchronize() writes.
    void setObject(const Value& value, const QString& key);
    void setString(const QString& value, const QString& key);
    void setBool(bool value, const QString& key);
    void removeObjectForKey(const QString& key);
    void removeAllObjects();
    ValueDictionary dictionaryRepresentation() const;

    // Writes the contents to the file; failures are logged. Tells whether the file now
    // holds them (the store's own callers decide on it; the kit's callers need not).
    bool synchronize();
    // The file's dictionary, or nothing (missing, unreadable, damaged, a folder in its place).
    std::optional<ValueDictionary> loadDefaults();

    void migrateFromNSUserDefaults(const QStringList& keys);
    Value objectForKeyByMigratingFromNSUserDefaults(const QString& key);

    // base + escaped identifier (left out when empty, "." or "..") + "com.blackbox".
    static QString generateDirectoryURLForBaseURL(const QString& baseDirectory,
                                                  const QString& hostAppBundleIdentifier);
    // The identifier with every "/" replaced by "_".
    static QString getEscapedAppBundleIdentifier(const QString& bundleIdentifier);

private:
    QString mDirectoryPath;
    QString mFilePath;
    ValueDictionary mData;
    UserDefaults* mApplicationDefaults;
    std::unique_ptr<SerialQueue> mAccessQueue;
    std::unique_ptr<SerialQueue> mIoQueue;
};

} // namespace corvex
