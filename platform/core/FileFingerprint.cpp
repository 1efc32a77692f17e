#include "platform/core/FileFingerprint.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/core/RegularFile.h"
#include "platform/core/Sha1.h"
#include "platform/core/SysCalls.h"

#include <QByteArray>
#include <cerrno>
#include <limits>
#include <sys/stat.h>
#include <utility>

namespace corvex {

namespace {

constexpr qsizetype kFingerprintPiece = 256 * 1024;

} // namespace

Result<FileFingerprint> FileFingerprint::of(const QString& path)
{
    const QString readFailure = QStringLiteral("Cannot read the file");
    Result<RegularFile> file = RegularFile::open(path, std::numeric_limits<qint64>::max(),
                                                 QStringLiteral("Cannot open the file"), readFailure);
    if (!file.ok())
        return file.error();
    struct stat info;
    if (SysCalls::fstat(file->descriptor(), &info) != 0)
        return Error::posix(errno, readFailure, path);
    FileFingerprint fingerprint;
    fingerprint.modifiedMs = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    Sha1 digest;
    QByteArray piece(kFingerprintPiece, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = SysCalls::read(file->descriptor(), piece.data(), std::size_t(piece.size()));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Error::posix(errno, readFailure, path);
        }
        if (got == 0)
            break;
        digest.update(piece.constData(), qsizetype(got));
        fingerprint.size += qint64(got);
    }
    fingerprint.sha1 = digest.hexDigest();
    return fingerprint;
}

void FileFingerprint::take(const QString& path, Completion completion)
{
    GlobalQueue::async([path, completion = std::move(completion)]() mutable { completion(of(path)); });
}

QString FileFingerprint::toString() const
{
    return QStringLiteral("%1 bytes, modified %2 ms, SHA-1 %3").arg(size).arg(modifiedMs).arg(sha1);
}

} // namespace corvex
