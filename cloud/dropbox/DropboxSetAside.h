#pragma once

#include <QString>
#include <QStringList>

namespace corvex {

// Where the Dropbox location keeps local copies no record can vouch for: when the status file
// cannot be read, every document copy of the managed folder moves into "setaside/<ms>" (a
// folder the start-up clean-up never lists, as its name has no point), so that no unsynced
// edit is removed with the records that named it. The copies are grouped by the root idea
// identifier of their payload; each group's copy with the latest save (by the payload's
// dateModified, kept in minutes; within one minute a copy saved here counts as later than a
// downloaded one; then by the time and counter in its name) moves on into "setaside/waiting",
// from where the mode adopts it once it has listed Dropbox; the rest stay where they are.
// File operations only; any thread.
class DropboxSetAside
{
public:
    DropboxSetAside() = delete;

    static const QString FolderName; // "setaside"

    static QString folder(const QString& managedFolder);
    static QString waitingFolder(const QString& managedFolder);

    // Moves the copies aside under `stamp` and the latest of each group on into the waiting
    // folder. False when a copy could not be moved.
    static bool setAsideCopies(const QString& managedFolder, qint64 stamp);
    // The copies waiting for adoption, by path, in name order.
    static QStringList waitingCopies(const QString& managedFolder);
    // A waiting copy that cannot be adopted stays set aside, out of the waiting folder.
    static void keepAside(const QString& managedFolder, const QString& waitingPath);
};

} // namespace corvex
