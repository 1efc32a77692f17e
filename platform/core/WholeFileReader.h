#pragma once

#include "platform/core/RegularFile.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// Reads a whole file into memory, for every reader of whole files (documents, attachments,
// index files, pictures, imported files). Such files come from synced folders, imports and
// drops, so a reader names the most it accepts: a larger file is refused before anything
// but its size has been looked at, and a file that grows past the bound while it is read
// fails too. Something that is not a regular file (a folder, a pipe, a device) is refused
// without blocking on it.
//
// The kernel calls go through SysCalls (open, fstat, read, close), where tests make them
// fail. A failed close of the read-only descriptor loses nothing that was read, so it does
// not fail the read (Linux releases the descriptor either way).
//
// Errors are of the POSIX domain with the errno and the path: `openFailure` describes a
// failed open ("Cannot open the document"), `readFailure` everything after it. A file over
// the bound fails with EFBIG and says its size and the bound in the failure reason; one that
// is not a regular file fails with EINVAL. Any thread.
class WholeFileReader
{
public:
    // The file's bytes: never null, empty for an empty file.
    // `links` as RegularFile takes it: followed unless a reader of its own folders says not.
    static Result<QByteArray> read(const QString& path, qint64 maxBytes,
                                   const QString& openFailure = QStringLiteral("Cannot open the file"),
                                   const QString& readFailure = QStringLiteral("Cannot read the file"),
                                   RegularFile::Links links = RegularFile::Links::Follow);
};

} // namespace corvex
