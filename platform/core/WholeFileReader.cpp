#include "platform/core/WholeFileReader.h"

#include "platform/core/RegularFile.h"
#include "platform/core/SysCalls.h"

#include <QFile>
#include <algorithm>
#include <cerrno>

namespace corvex {
namespace {

// How much more room a file that grew while it was read gets at a time.
constexpr qsizetype kWholeFileGrowthStep = 64 * 1024;

Error wholeFileTooLarge(const QString& path, const QString& readFailure, qint64 size, qint64 maxBytes)
{
    Error error = Error::posix(EFBIG, readFailure, path);
    QVariantMap info = error.userInfo();
    info.insert(
        Error::FailureReasonKey,
        QStringLiteral("The file holds %1 bytes or more; at most %2 are read.").arg(size).arg(maxBytes));
    return Error(error.domain(), error.code(), QString(), info);
}

// Reads until the end of the file into `data`, whose size is the expected length plus one
// byte: a file of the size fstat reported ends with one read that answers 0, without the
// buffer having to grow (and be copied) for it.
Result<QByteArray> readWholeToEnd(int fd, QByteArray data, const QString& path, qint64 maxBytes,
                                  const QString& readFailure)
{
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > maxBytes)
                return wholeFileTooLarge(path, readFailure, filled, maxBytes);
            data.resize(filled + kWholeFileGrowthStep);
        }
        const ssize_t got = SysCalls::read(fd, data.data() + filled, std::size_t(data.size() - filled));
        if (got < 0)
            return Error::posix(errno, readFailure, path);
        if (got == 0)
            break;
        filled += qsizetype(got);
    }
    if (filled > maxBytes)
        return wholeFileTooLarge(path, readFailure, filled, maxBytes);
    data.resize(filled);
    return data;
}

} // namespace

Result<QByteArray> WholeFileReader::read(const QString& path, qint64 maxBytes, const QString& openFailure,
                                         const QString& readFailure, RegularFile::Links links)
{
    Result<RegularFile> file = RegularFile::open(path, maxBytes, openFailure, readFailure, links);
    if (!file.ok())
        return file.error();
    const qsizetype expected = qsizetype(file->size());
    return readWholeToEnd(file->descriptor(), QByteArray(expected + 1, Qt::Uninitialized), path, maxBytes,
                          readFailure);
}

} // namespace corvex
