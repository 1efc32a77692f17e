#pragma once

// File coordination: how the stored documents, the document index and the cloud back ends
// read and write files that other parts of this process, other instances of the program and
// outside tools (a sync client, a Dropbox mirror) may use at the same time.
//
// Presenters
//   A FilePresenter stands for a file held open in memory. Register it with
//   addFilePresenter(); the registry holds it weakly, keyed by normalisedPath() of its
//   presentedItemPath(), read once at registration. A destroyed or removed presenter is
//   never called again (callbacks already queued for it are dropped).
//
// Coordinated access
//   FileCoordinator(presenter).coordinateReading/coordinateWriting(path, options, accessor)
//   runs the accessor synchronously on the calling thread (any thread) with the path
//   normalised, and answers false, with the Error, when the file could not be had in time;
//   the accessor then does not run. In order:
//   1. Every presenter of the path other than the coordinator's own gets
//      relinquishPresentedItemToReader (reads) or relinquishPresentedItemToWriter (writes)
//      on its own queue. The coordinator waits for each to call its block, at most
//      relinquishTimeout() (2 s) in all, then goes on without the late ones. A presenter
//      whose queue is the one the coordination runs on (the main thread for a presenter
//      on the main queue) is called directly, never waited for through its own queue.
//      Nothing is locked while presenters are asked, so a presenter on the main queue can
//      never wait for a coordination that waits for it.
//   2. The path is locked in this process (readers together, writers alone), then across
//      processes (below), each waiting at most lockTimeout() (10 s unless set). In this
//      process waiters are served in the order they came (consecutive readers together),
//      so neither a stream of reads nor one of writes can starve the other side.
//   3. The accessor runs. Both locks are held only while it runs.
//   4. After a write, the file's state (device, inode, size, modification and change times)
//      is recorded as this process's own, so the change watcher does not report it.
//   5. The reacquirers that presenters handed back run on their queues (also when the
//      coordination failed in step 2). A late presenter's reacquirer runs when its block
//      is finally called.
//   6. After a write, presentedItemDidChange is queued on the queue of every presenter of
//      the path EXCEPT the coordinator's own: a coordinator made for presenter A never tells
//      A about A's write; one made with no presenter tells all of them.
//   The accessor must not coordinate the same path on another thread and wait for it
//   (that is a deadlock), nor wait on the main queue. Nested coordination of a path on the
//   thread that holds it runs at once, without steps 1-6, except a write inside a read,
//   which fails (the upgrade could deadlock).
//
// Changes by other processes
//   FileChangeWatcher watches the folders of presented files (inotify, on the main thread,
//   so it needs the main event loop), debounces each folder by 0.2 s on the current
//   Scheduler, and queues
//   presentedItemDidChange on the queue of every presenter of a file that appeared, changed
//   or disappeared without a coordinated write of this process: once per change.
//
// Options
//   Fixed numbers, so that callers can pass them through unchanged. ReadingWithoutChanges
//   (1) is the only reading option; presenters here have no unsaved changes to be asked
//   for, so it changes nothing. WritingForDeleting (1), WritingForMoving (2),
//   WritingForMerging (4), WritingForReplacing (8) are accepted and change nothing: every
//   write is treated alike and followed by presentedItemDidChange (there is no separate
//   deletion or move message).
//
// Lock files
//   Cross-process exclusion uses CrossProcessLock (flock, shared for readers, exclusive for
//   writers) on CrossProcessLock::lockFilePathFor(normalised path): a file named by the
//   SHA-1 of the path in $XDG_RUNTIME_DIR/com.tallowfen.corvex/locks (else the same below
//   the cache folder). Nothing is ever created beside the coordinated file, and the lock is
//   never taken on a file that a save replaces by renaming. A crashed holder frees the lock
//   at once. On a time-out the error (CrossProcessLock::ErrorDomain, TimedOut) reads
//   "<path> is locked by <application> (pid <n>) on <host>." Paths are compared as
//   written (normalised, not resolved): two paths through different symbolic links are two
//   files to the coordinator.

#include "platform/core/Error.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class FilePresenter;

class FileCoordinator
{
public:
    enum ReadingOption : int
    {
        ReadingWithoutChanges = 1,
    };

    enum WritingOption : int
    {
        WritingForDeleting = 1,
        WritingForMoving = 2,
        WritingForMerging = 4,
        WritingForReplacing = 8,
    };

    // Errors of the coordination itself; lock time-outs and file errors keep their own
    // domains (CrossProcessLock::ErrorDomain, Error::PosixDomain).
    enum Code
    {
        InvalidPath = 1,       // empty path
        Busy = 2,              // held in this process for longer than the lock timeout
        NestedWriteInRead = 3, // a write asked for inside a read of the path on the same thread
    };
    static const QString ErrorDomain; // "com.tallowfen.corvex.filecoordination"

    // The presenter (may be null) is used only to leave it out of the messages of this
    // coordinator's accesses; it is never called and need not outlive the coordinator.
    explicit FileCoordinator(const FilePresenter* presenterOrNull = nullptr);

    [[nodiscard]] bool coordinateReading(const QString& path, int options,
                                         const std::function<void(const QString& path)>& accessor,
                                         Error* error = nullptr) const;
    [[nodiscard]] bool coordinateWriting(const QString& path, int options,
                                         const std::function<void(const QString& path)>& accessor,
                                         Error* error = nullptr) const;

    const FilePresenter* presenter() const { return mPresenter; }

    // How long this coordinator's accesses wait for the in-process and for the
    // cross-process lock: defaultLockTimeout() unless set (a save from the interface may
    // want to give up sooner than a background sync).
    double lockTimeout() const;
    void setLockTimeout(double seconds);

    // The registry. Any thread.
    static void addFilePresenter(const std::shared_ptr<FilePresenter>& presenter);
    static void removeFilePresenter(const FilePresenter* presenter);
    // The live presenters now (for tests and diagnostics).
    static std::vector<std::shared_ptr<FilePresenter>> filePresenters();

    // An absolute path with "." and ".." resolved textually (QDir::cleanPath), relative
    // paths taken from the current folder. Symbolic links are not resolved: the file may
    // not exist yet. Empty for an empty path.
    static QString normalisedPath(const QString& path);

    // Process-wide: how long accesses wait for the locks (10 s unless changed) and for
    // presenters to relinquish (2 s unless changed). Any thread.
    static double defaultLockTimeout();
    static void setDefaultLockTimeout(double seconds);
    static double relinquishTimeout();
    static void setRelinquishTimeout(double seconds);

private:
    bool coordinate(bool write, const QString& path, const std::function<void(const QString& path)>& accessor,
                    Error* error) const;

    const FilePresenter* mPresenter;
    double mLockTimeout = -1; // below 0: the default
};

} // namespace corvex
