#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <vector>

namespace corvex {

// A reader/writer lock shared between processes, held with flock(2) on a lock file of its
// own. The lock file is only ever locked, never renamed or replaced, so the lock cannot be
// lost to an atomic save; the kernel drops the lock when its holder's descriptor closes,
// also when the holder crashes, so there are no stale locks to break.
//
// Whoever acquires the lock writes a small record into the lock file (pid, host, boot id,
// application name), so that a waiter that gives up can say who holds it. Each holder
// writes into a slot of its own that it keeps locked with an open-file-description record
// lock for as long as it holds the lock, so a record counts only while its writer is
// there: readers that leave, or crash, take theirs along. The records are informative
// only: the flock is the lock.
//
// One object is one lock held by one thread at a time; objects are independent, also
// within one process (two objects on one file exclude each other like two processes).
class CrossProcessLock
{
public:
    enum class Mode
    {
        Shared,   // readers: any number together
        Exclusive // a writer: alone
    };

    // Codes of ErrorDomain. A failing system call (making the folder, opening the file,
    // flock) gives an Error::PosixDomain error with its errno instead.
    enum Code
    {
        TimedOut = 1,     // held by someone else for longer than the timeout
        NotAvailable = 2, // no lock file was given
    };

    static const QString ErrorDomain; // "com.tallowfen.corvex.lock"
    // userInfo keys of a TimedOut error, present when the holder's record could be read.
    static const QString HolderPidKey;         // "LockHolderPid"
    static const QString HolderHostKey;        // "LockHolderHost"
    static const QString HolderApplicationKey; // "LockHolderApplication"

    static constexpr double DefaultTimeout = 10.0;

    // The lock file's layout: holder k's record lies in the RecordSize bytes at
    // k * RecordSize, for k below SlotCount.
    static constexpr qsizetype RecordSize = 512;
    static constexpr int SlotCount = 64;

    // One holder's record.
    struct Holder
    {
        qint64 pid = 0;
        QString hostName;
        QString bootId;
        QString applicationName;
        Mode mode = Mode::Exclusive;
    };

    // `lockFilePath` is made on first use (its folder too, mode 0700). `subject` names
    // what the lock protects in error texts ("<subject> is locked by ..."); empty: the
    // lock file's path.
    explicit CrossProcessLock(QString lockFilePath, QString subject = QString());
    // Releases the lock.
    ~CrossProcessLock();
    CrossProcessLock(const CrossProcessLock&) = delete;
    CrossProcessLock& operator=(const CrossProcessLock&) = delete;

    // Waits up to `timeoutSeconds` of real time, retrying with a backoff that grows to a
    // cap (the wait is for another process, which no virtual clock can hurry). 0 tries
    // once. Locking a held lock changes its mode (not atomically, as flock does).
    [[nodiscard]] bool lock(Mode mode, double timeoutSeconds = DefaultTimeout);
    [[nodiscard]] bool tryLock(Mode mode) { return lock(mode, 0); }
    void unlock();

    bool isLocked() const { return mFd >= 0; }
    Mode mode() const { return mMode; }
    const QString& lockFilePath() const { return mPath; }

    const Error& error() const { return mError; }
    QString errorString() const { return mError.isNull() ? QString() : mError.localizedDescription(); }

    // The holders of a lock file now, as far as their records can be read (a record being
    // written at this moment may be missing), exclusive holders first.
    static std::vector<Holder> currentHolders(const QString& lockFilePath);

    // $XDG_RUNTIME_DIR/com.tallowfen.corvex/locks, else the same below the cache folder.
    // Never beside the files they protect: a synced folder would carry them elsewhere.
    static QString lockFolder();
    // The lock file for a file: named by the SHA-1 (hex) of the path's bytes, with
    // ".lock". The path should be normalised first (FileCoordinator::normalisedPath), so
    // that every process names the same file the same way.
    static QString lockFilePathFor(const QString& path);

    // Deletes the lock files in lockFolder() that nobody holds (each is locked exclusively
    // while it is removed, and lockers check that their file is still the one at the path).
    // Returns how many were removed.
    static int removeUnusedLockFiles();

private:
    bool fail(Error error);
    Error timeoutError() const;
    void writeRecord();

    QString mPath;
    QString mSubject;
    int mFd = -1;
    Mode mMode = Mode::Shared;
    Error mError;
};

} // namespace corvex
