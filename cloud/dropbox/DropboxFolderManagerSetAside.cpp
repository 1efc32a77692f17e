// Recovery from a status file that cannot be read: the document copies are set aside before
// the mode starts afresh, and the newest copy of each document is adopted once Dropbox has
// been listed, so an edit that was never uploaded survives the loss of its record.

#include "cloud/dropbox/DropboxContentHash.h"
#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "cloud/dropbox/DropboxSetAside.h"

#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "storage/StorageQueues.h"

#include <QFile>

namespace corvex {

void DropboxFolderManager::setAsideAndStartAfresh(bool existed)
{
    const QString folder = localManagedFolder();
    const QString path = localManagedFile(StatusFileName);
    const qint64 stamp = Globals::currentTimeMillis();
    const auto weak = weakSelf();
    StorageQueues::persistenceQueue().async([weak, folder, path, stamp, existed] {
        // The copies go first: until the status file is set aside too, a kill here only means
        // the next start sets the rest aside.
        if (existed) {
            if (!DropboxSetAside::setAsideCopies(folder, stamp))
                Log::warning(QStringLiteral("Dropbox: not every copy could be set aside"));
            // Kept aside for whoever wants to look at it; the keep rules never remove ".bak".
            const QString aside = QStringLiteral("%1.%2.bak").arg(path).arg(stamp);
            if (!QFile::rename(path, aside))
                QFile::remove(path);
        }
        MainQueue::post([weak] {
            if (auto self = weak.lock())
                self->startAsOnFirstRun();
        });
    });
}

bool DropboxFolderManager::action_adoptSetAsideCopies()
{
    if (!mSetAsideWaiting || !idle() || !loadedAndConnected() || !mState->doWeHaveInitialDropboxFolderListing)
        return false;
    const QStringList waiting = DropboxSetAside::waitingCopies(localManagedFolder());
    if (waiting.isEmpty()) {
        mSetAsideWaiting = false;
        return false;
    }
    adoptSetAsideCopy(waiting.front());
    return true;
}

QSet<QString> DropboxFolderManager::localContentHashes() const
{
    QSet<QString> hashes;
    for (const auto& entry : mState->docs) {
        if (!entry.second)
            continue;
        for (const QVFileInfo::Ref& info : {entry.second->current(), entry.second->output()})
            if (QVFileInfo::hasFile(info))
                if (const auto hash = DropboxContentHash::ofFile(localManagedFile(*info->name())))
                    hashes.insert(*hash);
    }
    return hashes;
}

void DropboxFolderManager::adoptSetAsideCopy(const QString& path)
{
    const std::optional<QString> hash = DropboxContentHash::ofFile(path);
    if (!hash) {
        DropboxSetAside::keepAside(localManagedFolder(), path);
        return;
    }
    // Also a record's copy: a kill after the adoption's status write and before the waiting
    // copy went must not adopt it twice.
    if (mListedContentHashes.contains(*hash) || localContentHashes().contains(*hash)) {
        SysCalls::unlink(QFile::encodeName(path).constData());
        return;
    }
    const QString name = unusedLocalName(&DropboxFileNames::createLocalCRVXFileName);
    if (!QFile::copy(path, localManagedFile(name))) {
        Log::warning(QStringLiteral("Dropbox: could not adopt the set-aside copy %1").arg(path));
        // Tried again at the next start rather than at every turn.
        mSetAsideWaiting = false;
        return;
    }
    const QString copyIdentifier = DropboxFileNames::fileURLFromDropboxPath(
        DropboxFileNames::dropboxPathForFile(DropboxFileNames::createDropboxCRVXFileName()));
    const QVFileInfo::Ref output = QVFileInfo::make(name, std::nullopt);
    setRecord(copyIdentifier, DocumentInfo::make(nullptr, nullptr, output));
    notifySummaryOfDownload(copyIdentifier, output);
    // The waiting copy goes only once the status file names its adopted twin.
    mState->hasPendingGeneralOperation = true;
    const auto weak = weakSelf();
    saveOrCreateLocalStatus([weak, path](bool ok) {
        auto self = weak.lock();
        if (!self)
            return;
        self->mState->hasPendingGeneralOperation = false;
        if (ok)
            SysCalls::unlink(QFile::encodeName(path).constData());
    });
}

} // namespace corvex
