#include "cloud/container/UbiquitousMover.h"

#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr qint64 MoverCopyLimit = qint64(1) << 30;

Status existsError(const QString& to)
{
    return Error(UbiquitousMover::ErrorDomain, UbiquitousMover::FileExistsErrorCode,
                 QStringLiteral("The file %1 exists already").arg(to));
}

// Links `from` to `to` (never replacing), then removes `from`.
Status linkThenUnlink(const QByteArray& from, const QByteArray& to, const QString& target)
{
    if (SysCalls::linkat(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), 0) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return existsError(target);
        return Error::posix(error, QStringLiteral("Cannot move the file"), target);
    }
    SysCalls::unlink(from.constData());
    return Status::success();
}

Status copyAcross(const QString& from, const QString& to)
{
    auto bytes = WholeFileReader::read(from, MoverCopyLimit);
    if (!bytes.ok())
        return bytes.error();
    const QFileInfo target(to);
    const QString temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".corvex-tmp-") + QUuid::createUuid().toString(QUuid::Id128);
    const QByteArray temp = QFile::encodeName(temporary);
    const int fd = SysCalls::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return Error::posix(errno, QStringLiteral("Cannot copy the file"), to);
    const bool written =
        SysCalls::writeAll(fd, bytes->constData(), std::size_t(bytes->size())) && SysCalls::fsync(fd) == 0;
    const int error = errno;
    const bool closed = SysCalls::close(fd) == 0;
    if (!written || !closed) {
        SysCalls::unlink(temp.constData());
        return Error::posix(written ? EIO : error, QStringLiteral("Cannot copy the file"), to);
    }
    Status linked = linkThenUnlink(temp, QFile::encodeName(to), to);
    if (!linked) {
        SysCalls::unlink(temp.constData());
        return linked;
    }
    SysCalls::unlink(QFile::encodeName(from).constData());
    return Status::success();
}

} // namespace

const QString UbiquitousMover::ErrorDomain = QStringLiteral("NSCocoaErrorDomain");

UbiquitousMover::~UbiquitousMover() = default;

Status FileUbiquitousMover::moveNoReplace(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return Status::success();
    const int error = errno;
    switch (error) {
    case EEXIST:
        return existsError(to);
    case EXDEV:
        return copyAcross(from, to);
    case EINVAL:
    case ENOSYS:
        // The file system knows no RENAME_NOREPLACE: link never replaces either.
        return linkThenUnlink(source, target, to);
    default:
        return Error::posix(error, QStringLiteral("Cannot move the file"), to);
    }
}

} // namespace corvex
