#include "cloud/dropbox/DropboxResponses.h"

namespace corvex {

namespace {

QString orNull(const std::optional<QString>& text)
{
    return text.value_or(QStringLiteral("(null)"));
}

QString describeResult(const char* name, std::uint64_t result)
{
    return QStringLiteral("{%1: result=%2}").arg(QLatin1String(name)).arg(result);
}

} // namespace

QString FileMetadata::description() const
{
    return QStringLiteral("{FileMetadata: path=%1 rev=%2}").arg(path, rev);
}

QString ListFolderResponse::description() const
{
    return QStringLiteral("{ListFolderResponse: result=%1 entries=%2}")
        .arg(result)
        .arg(entries ? qsizetype(entries->size()) : 0);
}

QString EnsureFolderResponse::description() const
{
    return describeResult("EnsureFolderResponse", result);
}

QString UploadResponse::description() const
{
    return QStringLiteral("{UploadResponse: result=%1 rev=%2}").arg(result).arg(orNull(rev));
}

QString DownloadResponse::description() const
{
    return QStringLiteral("{DownloadResponse: result=%1 rev=%2%3}")
        .arg(result)
        .arg(orNull(rev))
        .arg(folderAtPath ? QStringLiteral(" folder at path")
             : damaged    ? QStringLiteral(" damaged")
                          : QString());
}

QString DeleteResponse::description() const
{
    return describeResult("DeleteResponse", result);
}

QString PeekFileResponse::description() const
{
    // The record's own spelling, kept as logs have always shown it.
    return QStringLiteral("{PeekFileResponse: succeess=%1 rev=%2}").arg(int(success)).arg(orNull(rev));
}

} // namespace corvex
