#pragma once

#include "platform/core/Result.h"

#include <QString>

namespace corvex {

// A file opened for reading only once it is known to be a regular file within a reader's
// bound: the one way every reader of a file that a user or a leftover names opens it
// (documents, pictures, symbol files, records). The open never blocks (a named pipe without
// a writer would hold the thread for good) and never makes the file the process's terminal;
// a folder, a pipe, a socket or a device is refused without a byte read.
//
// Symbolic links are followed by default: a document or a launch file may well be one. A
// reader of a folder that only the program itself writes (the crash reporter's) passes
// Links::NoFollow: a link found there was put there by someone else, and it is refused as
// "The file is not a regular file: it is a symbolic link." without being opened, as is
// anything else the folder entry itself shows to be no regular file.
//
// Errors are of the POSIX domain with the errno and the path, and carry a failure reason in
// a user's words for the refusals a reader's alert should explain: "The file is not a
// regular file: it is a named pipe." (EINVAL, a folder too) and "too many levels of symbolic links" (ELOOP).
// A file over the bound fails with EFBIG. `openFailure` describes a failed open, `readFailure` the rest. The
// kernel calls go through SysCalls. Any thread; one thread per object.
class RegularFile
{
public:
    enum class Links
    {
        Follow,
        NoFollow,
    };

    static Result<RegularFile> open(const QString& path, qint64 maxBytes,
                                    const QString& openFailure = QStringLiteral("Cannot open the file"),
                                    const QString& readFailure = QStringLiteral("Cannot read the file"),
                                    Links links = Links::Follow);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    int descriptor() const { return mFd; }
    // The size when the file was opened.
    qint64 size() const { return mSize; }
    // Hands the descriptor over to the caller, who closes it; the object then owns nothing.
    int release();

    // The failure reason of the refusals above for an errno (EINVAL stands for "not a regular
    // file"), for readers that found the fault themselves; empty for any other errno.
    static QString reasonFor(int errnoValue);

private:
    RegularFile(int fd, qint64 size) : mFd(fd), mSize(size) {}

    int mFd = -1;
    qint64 mSize = 0;
};

} // namespace corvex
