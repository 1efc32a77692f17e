#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h> // mode_t

namespace corvex {

// Replaces a file all at once: the data goes to a temporary file in the same folder, which
// is flushed to the disk and renamed over the target only at commit(). Until then, and on
// any failure, the old file stays as it was and no temporary file is left behind.
// Existing symbolic links are followed (the link stays, its target is replaced). One
// thread at a time. All kernel calls go through SysCalls.
class SaveFile
{
public:
    explicit SaveFile(QString path);
    // Without a commit, cancels: nothing is left on disk.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Creates the temporary file (an unnamed O_TMPFILE where the file system has them, else
    // "<name>.corvex-tmp-XXXXXX"), with the existing file's permissions or 0600. Fails when
    // the path is a folder or not a regular file, or its folder is missing.
    [[nodiscard]] bool open();

    // Returns `size`, or -1 once anything failed: an error sticks, so later writes and the
    // commit fail too. Data may be buffered until commit().
    qint64 write(const char* data, qint64 size);
    qint64 write(const QByteArray& data) { return write(data.constData(), data.size()); }

    // Writes what is buffered, flushes the file to the disk, renames it into place and
    // flushes the folder. False on failure, with the old file untouched. A failure to flush
    // the folder after the rename is only logged: the new content is in place by then and
    // there is nothing left to undo.
    [[nodiscard]] bool commit();

    // Drops the temporary file now; a later commit() fails.
    void cancelWriting();

    bool isOpen() const { return mState == State::Open; }
    const QString& path() const { return mPath; }
    const Error& error() const { return mError; }
    QString errorString() const { return mError.isNull() ? QString() : mError.localizedDescription(); }

    // open + write + commit.
    static Status writeAtomically(const QString& path, const QByteArray& data);

    // Removes the named temporaries of `fileName` in `folder` ("<name>.corvex-tmp-*") that
    // a killed process may have left. Callers run it when they load the file, before they
    // save it again (a save running at the same time in another process would fail).
    // Returns how many were removed.
    static int removeStaleTemporaries(const QString& folder, const QString& fileName);
    // "<fileName>.corvex-tmp-".
    static QString temporaryPrefix(const QString& fileName);

private:
    enum class State
    {
        Idle,
        Open,
        Committed,
        Cancelled,
        Failed
    };

    bool fail(Error error);
    void discard();
    bool flushBuffer();
    int createNamedTemporary(const QByteArray& folder, mode_t mode, QByteArray& nameOut);
    bool linkUnnamedTemporary();
    void syncFolder();

    QString mPath;
    QByteArray mTarget; // the file the rename replaces, symbolic links resolved
    QByteArray mFolder;
    QByteArray mFileName;
    QByteArray mTemporary; // the named temporary; empty while the file is an unnamed O_TMPFILE
    QByteArray mBuffer;
    int mFd = -1;
    State mState = State::Idle;
    Error mError;
};

} // namespace corvex
