#include "crash/processing/BBXPackageReportOperation.h"

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/processing/BBXReportFileSelection.h"
#include "crash/processing/BBXReportFileWriter.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "platform/core/Log.h"
#include "platform/core/Zlib.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>  // std::rename
#include <fcntl.h> // open
#include <unistd.h>

namespace corvex {

namespace {

bool syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

BBXPackageReportOperation::BBXPackageReportOperation(std::shared_ptr<BBXInternalReport> report,
                                                     std::shared_ptr<BBXFileManager> fileManager)
    : mReport(std::move(report)), mFileManager(std::move(fileManager))
{}

QString BBXPackageReportOperation::reportPath() const
{
    return mReport ? mReport->path() : QString();
}

QString BBXPackageReportOperation::destinationDirectory() const
{
    return mFileManager ? mFileManager->preparedPath() : QString();
}

QString BBXPackageReportOperation::packagedPathWithName(const QString& name) const
{
    return destinationDirectory() + QLatin1Char('/') + name + QStringLiteral(".multipartmime");
}

std::optional<QByteArray> BBXPackageReportOperation::compressData(const QByteArray& data, const QString& path)
{
    if (data.isEmpty())
        return std::nullopt;
    Result<QByteArray> compressed = Zlib::gzipCompress(data);
    if (!compressed.ok())
        return std::nullopt;
    // The compressed record is the user's alone, as the record it was made from.
    const Status written = BBXReportFileWriter::write(path, compressed.value());
    if (!written.ok()) {
        Log::error(
            QStringLiteral("Error: unable to open file for compression %1").arg(written.error().toString()));
        return std::nullopt;
    }
    return std::move(compressed.value());
}

void BBXPackageReportOperation::encode(LOMMultipartMimeStreamEncoder& encoder, const QByteArray& data,
                                       const QString& path)
{
    if (path.isEmpty()) {
        Log::error(QStringLiteral("Error: path is invalid"));
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const QString gzPath = path + QStringLiteral(".gz");
    // The part takes the bytes written, not the file again: the name could be taken meanwhile.
    if (const std::optional<QByteArray> compressed = compressData(data, gzPath)) {
        encoder.addFileData(*compressed, name + QStringLiteral(".gz"), QStringLiteral("application/x-gzip"),
                            name);
        return;
    }
    Log::error(QStringLiteral("Error: compression failed for %1").arg(QFileInfo(gzPath).fileName()));
    encoder.addFileData(data, name + QStringLiteral(".gz"), QStringLiteral("text/plain"), name);
}

void BBXPackageReportOperation::main()
{
    mFinalPath.reset();
    if (!mReport || !mFileManager)
        return;
    const QString boundary = LOMMultipartMimeStreamEncoder::generateBoundary();
    const QString packagePath = packagedPathWithName(boundary);
    const QString partialPath =
        destinationDirectory() + QStringLiteral("/.") + boundary + QStringLiteral(".multipartmime.partial");
    QStringList paths;
    mFileManager->enumerateFilesInDirectory(mReport->path(),
                                            [&](const QString& path, const QString& extension) {
                                                if (extension != QLatin1String("gz"))
                                                    paths.push_back(path);
                                            });
    const QList<BBXReportFileSelection::Entry> files = BBXReportFileSelection::select(paths);
    if (!BBXReportFileWriter::clearName(partialPath) || !BBXReportFileWriter::clearName(packagePath))
        return;
    auto stream = std::make_shared<LOMFileOutputStream>(partialPath);
    auto encoder = LOMMultipartMimeStreamEncoder::encoderWithStream(stream, boundary);
    if (!encoder)
        return;
    const std::optional<QString> apiKey = mReport->APIKey();
    const bool written = encoder->encode([&](LOMMultipartMimeStreamEncoder& body) {
        if (apiKey)
            body.addValue(*apiKey, QStringLiteral("api_key"));
        body.addValue(mReport->identifier(), QStringLiteral("report_id"));
        for (const BBXReportFileSelection::Entry& file : files) {
            if (isCancelled())
                return;
            const std::optional<QByteArray> data = BBXReportFileSelection::read(file);
            if (!data)
                continue;
            if (data->isEmpty()) {
                Log::error(QStringLiteral("Error: unable to read data for compression: %1")
                               .arg(QFileInfo(file.path).fileName()));
                continue;
            }
            encode(body, *data, file.path);
        }
    });
    // A package with a failed write would lose the report once its directory is removed.
    if (isCancelled() || !written || !syncFile(partialPath) ||
        std::rename(QFile::encodeName(partialPath).constData(), QFile::encodeName(packagePath).constData()) !=
            0) {
        QFile::remove(partialPath);
        return;
    }
    mFinalPath = packagePath;
}

} // namespace corvex
