#include "tallykit/TLYFileOperations.h"

#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"
#include "platform/core/Zlib.h"
#include "tallykit/TLYEvent.h"

#include <QFile>
#include <QMap>
#include <QTimeZone>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

// Logs are rotated near 8 KB; anything far larger is no log of ours.
constexpr qint64 MaximumLogBytes = 64 * 1024 * 1024;

void logFailure(const QString& label, const QString& message)
{
    Log::warning(QStringLiteral("[Tally:%1] %2").arg(label, message));
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QStringList TLYFileUtils::allFilesInDirectory(const QString& directory)
{
    QStringList files;
    DIR* folder = SysCalls::opendir(QFile::encodeName(directory).constData());
    if (folder == nullptr) {
        logFailure(QStringLiteral("FileUtils"),
                   QStringLiteral("Unable to read contents of %1: %2").arg(directory, errnoText(errno)));
        return files;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        files.append(directory + u'/' + name);
    }
    ::closedir(folder);
    files.sort();
    return files;
}

QStringList TLYFileUtils::filesWithExtension(const QString& extension, const QString& directory)
{
    QStringList matching;
    for (const QString& file : allFilesInDirectory(directory)) {
        if (pathExtension(file) == extension)
            matching.append(file);
    }
    return matching;
}

qint64 TLYFileUtils::fileSizeAtURL(const QString& path)
{
    struct stat info = {};
    if (SysCalls::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return qint64(info.st_size);
}

QDateTime TLYFileUtils::fileCreatedDateAtURL(const QString& path, const QDateTime& defaultDate)
{
    struct statx info = {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return defaultDate;
    const statx_timestamp& time = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
    return QDateTime::fromMSecsSinceEpoch(qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000, Qt::UTC);
}

bool TLYFileUtils::fileExists(const QString& path, bool* isDirectory)
{
    struct stat info = {};
    if (SysCalls::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    if (isDirectory != nullptr)
        *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

QString TLYFileUtils::pathExtension(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

QString TLYFileUtils::baseName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? name : name.left(dot);
}

QString TLYFileUtils::replacingExtension(const QString& path, const QString& extension)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return path.left(slash + 1) + baseName(path) + u'.' + extension;
}

bool TLYFileUtils::removeFile(const QString& path, const QString& label)
{
    if (SysCalls::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT)
        return true;
    logFailure(label, QStringLiteral("Failed to remove %1: %2").arg(path, errnoText(errno)));
    return false;
}

TLYWriteEventOperation::TLYWriteEventOperation(std::shared_ptr<const TLYEvent> event,
                                               std::shared_ptr<const TLYMetadataSerializable> metadata,
                                               QString logFileUrl)
    : mEvent(std::move(event)), mLogFileUrl(std::move(logFileUrl)), mMetadata(std::move(metadata))
{
    if (!mEvent)
        return;
    mMilliseconds = quint64(std::max<qint64>(0, mEvent->timestamp().toMSecsSinceEpoch()));
    mFormattedEvent = logLineWithTimestamp(mMilliseconds, mEvent->name(), mEvent->dictionaryRepresentation());
}

std::optional<QByteArray> TLYWriteEventOperation::formattedMetadata() const
{
    if (!mEvent || !mMetadata)
        return std::nullopt;
    return logLineWithTimestamp(mMilliseconds, mMetadata->eventName(),
                                mMetadata->dictionaryRepresentationWithStartTime(mMilliseconds / 1000));
}

std::optional<QByteArray> TLYWriteEventOperation::logLineWithTimestamp(quint64 milliseconds,
                                                                       const QString& eventName,
                                                                       const Value& payloadDictionary)
{
    if (!payloadDictionary.isDictionary())
        return std::nullopt;
    // The writer never throws: non-finite numbers become null, a lone surrogate "?".
    const QByteArray payload = JsonText::serialize(payloadDictionary);
    QByteArray line = QByteArray::number(milliseconds);
    line += '\t';
    line += eventName.toUtf8();
    line += '\t';
    line += QByteArray::number(payload.size());
    line += '\t';
    line += payload;
    return line;
}

void TLYWriteEventOperation::main()
{
    mSuccess = false;
    const QByteArray path = QFile::encodeName(mLogFileUrl);
    struct stat info = {};
    if (SysCalls::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return;
    // Events hold the installation identifier: the log is the user's alone (the umask only
    // takes bits away).
    const int fd = SysCalls::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        logFailure(QStringLiteral("WriteOperation"),
                   QStringLiteral("Failed to open %1: %2").arg(mLogFileUrl, errnoText(errno)));
        return;
    }
    // An empty file is a new log too: a metadata line that failed was cut back to nothing.
    const bool isNew = SysCalls::fstat(fd, &info) != 0 || info.st_size == 0;
    bool result = false;
    const std::optional<QByteArray> metadataLine = isNew ? formattedMetadata() : std::nullopt;
    if (mFormattedEvent && (!isNew || metadataLine)) {
        result = true;
        if (isNew)
            result = appendLogLine(*metadataLine, fd);
        if (result)
            result = appendLogLine(*mFormattedEvent, fd);
    }
    if (SysCalls::close(fd) != 0) {
        logFailure(QStringLiteral("WriteOperation"),
                   QStringLiteral("Failed to close file, error: %1").arg(errnoText(errno)));
        result = false;
    }
    mSuccess = result;
}

bool TLYWriteEventOperation::appendLogLine(const QByteArray& line, int fd)
{
    const QByteArray bytes = line + '\n';
    struct stat info = {};
    const off_t before = SysCalls::fstat(fd, &info) == 0 ? info.st_size : -1;
    const QString label = QStringLiteral("WriteOperation");
    std::size_t left = std::size_t(bytes.size());
    const char* next = bytes.constData();
    bool done = false;
    bool broken = false;
    for (int call = 0; call < 3 && !done; ++call) {
        const ssize_t written = SysCalls::write(fd, next, left);
        if (written < 0)
            logFailure(label, QStringLiteral("Failed to write: %1\n").arg(errnoText(errno)));
        if (written < 0 || std::size_t(written) > left) {
            logFailure(label,
                       QStringLiteral("Error: length doesn't make sense (%1, %2)\n").arg(written).arg(left));
            broken = true;
            break;
        }
        if (written == 0)
            break;
        left -= std::size_t(written);
        next += written;
        done = left == 0;
    }
    if (done)
        return true;
    if (!broken)
        logFailure(label, QStringLiteral("Error: exited write loop without success\n"));
    // A torn line would swallow the next one: cut the file back.
    if (before >= 0 && ::ftruncate(fd, before) != 0)
        logFailure(label, QStringLiteral("Failed to cut back %1: %2").arg(mLogFileUrl, errnoText(errno)));
    return false;
}

TLYCompressLogOperation::TLYCompressLogOperation(QString uncompressedLogURL, QString compressedLogURL)
    : mUncompressed(std::move(uncompressedLogURL)), mCompressed(std::move(compressedLogURL))
{}

QString TLYCompressLogOperation::compressedURLForUncompressedURL(const QString& path)
{
    return TLYFileUtils::replacingExtension(path, QStringLiteral("gz"));
}

void TLYCompressLogOperation::main()
{
    const QString label = QStringLiteral("CompressOperation");
    bool isDirectory = false;
    if (!TLYFileUtils::fileExists(mUncompressed, &isDirectory) || isDirectory) {
        logFailure(label,
                   QStringLiteral("Error: attempting to compress nonexistent file: %1").arg(mUncompressed));
        return;
    }
    Result<QByteArray> log = WholeFileReader::read(mUncompressed, MaximumLogBytes);
    if (!log) {
        logFailure(label, QStringLiteral("Failed to compress file at %1: %2")
                              .arg(mUncompressed, log.error().localizedDescription()));
        return;
    }
    QByteArray lines = log.value();
    if (!lines.isEmpty() && !lines.endsWith('\n')) {
        // A process killed while appending left half a line; it was never reported written.
        const qsizetype lastEnd = lines.lastIndexOf('\n');
        logFailure(label, QStringLiteral("Dropping a torn last line (%1 bytes) of %2")
                              .arg(lines.size() - lastEnd - 1)
                              .arg(mUncompressed));
        lines.truncate(lastEnd + 1);
    }
    if (TLYFileUtils::fileExists(mCompressed)) {
        // Only a complete copy of this very log may stand in for it.
        Result<QByteArray> existing = WholeFileReader::read(mCompressed, MaximumLogBytes);
        Result<QByteArray> inflated =
            existing ? Zlib::gunzip(existing.value(), MaximumLogBytes) : Result<QByteArray>(existing.error());
        mSuccess = inflated && inflated.value() == lines;
        if (!mSuccess)
            logFailure(label,
                       QStringLiteral("%1 exists and does not hold %2").arg(mCompressed, mUncompressed));
        return;
    }
    Result<QByteArray> compressed = Zlib::gzipCompress(lines);
    if (!compressed) {
        logFailure(label, QStringLiteral("Failed to compress file at %1").arg(mUncompressed));
        return;
    }
    const Status written = SaveFile::writeAtomically(mCompressed, compressed.value());
    if (!written.ok()) {
        logFailure(label, QStringLiteral("Failed to compress file at %1: %2")
                              .arg(mUncompressed, written.error().localizedDescription()));
        return;
    }
    mSuccess = true;
}

const QString TLYPackageLogOperation::ContentType = QStringLiteral("application/vnd.blackbox.mac.events");

TLYPackageLogOperation::TLYPackageLogOperation(QString compressedLogURL, QString packagedLogURL,
                                               QString multipartMimeBoundary,
                                               std::optional<qint64> maximumPendingMultipartFiles)
    : mCompressed(std::move(compressedLogURL)), mPackaged(std::move(packagedLogURL)),
      mBoundary(std::move(multipartMimeBoundary)), mMaximumPendingMultipartFiles(maximumPendingMultipartFiles)
{}

QString TLYPackageLogOperation::multipartURLForCompressedURL(const QString& compressed,
                                                             const QString& boundary)
{
    return compressed.left(compressed.lastIndexOf(u'/') + 1) + boundary + QStringLiteral(".multipartmime");
}

void TLYPackageLogOperation::main()
{
    const QString label = QStringLiteral("PackageOperation");
    bool isDirectory = false;
    if (!TLYFileUtils::fileExists(mCompressed, &isDirectory) || isDirectory) {
        logFailure(label,
                   QStringLiteral("Error: attempting to package nonexistent file: %1").arg(mCompressed));
        return;
    }
    auto stream = std::make_shared<LOMMemoryOutputStream>();
    std::unique_ptr<LOMMultipartMimeStreamEncoder> encoder =
        LOMMultipartMimeStreamEncoder::encoderWithStream(stream, mBoundary);
    if (!encoder)
        return;
    const QString fileName = mCompressed.mid(mCompressed.lastIndexOf(u'/') + 1);
    const bool encoded = encoder->encode([&](LOMMultipartMimeStreamEncoder& body) {
        body.addFile(mCompressed, fileName, ContentType, fileName);
    });
    if (!encoded) {
        logFailure(label, QStringLiteral("Error packaging: %1 is an invalid path.").arg(mCompressed));
        return;
    }
    const Status written = SaveFile::writeAtomically(mPackaged, stream->data());
    if (!written.ok()) {
        logFailure(label, QStringLiteral("Failed to package %1: %2")
                              .arg(mCompressed, written.error().localizedDescription()));
        return;
    }
    mSuccess = true;
    removeOldPackages();
}

void TLYPackageLogOperation::removeOldPackages() const
{
    if (!mMaximumPendingMultipartFiles)
        return;
    const QString folder = mPackaged.left(mPackaged.lastIndexOf(u'/'));
    QStringList others = TLYFileUtils::filesWithExtension(QStringLiteral("multipartmime"), folder);
    others.removeAll(mPackaged);
    // The new package is always kept: it is the newest (whatever the maximum says).
    const qint64 room = std::max<qint64>(1, *mMaximumPendingMultipartFiles) - 1;
    if (others.size() <= room)
        return;
    logFailure(QStringLiteral("PackageOperation"),
               QStringLiteral("%1 packages wait to be sent: the oldest %2 are removed")
                   .arg(others.size() + 1)
                   .arg(others.size() - room));
    TLYCleanupFilesOperation::URLsByRemovingOldFiles(others, room);
}

TLYCleanupFilesOperation::TLYCleanupFilesOperation(QString directoryUrl, qint64 maximumPendingMulitpartFiles)
    : mDirectory(std::move(directoryUrl)), mMaximumPendingMultipartFiles(maximumPendingMulitpartFiles)
{}

QStringList TLYCleanupFilesOperation::URLsByRemovingOldFiles(const QStringList& files, qint64 maximum)
{
    if (files.size() <= maximum)
        return files;
    const QDateTime distantPast =
        QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2, Qt::UTC);
    struct Dated
    {
        QDateTime created;
        qint64 modified; // breaks ties of file systems with coarse birth times
        QString path;
    };
    std::vector<Dated> dated;
    for (const QString& file : files) {
        struct stat info = {};
        const qint64 modified = SysCalls::stat(QFile::encodeName(file).constData(), &info) == 0
                                    ? qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec
                                    : std::numeric_limits<qint64>::min();
        dated.push_back({TLYFileUtils::fileCreatedDateAtURL(file, distantPast), modified, file});
    }
    std::stable_sort(dated.begin(), dated.end(), [](const Dated& a, const Dated& b) {
        return a.created != b.created ? a.created > b.created : a.modified > b.modified;
    });
    QStringList kept;
    for (std::size_t index = 0; index < dated.size(); ++index) {
        if (qint64(index) < std::max<qint64>(0, maximum))
            kept.append(dated[index].path);
        else
            TLYFileUtils::removeFile(dated[index].path, QStringLiteral("CleanupOperation"));
    }
    return kept;
}

void TLYCleanupFilesOperation::main()
{
    const QString label = QStringLiteral("CleanupOperation");
    QMap<QString, QString> logs;
    QMap<QString, QString> compressed;
    QMap<QString, QString> packages;
    for (const QString& file : TLYFileUtils::allFilesInDirectory(mDirectory)) {
        const QString extension = TLYFileUtils::pathExtension(file);
        const QString key = TLYFileUtils::baseName(file);
        if (extension == QLatin1String("log")) {
            logs.insert(key, file);
        } else if (extension == QLatin1String("gz")) {
            compressed.insert(key, file);
        } else if (extension == QLatin1String("multipartmime")) {
            packages.insert(key, file);
        } else {
            Log::warning(QStringLiteral("[Tally:%1] Removing stray file %2").arg(label, file));
            TLYFileUtils::removeFile(file, label);
        }
    }
    // A package is written whole and named by its log: it supersedes the earlier stages
    // a killed run left beside it.
    for (auto package = packages.cbegin(); package != packages.cend(); ++package) {
        if (auto log = logs.find(package.key()); log != logs.end()) {
            TLYFileUtils::removeFile(log.value(), label);
            logs.erase(log);
        }
        if (auto gz = compressed.find(package.key()); gz != compressed.end()) {
            TLYFileUtils::removeFile(gz.value(), label);
            compressed.erase(gz);
        }
    }
    // The log will be compressed again.
    for (auto log = logs.cbegin(); log != logs.cend(); ++log) {
        if (auto gz = compressed.find(log.key()); gz != compressed.end()) {
            TLYFileUtils::removeFile(gz.value(), label);
            compressed.erase(gz);
        }
    }
    const QStringList kept = URLsByRemovingOldFiles(packages.values(), mMaximumPendingMultipartFiles);
    if (mSuccessBlock)
        mSuccessBlock(logs.values(), compressed.values(), kept);
}

TLYRotateCrashMetadataOperation::TLYRotateCrashMetadataOperation(QString crashMetadataURL,
                                                                 const TLYMetadata& currentMetadata)
    : mPath(std::move(crashMetadataURL)),
      mCurrent(currentMetadata.dictionaryRepresentationWithStartTime(
          quint64(std::max<qint64>(0, CalendarClock::now().toSecsSinceEpoch()))))
{}

void TLYRotateCrashMetadataOperation::main()
{
    std::optional<Value> previous;
    if (TLYFileUtils::fileExists(mPath))
        previous = TLYCrashMetadata::readSerializedDictionaryFromURL(mPath);
    mCrashMetadata = std::make_shared<TLYCrashMetadata>(previous.value_or(Value(ValueDictionary())));
    TLYCrashMetadata::writeSerializedDictionary(mCurrent, mPath);
}

} // namespace corvex
