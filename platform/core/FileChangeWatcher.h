#pragma once

#include <QString>
#include <QStringList>
#include <memory>

namespace corvex {

// Notices changes that other processes make to presented files (another instance of the
// program, a sync tool working in a cloud folder) and tells the files' presenters.
//
// One per process, living on the main thread. It watches the FOLDERS of presented files
// through inotify (QFileSystemWatcher): an atomic save renames a new inode into place, so
// a watch on the file itself goes stale at the first such save. The presented files that
// exist are watched too, re-armed after every look, so that a tool writing in place is
// also noticed. Events are debounced per folder (DebounceSeconds on the current Scheduler,
// so virtual time drives it in tests); then each presented file of the folder is compared
// with the state last recorded for it: the state at registration, after each coordinated
// write of this process, and after each change delivered. A file that appeared, changed or
// disappeared gets presentedItemDidChange queued on the queue of each of its presenters,
// once per change. While a coordinated write of the file runs in this process, the look is
// put off until it is over.
//
// A folder that does not exist yet is covered by watching its nearest existing ancestor;
// once the folder appears it is watched itself, and its presented files are looked at at
// once. Without a QCoreApplication nothing is watched.
//
// The coordinator keeps it informed (FileCoordinator::addFilePresenter/removeFilePresenter);
// nobody else needs to call it.
class FileChangeWatcher
{
public:
    static constexpr double DebounceSeconds = 0.2;

    // The presenters changed: the watched folders follow on the main thread (at once when
    // called there, else through the main queue). Any thread.
    static void presentersChanged();

    // The process-wide watcher, made on first use. Main thread only, as are the members.
    static FileChangeWatcher& instance();

    // Looks at every presented file now, without waiting for an event.
    void checkAll();

    // The folders watched now (existing ancestors stand in for missing folders), sorted.
    QStringList watchedFolders() const;
    // True while a folder's look is scheduled (an event came, the debounce runs).
    bool hasPendingChecks() const;

    FileChangeWatcher(const FileChangeWatcher&) = delete;
    FileChangeWatcher& operator=(const FileChangeWatcher&) = delete;

private:
    FileChangeWatcher();
    ~FileChangeWatcher(); // never called: the watcher lives until the process ends

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvex
