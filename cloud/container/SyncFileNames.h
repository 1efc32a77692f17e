#pragma once

#include <QString>
#include <optional>

namespace corvex {

// The names a sync tool leaves in a synced folder beside the files it carries, told apart
// from the documents themselves.
//
// Conflict copies (both sides changed a file; the tool keeps the other content under a
// new name beside it):
//   Syncthing   "X.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.ext"
//   Nextcloud   "X (conflicted copy YYYY-MM-DD HHMMSS).ext", optionally with a user name
//               before the date
//   ownCloud    "X_conflict-YYYYMMDD-HHMMSS.ext"
//   Dropbox     "X (host's conflicted copy YYYY-MM-DD).ext", optionally " (n)" after the date
// where "X.ext" is the file the copy belongs to (the extension may be missing).
//
// Temporary files (a transfer under way, an editor's lock): hidden names, names starting
// "~", and names ending ".part", ".partial", ".tmp", ".!sync", plus the temporaries of
// our own atomic saves (".corvex-tmp-").
//
// Any thread; no file is looked at.
class SyncFileNames
{
public:
    struct ConflictCopy
    {
        QString original; // the file the copy belongs to: "X.ext"
        QString device;   // the device or user named in the copy's name ("" when none)
        QString tool;     // "Syncthing", "Nextcloud", "ownCloud" or "Dropbox"
    };

    SyncFileNames() = delete;

    // Not empty, no "/" or NUL, not "." or "..".
    static bool isPlainFileName(const QString& name);
    static bool isHidden(const QString& name);
    static bool isTemporary(const QString& name);
    // The copy's parts, or nothing when the name is no conflict copy of a plain file name.
    static std::optional<ConflictCopy> parseConflictCopy(const QString& name);
    static bool isConflictCopy(const QString& name) { return parseConflictCopy(name).has_value(); }
    // A plain file name that is neither hidden, temporary nor a conflict copy: a file of
    // the folder's own.
    static bool isListable(const QString& name);
};

} // namespace corvex
