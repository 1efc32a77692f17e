#include "platform/core/Paths.h"

#include "platform/core/Log.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

QString absoluteFromEnvironment(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return QString();
    return QDir::cleanPath(value);
}

QString homeRelative(const char* name, const QString& relative)
{
    const QString value = absoluteFromEnvironment(name);
    if (!value.isEmpty())
        return value;
    return Paths::home() + QLatin1Char('/') + relative;
}

Error pathError(int code, const QString& text, const QString& path)
{
    return Error(Error::PosixDomain, code, text.arg(path), {{Error::FilePathKey, path}});
}

} // namespace

QString Paths::home()
{
    const QString value = absoluteFromEnvironment("HOME");
    if (!value.isEmpty())
        return value;
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr)
        return QDir::cleanPath(QFile::decodeName(entry->pw_dir));
    return QDir::rootPath();
}

QString Paths::applicationSupport()
{
    return homeRelative("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString Paths::caches()
{
    return homeRelative("XDG_CACHE_HOME", QStringLiteral(".cache"));
}

QString Paths::config()
{
    return homeRelative("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString Paths::runtime()
{
    const QString value = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    return value.isEmpty() ? caches() : value;
}

QString Paths::appFolderName()
{
    return QStringLiteral("com.tallowfen.corvex");
}

Status Paths::makePath(const QString& path, unsigned mode)
{
    return makeFolders(path, mode, false);
}

Status Paths::makePrivatePath(const QString& path)
{
    return makeFolders(path, 0700, true);
}

Status Paths::makeFolders(const QString& path, unsigned mode, bool exactMode)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    // Walk down from the root, making what is missing.
    qsizetype from = 1;
    while (true) {
        const qsizetype slash = clean.indexOf(QLatin1Char('/'), from);
        const QString prefix = slash < 0 ? clean : clean.left(slash);
        const QByteArray encoded = QFile::encodeName(prefix);
        if (SysCalls::mkdir(encoded.constData(), mode) != 0) {
            const int error = errno;
            struct stat info;
            if (error != EEXIST)
                return Error::posix(error, QStringLiteral("Cannot make the folder"), prefix);
            if (::stat(encoded.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
                return Error::posix(ENOTDIR, QStringLiteral("Cannot make the folder"), prefix);
        } else if (exactMode && ::chmod(encoded.constData(), mode) != 0) {
            // Only the folder just made: the umask took bits this one must have.
            return Error::posix(errno, QStringLiteral("Cannot set the mode of the folder"), prefix);
        }
        if (slash < 0)
            return Status::success();
        from = slash + 1;
    }
}

Result<QString> Paths::privateTemporaryDirectory()
{
    const QString parent = caches() + QLatin1Char('/') + appFolderName();
    const QString path = parent + QStringLiteral("/tmp");
    if (Status made = makePath(parent, 0700); !made)
        return made.error();
    const QByteArray encoded = QFile::encodeName(path);
    if (SysCalls::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
        return Error::posix(errno, QStringLiteral("Cannot make the private temporary folder"), path);

    // Checked through a descriptor opened without following links, so the folder that was
    // checked is the folder that gets narrowed.
    const int fd = SysCalls::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat info;
        if (::lstat(encoded.constData(), &info) == 0 && S_ISLNK(info.st_mode))
            return pathError(
                ELOOP, QStringLiteral("The private temporary folder %1 is a symbolic link; it is not used."),
                path);
        return Error::posix(error, QStringLiteral("Cannot open the private temporary folder"), path);
    }
    struct stat info;
    Error problem;
    if (::fstat(fd, &info) != 0) {
        problem = Error::posix(errno, QStringLiteral("Cannot read the state of the private temporary folder"),
                               path);
    } else if (info.st_uid != ::geteuid()) {
        problem = pathError(
            EPERM, QStringLiteral("The private temporary folder %1 belongs to another user; it is not used."),
            path);
    } else if ((info.st_mode & 07777) != 0700) {
        if (::fchmod(fd, 0700) == 0)
            Log::warning(QStringLiteral("The private temporary folder %1 had mode %2; narrowed to 0700.")
                             .arg(path, QString::number(info.st_mode & 07777, 8)));
        else
            problem = Error::posix(
                errno, QStringLiteral("Cannot narrow the mode of the private temporary folder"), path);
    }
    SysCalls::close(fd);
    if (problem)
        return problem;
    return path;
}

} // namespace corvex
