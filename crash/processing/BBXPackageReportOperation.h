#pragma once

#include "platform/core/Operation.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace corvex {

class BBXFileManager;
class BBXInternalReport;
class LOMMultipartMimeStreamEncoder;

// Packs a processed report directory into one multipart body in the prepared directory:
// "api_key", "report_id", then every file (not hidden, not ".gz") that BBXReportFileSelection
// takes, gzipped beside itself as "<name>.gz" through BBXReportFileWriter (the source bytes as
// "text/plain" when compression fails). The package is written under a hidden name and
// renamed to "<boundary>.multipartmime" only once every byte of it is on disk, so a package in
// prepared/ is always whole; any failed write removes it and leaves finalPath() empty.
class BBXPackageReportOperation : public Operation
{
public:
    BBXPackageReportOperation(std::shared_ptr<BBXInternalReport> report,
                              std::shared_ptr<BBXFileManager> fileManager);
    void main() override;

    const std::optional<QString>& finalPath() const { return mFinalPath; }
    QString reportPath() const;
    QString destinationDirectory() const;
    QString packagedPathWithName(const QString& name) const;

    // Adds one file's part; false when the part could not be written.
    void encode(LOMMultipartMimeStreamEncoder& encoder, const QByteArray& data, const QString& path);
    // The gzip bytes written at `path`; nothing (logged) for empty data or a failed write.
    static std::optional<QByteArray> compressData(const QByteArray& data, const QString& path);

private:
    std::shared_ptr<BBXInternalReport> mReport;
    std::shared_ptr<BBXFileManager> mFileManager;
    std::optional<QString> mFinalPath;
};

} // namespace corvex
