#include "crash/BBXFileManager.h"

#include "kit/sys/HostFunctions.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio> // std::rename
#include <cstring>
#include <fcntl.h> // AT_FDCWD
#include <filesystem>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace corvex {

namespace {

QString joined(const QString& directory, const QString& name)
{
    return directory + QLatin1Char('/') + name;
}

} // namespace

BBXFileManager::BBXFileManager(QString rootPath) : mRootPath(std::move(rootPath)) {}

QString BBXFileManager::defaultRootPath()
{
    return Paths::caches() + QStringLiteral("/com.blackbox.data/") + LOMEscapedBundleIdentifier();
}

QString BBXFileManager::structurePath() const
{
    return joined(mRootPath, QStringLiteral("v3"));
}
QString BBXFileManager::activePath() const
{
    return joined(structurePath(), QStringLiteral("active"));
}
QString BBXFileManager::pendingPath() const
{
    return joined(structurePath(), QStringLiteral("pending"));
}
QString BBXFileManager::processingPath() const
{
    return joined(structurePath(), QStringLiteral("processing"));
}
QString BBXFileManager::preparedPath() const
{
    return joined(structurePath(), QStringLiteral("prepared"));
}
QString BBXFileManager::launchMarkerPath() const
{
    return joined(structurePath(), QStringLiteral("launchmarker"));
}
QString BBXFileManager::legacyMarkerPath() const
{
    return joined(mRootPath, QStringLiteral("sendable"));
}

bool BBXFileManager::createDirectoryAtPath(const QString& path) const
{
    // The tree holds crash records: each folder made here is the user's alone, whatever the
    // umask; folders that exist (the caches folder above the tree) are left as they are.
    const Status made = Paths::makePrivatePath(path);
    if (!made)
        Log::error(
            QStringLiteral("[FileManager] Unable to create directory %1").arg(made.error().toString()));
    return made.ok();
}

bool BBXFileManager::removeItemAtPath(const QString& path) const
{
    std::error_code error;
    const std::filesystem::path native(QFile::encodeName(path).toStdString());
    if (!path.isEmpty() && std::filesystem::remove_all(native, error) > 0 && !error)
        return true;
    const QString reason =
        error ? QString::fromStdString(error.message()) : QStringLiteral("No such file or directory");
    Log::error(QStringLiteral("[FileManager] Failed to remove file '%1' : %2").arg(path, reason));
    return false;
}

bool BBXFileManager::removeContentsOfDirectoryAtPath(const QString& path) const
{
    bool all = true;
    enumerateFilesInDirectory(
        path, [&](const QString& item, const QString&) { all = removeItemAtPath(item) && all; });
    return all;
}

bool BBXFileManager::moveItemAtPath(const QString& path, const QString& directory) const
{
    if (path.isEmpty() || directory.isEmpty()) {
        Log::error(QStringLiteral("[FileManager] Failed to move file, inputs invalid"));
        return false;
    }
    const QString target = joined(directory, QFileInfo(path).fileName());
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    Log::error(QStringLiteral("[FileManager] Failed to move file: %1")
                   .arg(Error::posix(errno, QStringLiteral("rename"), path).toString()));
    return false;
}

bool BBXFileManager::moveItemsFromDirectory(const QString& from, const QString& to) const
{
    for (const QString& item : contentsOfDirectory(from)) {
        if (!moveItemAtPath(item, to))
            return false;
    }
    return true;
}

void BBXFileManager::enumerateFilesInDirectory(
    const QString& directory,
    const std::function<void(const QString& path, const QString& extension)>& block) const
{
    const QStringList names = QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        block(joined(directory, name), dot > 0 ? name.mid(dot + 1) : QString());
    }
}

QStringList BBXFileManager::contentsOfDirectory(const QString& directory) const
{
    QStringList paths;
    enumerateFilesInDirectory(directory, [&](const QString& path, const QString&) { paths.append(path); });
    return paths;
}

QStringList BBXFileManager::waitingReportsOldestFirst() const
{
    return oldestFirst(preparedPathContents());
}

std::optional<qint64> BBXFileManager::modificationTime(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool BBXFileManager::setModificationTime(const QString& path, qint64 nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(nanoseconds / 1000000000);
    times[1].tv_nsec = long(nanoseconds % 1000000000);
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

QStringList BBXFileManager::oldestFirst(QStringList paths)
{
    std::vector<std::pair<qint64, QString>> aged;
    aged.reserve(std::size_t(paths.size()));
    for (QString& path : paths)
        aged.emplace_back(modificationTime(path).value_or(0), std::move(path));
    std::sort(aged.begin(), aged.end());
    QStringList sorted;
    for (auto& entry : aged)
        sorted.append(std::move(entry.second));
    return sorted;
}

std::optional<qint64> BBXFileManager::fileSizeAtPath(const QString& path) const
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        Log::error(QStringLiteral("[Client] Unable to read file size: %1")
                       .arg(Error::posix(errno, QStringLiteral("stat"), path).toString()));
        return std::nullopt;
    }
    return qint64(info.st_size);
}

bool BBXFileManager::prepareForNewLaunch() const
{
    return createDirectoryAtPath(activePath()) && createDirectoryAtPath(processingPath()) &&
           createDirectoryAtPath(preparedPath());
}

std::optional<QString> BBXFileManager::setupNewPathForExecutionIdentifier(const QString& identifier) const
{
    if (identifier.isEmpty())
        return std::nullopt;
    const QString path = joined(activePath(), identifier);
    if (!createDirectoryAtPath(path))
        return std::nullopt;
    return path;
}

void BBXFileManager::removeLegacyDirectories() const
{
    if (!QFileInfo::exists(legacyMarkerPath()))
        return;
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(mRootPath).toStdString()), error);
    if (error)
        Log::error(QStringLiteral("[Blackbox:FileManager] Unable to remove legacy directory structure %1")
                       .arg(QString::fromStdString(error.message())));
    Log::info(QStringLiteral("[Blackbox:FileManager] Removed legacy structure at %1").arg(mRootPath));
}

bool BBXFileManager::removeContentsOfAllPaths() const
{
    bool all = removeContentsOfDirectoryAtPath(processingPath());
    all = removeContentsOfDirectoryAtPath(pendingPath()) && all;
    all = removeContentsOfDirectoryAtPath(preparedPath()) && all;
    all = removeContentsOfDirectoryAtPath(activePath()) && all;
    return all;
}

} // namespace corvex
