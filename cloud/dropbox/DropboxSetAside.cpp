#include "cloud/dropbox/DropboxSetAside.h"

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <map>
#include <utility>

namespace corvex {

const QString DropboxSetAside::FolderName = QStringLiteral("setaside");

namespace {

// The time and counter of a local copy's name ("file<ms>_<n>.crvx"); names of another form
// come before every such name.
std::pair<qint64, qint64> copyAge(const QString& name)
{
    static const QRegularExpression form(QStringLiteral("^file(\\d+)_(\\d+)\\.crvx$"));
    const QRegularExpressionMatch match = form.match(name);
    if (!match.hasMatch())
        return {-1, -1};
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong()};
}

// The root idea identifier of a copy's payload; empty when it cannot be read.
QString rootIdeaOf(const QString& path)
{
    const Result<QByteArray> bytes = WholeFileReader::read(path, AttachmentDocument::MaxFileSize);
    const auto payload = bytes.ok() ? IdeaDocumentDataObject::readFromSomeData(bytes.value()) : nullptr;
    return payload && payload->idea() ? payload->idea()->identifier() : QString();
}

bool moveInto(const QString& path, const QString& folder)
{
    return QFile::rename(path, folder + QLatin1Char('/') + QFileInfo(path).fileName());
}

} // namespace

QString DropboxSetAside::folder(const QString& managedFolder)
{
    return managedFolder + QLatin1Char('/') + FolderName;
}

QString DropboxSetAside::waitingFolder(const QString& managedFolder)
{
    return folder(managedFolder) + QStringLiteral("/waiting");
}

bool DropboxSetAside::setAsideCopies(const QString& managedFolder, qint64 stamp)
{
    const QString aside = folder(managedFolder) + QLatin1Char('/') + QString::number(stamp);
    const QString waiting = waitingFolder(managedFolder);
    if (!Paths::makePath(aside).ok() || !Paths::makePath(waiting).ok())
        return false;
    bool allMoved = true;
    const QDir managed(managedFolder);
    for (const QString& name : managed.entryList({QStringLiteral("*.crvx")}, QDir::Files | QDir::Hidden))
        allMoved = moveInto(managed.filePath(name), aside) && allMoved;
    // Each group's newest copy, by its root idea; unreadable copies have no group.
    std::map<QString, QString> newest;
    const QDir asideDir(aside);
    for (const QString& name : asideDir.entryList({QStringLiteral("*.crvx")}, QDir::Files | QDir::Hidden)) {
        const QString root = rootIdeaOf(asideDir.filePath(name));
        if (root.isEmpty())
            continue;
        auto [found, added] = newest.emplace(root, name);
        if (!added && copyAge(found->second) < copyAge(name))
            found->second = name;
    }
    for (const auto& group : newest)
        if (!moveInto(asideDir.filePath(group.second), waiting)) {
            Log::warning(
                QStringLiteral("Dropbox: could not move %1 to the waiting copies").arg(group.second));
            allMoved = false;
        }
    return allMoved;
}

QStringList DropboxSetAside::waitingCopies(const QString& managedFolder)
{
    const QDir waiting(waitingFolder(managedFolder));
    QStringList paths;
    for (const QString& name : waiting.entryList({QStringLiteral("*.crvx")}, QDir::Files | QDir::Hidden))
        paths.append(waiting.filePath(name));
    return paths;
}

void DropboxSetAside::keepAside(const QString& managedFolder, const QString& waitingPath)
{
    if (!moveInto(waitingPath, folder(managedFolder)))
        Log::warning(QStringLiteral("Dropbox: could not set %1 aside").arg(waitingPath));
}

} // namespace corvex
