#pragma once

#include "platform/core/Operation.h"
#include "platform/core/Value.h"
#include "tallykit/TLYSettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace corvex {

class TLYEvent;

// File helpers of the event directory; every kernel call goes through SysCalls.
class TLYFileUtils
{
public:
    // Every entry of the folder but "." and ".." (hidden ones too), as paths, sorted; an
    // unreadable folder is logged and answers nothing.
    static QStringList allFilesInDirectory(const QString& directory);
    static QStringList filesWithExtension(const QString& extension, const QString& directory);
    // 0 when the file cannot be read.
    static qint64 fileSizeAtURL(const QString& path);
    // The birth time where the file system keeps one, else the modification time.
    static QDateTime fileCreatedDateAtURL(const QString& path, const QDateTime& defaultDate);
    static bool fileExists(const QString& path, bool* isDirectory = nullptr);
    // The extension after the last '.' of the file name; empty without one.
    static QString pathExtension(const QString& path);
    // The file name without its extension.
    static QString baseName(const QString& path);
    static QString replacingExtension(const QString& path, const QString& extension);
    // Deletes a file; false (and logged with the label) when it could not.
    static bool removeFile(const QString& path, const QString& label);
};

// One event line ("%llu\t%@\t%lu\t%@"), the log's metadata line ahead of it when the file
// is new. A failed append is cut back to the file's previous size, and an event is never
// appended to a new log whose metadata line failed. The metadata line is made only for a
// new file (metadata never changes, and most events go into a log that has one).
class TLYWriteEventOperation : public Operation
{
public:
    TLYWriteEventOperation(std::shared_ptr<const TLYEvent> event,
                           std::shared_ptr<const TLYMetadataSerializable> metadata, QString logFileUrl);

    // Four tab-separated fields; nullopt when the payload is no dictionary.
    static std::optional<QByteArray> logLineWithTimestamp(quint64 milliseconds, const QString& eventName,
                                                          const Value& payloadDictionary);

    void main() override;
    bool success() const { return mSuccess.load(); }
    const std::shared_ptr<const TLYEvent>& event() const { return mEvent; }
    const QString& logFileUrl() const { return mLogFileUrl; }
    const std::optional<QByteArray>& formattedEvent() const { return mFormattedEvent; }
    // The metadata line for the event's timestamp.
    std::optional<QByteArray> formattedMetadata() const;

private:
    bool appendLogLine(const QByteArray& line, int fd);

    std::shared_ptr<const TLYEvent> mEvent;
    QString mLogFileUrl;
    std::shared_ptr<const TLYMetadataSerializable> mMetadata;
    quint64 mMilliseconds = 0;
    std::optional<QByteArray> mFormattedEvent;
    std::atomic<bool> mSuccess{false};
};

// The whole log as one gzip file, written through SaveFile: the ".gz" appears complete or
// not at all. A torn last line (a process killed while appending) is left out, logged.
class TLYCompressLogOperation : public Operation
{
public:
    TLYCompressLogOperation(QString uncompressedLogURL, QString compressedLogURL);
    static QString compressedURLForUncompressedURL(const QString& path);
    void main() override;
    // The ".gz" holds the log: its input may go.
    bool success() const { return mSuccess.load(); }
    const QString& uncompressedLogURL() const { return mUncompressed; }
    const QString& compressedLogURL() const { return mCompressed; }

private:
    QString mUncompressed;
    QString mCompressed;
    std::atomic<bool> mSuccess{false};
};

// The ".gz" as the one file part of a multipart body, written whole through SaveFile. With
// a maximum, the folder then keeps at most that many packages: the new one and the newest
// others (packages pile up while nothing can be sent, not only between starts).
class TLYPackageLogOperation : public Operation
{
public:
    static const QString ContentType; // "application/vnd.blackbox.mac.events"

    TLYPackageLogOperation(QString compressedLogURL, QString packagedLogURL, QString multipartMimeBoundary,
                           std::optional<qint64> maximumPendingMultipartFiles = std::nullopt);
    static QString multipartURLForCompressedURL(const QString& compressed, const QString& boundary);
    void main() override;
    bool success() const { return mSuccess.load(); }

private:
    void removeOldPackages() const;

    QString mCompressed;
    QString mPackaged;
    QString mBoundary;
    std::optional<qint64> mMaximumPendingMultipartFiles;
    std::atomic<bool> mSuccess{false};
};

// Sorts what an earlier run left in the event directory: logs, compressed logs and
// packages; anything else is deleted, and of two stages of one log only the later
// complete one is kept.
class TLYCleanupFilesOperation : public Operation
{
public:
    using SuccessBlock = std::function<void(const QStringList& logs, const QStringList& compressed,
                                            const QStringList& packages)>;

    TLYCleanupFilesOperation(QString directoryUrl, qint64 maximumPendingMulitpartFiles);
    void setSuccessBlock(SuccessBlock block) { mSuccessBlock = std::move(block); }
    // The newest `maximum` files by creation date; the others are deleted.
    static QStringList URLsByRemovingOldFiles(const QStringList& files, qint64 maximum);
    void main() override;

private:
    SuccessBlock mSuccessBlock;
    QString mDirectory;
    qint64 mMaximumPendingMultipartFiles;
};

// Hands over the previous run's metadata and stores this run's in its place (replaced
// atomically: a failed write keeps the previous file).
class TLYRotateCrashMetadataOperation : public Operation
{
public:
    TLYRotateCrashMetadataOperation(QString crashMetadataURL, const TLYMetadata& currentMetadata);
    void main() override;
    const std::shared_ptr<TLYCrashMetadata>& crashMetadata() const { return mCrashMetadata; }
    const Value& currentMetadataDictionary() const { return mCurrent; }

private:
    QString mPath;
    Value mCurrent;
    std::shared_ptr<TLYCrashMetadata> mCrashMetadata;
};

} // namespace corvex
