#include "crash/processing/BBXPackageReportOperation.h"

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/processing/BBXReportFileSelection.h"
#include "crash/runtime/BBXFile.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "platform/core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstdio>  // std::rename
#include <cstring> // strerror
#include <fcntl.h> // open
#include <unistd.h>
#include <zlib.h> // the gzip file interface

namespace corvex {

namespace {

ssize_t gzWriteStep(void* context, const void* bytes, std::size_t length)
{
    auto* file = static_cast<gzFile>(context);
    const int written = gzwrite(file, bytes, unsigned(length));
    if (written == 0) {
        int number = 0;
        const char* text = gzerror(file, &number);
        Log::error(QStringLiteral("Error: failed to write compressed bytes %1, %2, %3 ")
                       .arg(number)
                       .arg(QString::fromUtf8(text != nullptr ? text : ""),
                            QString::fromUtf8(std::strerror(errno))));
        return -1;
    }
    return written;
}

bool syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
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

bool BBXPackageReportOperation::compressData(const QByteArray& data, const QString& path)
{
    // The compressed record is the user's alone, as the record it was made from.
    const int fd = BBXFileOpenPrivate(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    gzFile file = fd >= 0 ? gzdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        if (fd >= 0)
            ::close(fd);
        Log::error(QStringLiteral("Error: unable to open file for compression %1")
                       .arg(QString::fromUtf8(std::strerror(errno))));
        return false;
    }
    bool result = !data.isEmpty();
    if (result)
        result = BBXFileLoopWithWriteBlock(data.constData(), std::size_t(data.size()), gzWriteStep, file);
    return gzclose(file) == Z_OK && result;
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
    if (compressData(data, gzPath)) {
        encoder.addFile(gzPath, name + QStringLiteral(".gz"), QStringLiteral("application/x-gzip"), name);
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
