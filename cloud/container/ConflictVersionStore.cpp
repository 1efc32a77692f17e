#include "cloud/container/ConflictVersionStore.h"

#include "cloud/container/SyncFileNames.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace corvex {

ConflictVersionStore::~ConflictVersionStore() = default;

std::vector<CloudFileVersionPtr>
SyncConflictVersionStore::unresolvedConflictVersionsOfItem(const QString& documentPath)
{
    std::vector<CloudFileVersionPtr> versions;
    const QFileInfo document(documentPath);
    const QString folder = document.absolutePath();
    const QString documentName = document.fileName();
    DIR* dir = SysCalls::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return versions;
    std::vector<std::pair<QString, QString>> copies; // name, device
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        const auto copy = SyncFileNames::parseConflictCopy(name);
        if (copy && copy->original == documentName && !SyncFileNames::isHidden(name))
            copies.emplace_back(name, copy->device);
    }
    ::closedir(dir);
    std::sort(copies.begin(), copies.end());
    for (const auto& [name, device] : copies) {
        const QString path = folder + QLatin1Char('/') + name;
        struct stat info;
        if (SysCalls::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const qint64 ms = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
        versions.push_back(
            std::make_shared<CloudFileVersion>(path, QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), device));
    }
    return versions;
}

Status SyncConflictVersionStore::replaceItem(const QString& documentPath, const CloudFileVersion& version)
{
    auto bytes = WholeFileReader::read(version.path(), MaxVersionSize);
    if (!bytes.ok())
        return bytes.error();
    Status written = Error::posix(EIO, QStringLiteral("Cannot replace the document"), documentPath);
    Error error;
    const bool coordinated = FileCoordinator().coordinateWriting(
        documentPath, FileCoordinator::WritingForReplacing,
        [&](const QString& path) { written = SaveFile::writeAtomically(path, bytes.value()); }, &error);
    if (!coordinated)
        return error;
    return written;
}

Status SyncConflictVersionStore::removeOtherVersionsOfItem(const QString& documentPath)
{
    Status outcome = Status::success();
    for (const CloudFileVersionPtr& version : unresolvedConflictVersionsOfItem(documentPath)) {
        if (Status removed = setResolved(*version); !removed)
            outcome = removed;
    }
    return outcome;
}

Status SyncConflictVersionStore::setResolved(const CloudFileVersion& version)
{
    if (SysCalls::unlink(QFile::encodeName(version.path()).constData()) != 0 && errno != ENOENT)
        return Error::posix(errno, QStringLiteral("Cannot remove the conflict copy"), version.path());
    return Status::success();
}

} // namespace corvex
