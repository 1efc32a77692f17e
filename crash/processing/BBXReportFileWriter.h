#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// Writes the files that processing makes in a report folder (compressed parts, symbol
// names) and readies the names it writes packages at. Whatever another hand left at such a
// name that is not a regular file (a symbolic link, a folder, a pipe, a socket, a device) is
// removed, never followed, so no write can reach a file outside the folder. Files are written
// whole through SaveFile (a temporary renamed into place), so a failed write, a full disk
// among them, leaves the name as it was.
class BBXReportFileWriter
{
public:
    // Removes what lies at `path` unless it is a regular file; false when it is still there.
    static bool clearName(const QString& path);
    // clearName, then the bytes as a file of the user's alone.
    static Status write(const QString& path, const QByteArray& bytes);
};

} // namespace corvex
