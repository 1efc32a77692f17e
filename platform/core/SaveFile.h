#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <dirent.h>    // DIR
#include <sys/types.h> // mode_t

namespace corvex {

// Replaces a file all at once: the data goes to a temporary file in the same folder, which
// is flushed to the disk and renamed over the target only at commit(). Until then, and on
// any failure, the old file stays as it was and no temporary file is left behind.
// Existing symbolic links are followed (the link stays, its target is replaced). One
// thread at a time. All kernel calls go through SysCalls.
//
// A process killed between naming its temporary and the rename leaves the temporary
// behind, so every save first removes the named temporaries of its file that a dead save
// left. Which are dead: a save holds a shared flock(2) on its folder from open() until it
// has committed or given up, and temporaries are removed only by whoever holds that lock
// exclusively, that is while no save in the folder is under way, in this process or any
// other. A killed save's lock goes with its process. Where the folder cannot be locked
// (flock unsupported, as on some network file systems), nothing is removed.
class SaveFile
{
public:
    // Whose file a new one is: the program's own files (settings, tokens, caches, records)
    // are the user's alone, 0600; files made for the user (documents and exports) get 0666
    // less the process's umask, as any editor's. A replaced file keeps its mode either way.
    enum class Kind
    {
        ProgramFile,
        UserFile,
    };

    explicit SaveFile(QString path, Kind kind = Kind::ProgramFile);
    // Without a commit, cancels: nothing is left on disk.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Creates the temporary file (an unnamed O_TMPFILE where the file system has them, else
    // "<name>.corvex-tmp-XXXXXX"), with the existing file's permissions or the new-file mode
    // of its kind (see Kind), after removing stale temporaries of the file (see above). Fails when the path
    // is a folder or not a regular file, or its folder is missing. The error is also kept in error().
    Status open();

    // Returns `size`, or -1 once anything failed: an error sticks, so later writes and the
    // commit fail too. Data may be buffered until commit().
    qint64 write(const char* data, qint64 size);
    qint64 write(const QByteArray& data) { return write(data.constData(), data.size()); }

    // Writes what is buffered, flushes the file to the disk, renames it into place and
    // flushes the folder. Fails with the old file untouched. A failure to flush the folder
    // after the rename is only logged: the new content is in place by then and there is
    // nothing left to undo. The error is also kept in error().
    Status commit();

    // Drops the temporary file now; a later commit() fails.
    void cancelWriting();

    bool isOpen() const { return mState == State::Open; }
    // The temporary file's descriptor while open, else -1, for writers that must seek (an
    // archive patches entry headers after their data). Such a writer writes only through
    // it, never through write(), and leaves it open: commit() syncs and closes it.
    int handle() const { return mState == State::Open ? mFd : -1; }
    const QString& path() const { return mPath; }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.isNull() ? QString() : mError.localizedDescription(); }

    // open + write + commit.
    static Status writeAtomically(const QString& path, const QByteArray& data, Kind kind = Kind::ProgramFile);

    // Removes the named temporaries of `fileName` in `folder` ("<name>.corvex-tmp-*") that
    // a killed save left, when no save in the folder is under way (see above); open() does
    // the same for its own file. Returns how many were removed (0 while a save runs).
    static int removeStaleTemporaries(const QString& folder, const QString& fileName);
    // "<fileName>.corvex-tmp-".
    static QString temporaryPrefix(const QString& fileName);
    // Whether a folder entry's name is one this class gives its named temporaries:
    // "<name>.corvex-tmp-" and six letters or digits.
    static bool isTemporaryName(const QByteArray& name);

private:
    enum class State
    {
        Idle,
        Open,
        Committed,
        Cancelled,
        Failed
    };

    Status fail(Error error);
    void discard();
    void lockFolderAndRemoveStale();
    void unlockFolder();
    Status flushBuffer();
    int createNamedTemporary(const QByteArray& folder, mode_t mode, QByteArray& nameOut);
    Status linkUnnamedTemporary();
    void syncFolder();

    QString mPath;
    Kind mKind = Kind::ProgramFile;
    QByteArray mTarget; // the file the rename replaces, symbolic links resolved
    QByteArray mFolder;
    QByteArray mFileName;
    QByteArray mTemporary; // the named temporary; empty while the file is an unnamed O_TMPFILE
    QByteArray mBuffer;
    int mFd = -1;
    DIR* mFolderLock = nullptr; // the folder, flock'ed shared while a save is under way
    State mState = State::Idle;
    Error mError;
};

} // namespace corvex
