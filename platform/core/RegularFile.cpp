#include "platform/core/RegularFile.h"

#include "platform/core/NativeFileName.h"
#include "platform/core/SysCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace corvex {
namespace {

// What a non-regular file is, in the words of a file manager.
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    return QString();
}

Error withReason(Error error, const QString& reason)
{
    if (reason.isEmpty())
        return error;
    QVariantMap info = error.userInfo();
    info.insert(Error::FailureReasonKey, reason);
    return Error(error.domain(), error.code(), QString(), info);
}

Error tooLarge(const QString& path, const QString& readFailure, qint64 size, qint64 maxBytes)
{
    return withReason(
        Error::posix(EFBIG, readFailure, path),
        QStringLiteral("The file holds %1 bytes or more; at most %2 are read.").arg(size).arg(maxBytes));
}

QString notRegularReason(const QString& kind)
{
    return kind.isEmpty() ? QStringLiteral("The file is not a regular file.")
                          : QStringLiteral("The file is not a regular file: it is %1.").arg(kind);
}

} // namespace

Result<RegularFile> RegularFile::open(const QString& path, qint64 maxBytes, const QString& openFailure,
                                      const QString& readFailure, Links links)
{
    if (path.isEmpty())
        return Error::posix(ENOENT, openFailure);
    const QByteArray encoded = NativeFileName::encode(path);
    const bool follow = links == Links::Follow;
    struct stat info;
    // Without following, the entry itself decides before anything is opened: opening a
    // device can act on it.
    if (!follow && SysCalls::lstat(encoded.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return withReason(Error::posix(EINVAL, openFailure, path), notRegularReason(kindOf(info.st_mode)));
    // O_NONBLOCK changes nothing for a regular file; everything else is refused below.
    const int fd = SysCalls::open(encoded.constData(),
                                  O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        // A socket cannot be opened at all (ENXIO), and a link put in place since the look
        // above answers ELOOP; their kinds are still worth telling.
        const bool lookAgain = error == ENXIO || (!follow && error == ELOOP);
        if (lookAgain &&
            (follow ? SysCalls::stat(encoded.constData(), &info)
                    : SysCalls::lstat(encoded.constData(), &info)) == 0 &&
            !S_ISREG(info.st_mode))
            return withReason(Error::posix(EINVAL, openFailure, path),
                              notRegularReason(kindOf(info.st_mode)));
        return withReason(Error::posix(error, openFailure, path), reasonFor(error));
    }
    if (SysCalls::fstat(fd, &info) != 0) {
        const int error = errno;
        (void)SysCalls::close(fd);
        return Error::posix(error, readFailure, path);
    }
    if (!S_ISREG(info.st_mode)) {
        (void)SysCalls::close(fd);
        return withReason(Error::posix(EINVAL, readFailure, path), notRegularReason(kindOf(info.st_mode)));
    }
    if (qint64(info.st_size) > maxBytes) {
        (void)SysCalls::close(fd);
        return tooLarge(path, readFailure, qint64(info.st_size), maxBytes);
    }
    return RegularFile(fd, qint64(info.st_size));
}

QString RegularFile::reasonFor(int errnoValue)
{
    switch (errnoValue) {
    case ELOOP:
        return QStringLiteral("The file cannot be reached: too many levels of symbolic links.");
    case EINVAL:
        return notRegularReason(QString());
    case EISDIR:
        return notRegularReason(kindOf(S_IFDIR));
    default:
        return QString();
    }
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : mFd(std::exchange(other.mFd, -1)), mSize(std::exchange(other.mSize, 0))
{}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (mFd >= 0)
            (void)SysCalls::close(mFd);
        mFd = std::exchange(other.mFd, -1);
        mSize = std::exchange(other.mSize, 0);
    }
    return *this;
}

RegularFile::~RegularFile()
{
    // Nothing read can be lost by a failed close of a read-only descriptor.
    if (mFd >= 0)
        (void)SysCalls::close(mFd);
}

int RegularFile::release()
{
    mSize = 0;
    return std::exchange(mFd, -1);
}

} // namespace corvex
