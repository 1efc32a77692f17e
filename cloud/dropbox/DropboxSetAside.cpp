#include "cloud/dropbox/DropboxSetAside.h"

#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentDocument.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <map>
#include <utility>

namespace corvex {

const QString DropboxSetAside::FolderName = QStringLiteral("setaside");

namespace {

const QRegularExpression& copyNameForm()
{
    static const QRegularExpression form(QStringLiteral("^(file|download)(\\d+)_(\\d+)\\.crvx$"));
    return form;
}

// The time and counter of a local copy's name ("file<ms>_<n>.crvx" or
// "download<ms>_<n>.crvx"); names of another form come before every such name.
std::pair<qint64, qint64> copyAge(const QString& name)
{
    const QRegularExpressionMatch match = copyNameForm().match(name);
    if (!match.hasMatch())
        return {-1, -1};
    return {match.captured(2).toLongLong(), match.captured(3).toLongLong()};
}

bool wasDownloaded(const QString& name)
{
    return copyNameForm().match(name).captured(1) == QLatin1String("download");
}

// What a copy holds: its root idea identifier (empty when it cannot be read) and when it was
// last saved.
struct CopyPayload
{
    QString root;
    QDateTime saved;
};

CopyPayload payloadOf(const QString& path)
{
    const Result<QByteArray> bytes = WholeFileReader::read(path, AttachmentDocument::MaxFileSize);
    const auto payload = bytes.ok() ? IdeaDocumentDataObject::readFromSomeData(bytes.value()) : nullptr;
    if (!payload || !payload->idea())
        return {};
    return {payload->idea()->identifier(), payload->dateModified()};
}

// Which of two copies of one document holds the later work. A copy's name tells when it came
// to this machine, not when its content was saved: a download of an older version can arrive
// after an edit that was never uploaded. So the save time in the payload comes first, and the
// name only breaks ties and stands in when a save time cannot be read. The save time has no
// seconds: within one minute, a copy saved here holds later work than a downloaded one, which
// may be this machine's own earlier save come back (an upload that landed unanswered).
bool holdsLaterWork(const CopyPayload& a, const QString& aName, const CopyPayload& b, const QString& bName)
{
    const bool bothSaved = a.saved.isValid() && b.saved.isValid();
    if (bothSaved && a.saved != b.saved)
        return a.saved > b.saved;
    if (bothSaved && wasDownloaded(aName) != wasDownloaded(bName))
        return wasDownloaded(bName);
    return copyAge(aName) > copyAge(bName);
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
    // Each group's copy with the latest work, by its root idea; unreadable copies have no group.
    std::map<QString, std::pair<QString, CopyPayload>> latest;
    const QDir asideDir(aside);
    for (const QString& name : asideDir.entryList({QStringLiteral("*.crvx")}, QDir::Files | QDir::Hidden)) {
        CopyPayload payload = payloadOf(asideDir.filePath(name));
        if (payload.root.isEmpty())
            continue;
        auto [found, added] = latest.try_emplace(payload.root, name, payload);
        if (!added && holdsLaterWork(payload, name, found->second.second, found->second.first))
            found->second = {name, std::move(payload)};
    }
    for (const auto& [root, copy] : latest)
        if (!moveInto(asideDir.filePath(copy.first), waiting)) {
            Log::warning(QStringLiteral("Dropbox: could not move %1 to the waiting copies").arg(copy.first));
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
