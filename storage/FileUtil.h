#pragma once

#include "platform/core/Completion.h"

#include <QString>
#include <QUrl>
#include <functional>

namespace corvex {

// The program's scratch folders: exports in progress, files dragged out, anything that must
// be a file for a moment.
//
// Layout: the program folder is "corvex_temp" in the user's private temporary folder
// (Paths::privateTemporaryDirectory(): mode 0700, owned by the user, never a symbolic link;
// a shared /tmp would let other users plant or wipe our files). Each run of the program has
// a run folder in it, named by uniqueCorvexSession(), and each request a folder of its own
// below that: corvex_temp/<run>/<new UUID>.
//
// A run folder holds RunLockFileName, locked (flock, exclusive) by its run from the moment
// the folder is first used until the process ends; the kernel releases the lock when the
// process is gone, however it ends. Start-up cleaning removes only run folders whose lock is
// free, so a second instance never wipes the live scratch files of the first.
//
// URLs are file URLs of local paths; the empty QUrl stands for "none". Any thread.
class FileUtil
{
public:
    FileUtil() = delete;

    // The file in each run folder that its run holds locked.
    static const QString RunLockFileName;   // "run.lock"
    static const QString ProgramFolderName; // "corvex_temp"

    // The run's identifier: an upper-case UUID made once per process.
    static QString uniqueCorvexSession();

    // The program folder (not made here); empty when the private temporary folder is refused
    // (a symbolic link, another user's) or cannot be made.
    static QUrl temporaryDirectoryForCorvex();
    // A new, empty folder for one request: program folder / run / new UUID, made with its
    // missing parents (mode 0700). The run folder is made and locked on first use. Empty on
    // failure.
    static QUrl temporaryDirectoryForFile();
    // The subfolder `name` of `folder`, made with its missing parents. Empty on failure and
    // for a name that is not one plain path component (AttachmentNames::isSafeFileName). A
    // folder without a local path raises "FileUtil:createDirectory".
    static QUrl createDirectory(const QString& name, const QUrl& folder);
    // `fileName` inside a new temporaryDirectoryForFile() (the file is not made). Empty when
    // that folder cannot be made or the name is not one plain path component.
    static QUrl temporaryURLForFileName(const QString& fileName);

    // Removes what earlier runs left in the program folder. The folder is listed on the
    // calling thread (hidden entries skipped); the removal runs on a global queue of default
    // priority, item by item in listing order: an entry that is not a folder is removed (a
    // symbolic link itself, never its target); a run folder only when its lock is free, and
    // never this run's. Removal never follows symbolic links. A failure is logged and the
    // next item follows. Nothing is answered, except that `whenDone` (may be empty) answers on
    // the main queue once the work is over. The application calls it once at start-up.
    static void cleanTemporaryFilesDuringStartup(Completion<> whenDone = {});

    // "<baseName>_<yyyyMMdd_HHmm>.<extension>" with the local time now (Globals' wall clock).
    static QString fileNameWithTimeStampAndExtension(const QString& baseName, const QString& extension);

    // This run's folder, made and locked if it is not yet; empty on failure. For the
    // diagnostics and tests.
    static QUrl runDirectory();
};

} // namespace corvex
