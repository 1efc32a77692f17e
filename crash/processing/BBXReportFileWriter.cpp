#include "crash/processing/BBXReportFileWriter.h"

#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>

namespace corvex {

bool BBXReportFileWriter::clearName(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info;
    if (SysCalls::lstat(encoded.constData(), &info) != 0)
        return errno == ENOENT;
    if (S_ISREG(info.st_mode))
        return true;
    // A folder's own links are removed as links too, their targets untouched.
    const bool removed =
        S_ISDIR(info.st_mode) ? QDir(path).removeRecursively() : SysCalls::unlink(encoded.constData()) == 0;
    const QString name = QFileInfo(path).fileName();
    if (removed)
        Log::warning(QStringLiteral("Removed %1 from the report: it was no regular file").arg(name));
    else
        Log::error(
            QStringLiteral("Error: unable to remove %1 from the report, which is no regular file").arg(name));
    return removed;
}

Status BBXReportFileWriter::write(const QString& path, const QByteArray& bytes)
{
    if (!clearName(path))
        return Error::posix(EEXIST, QStringLiteral("Cannot write the report file"), path);
    return SaveFile::writeAtomically(path, bytes, SaveFile::Kind::ProgramFile);
}

} // namespace corvex
