#pragma once

#include "formats/ZipWrapper.h"

#include <QString>
#include <functional>

namespace corvex {

// What an unzip tells its caller as it goes. Every member is optional: an empty one is not
// called. Held for the call only; called on the unzipping thread.
struct ZipWrapperDelegate
{
    std::function<void(const QString& archivePath, const ZipWrapper::GlobalInfo& info)>
        zipArchiveWillUnzipArchiveAtPath;
    // Bytes of compressed data passed so far, of the archive's file size.
    std::function<void(quint64 loaded, quint64 total)> zipArchiveProgressEvent;
    // NO cancels the unzip (which then returns NO).
    std::function<bool(qint64 index, qint64 total, const QString& archivePath,
                       const ZipWrapper::FileInfo& info)>
        zipArchiveShouldUnzipFileAtIndex;
    std::function<void(qint64 index, qint64 total, const QString& archivePath,
                       const ZipWrapper::FileInfo& info)>
        zipArchiveWillUnzipFileAtIndex;
    std::function<void(qint64 index, qint64 total, const QString& archivePath,
                       const ZipWrapper::FileInfo& info)>
        zipArchiveDidUnzipFileAtIndex;
    // Called only when zipArchiveDidUnzipFileAtIndex is empty.
    std::function<void(qint64 index, qint64 total, const QString& archivePath,
                       const QString& unzippedFilePath)>
        zipArchiveDidUnzipFileAtIndexToPath;
    std::function<void(const QString& archivePath, const ZipWrapper::GlobalInfo& info,
                       const QString& unzippedPath)>
        zipArchiveDidUnzipArchiveAtPath;
};

} // namespace corvex
