// Documents of the Dropbox mode: the listing that finds remote changes and deletions, the
// download and resolution of remote versions (conflicts become conflict copies), and the
// upload and deletion of local changes.

#include "cloud/dropbox/DropboxContentHash.h"
#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "cloud/dropbox/DropboxSyncNotices.h"

#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/Scheduler.h"
#include "storage/AttachmentNames.h"
#include "storage/PersistenceStateDelegate.h"

#include <QFileInfo>
#include <QSet>

namespace corvex {

namespace {

const QString ListStep = QStringLiteral("list");

QString downloadStep(const QString& identifier)
{
    return QStringLiteral("download ") + identifier;
}

QString writeStep(const QString& identifier)
{
    return QStringLiteral("write ") + identifier;
}

} // namespace

bool DropboxFolderManager::fileInfoMatchesRev(const QVFileInfo::Ref& info, const QString& rev)
{
    return info && info->rev() && *info->rev() == rev;
}

DocumentInfo::Ref DropboxFolderManager::markForLoadingIfNeeded(const FileMetadata& entry,
                                                               const DocumentInfo::Ref& record)
{
    if (!record)
        return DocumentInfo::make(QVFileInfo::EMPTY(), nullptr, nullptr);
    if (QVFileInfo::isEmpty(record->input()))
        return record;
    if (fileInfoMatchesRev(record->input(), entry.rev) || fileInfoMatchesRev(record->current(), entry.rev) ||
        fileInfoMatchesRev(record->output(), entry.rev))
        return record;
    return record->withInput(QVFileInfo::EMPTY());
}

bool DropboxFolderManager::action_listDropboxContents()
{
    if (!idle() || !loadedAndConnected() ||
        (mState->doWeHaveInitialDropboxFolderListing && !mState->pollFolderASAP) || !mayAsk(ListStep))
        return false;
    mState->hasPendingDropboxOperation = true;
    asking(ListStep);
    const auto weak = weakSelf();
    const quint64 connection = mConnection;
    mServices.client->listFolderContents(QString(), [weak, connection](const ListFolderResponse& response) {
        auto self = weak.lock();
        if (!self)
            return;
        const bool listed = response.result == DropboxResult::Done && response.entries;
        self->mState->hasPendingDropboxOperation = false;
        self->answered(ListStep, listed);
        if (connection != self->mConnection) {
            // Begun before a reconnect: it may tell of Dropbox as it was before the connection
            // was lost (a deletion made meanwhile missing). The reconnect's own listing follows.
            self->ensureRunnable();
            return;
        }
        // A failed listing is asked again once its back-off allows, not a poll interval later.
        self->mState->pollFolderASAP = !listed;
        self->mTimeOfLastPoll = double(Globals::currentTimeMillis());
        if (listed) {
            self->mListedContentHashes.clear();
            self->mListedVersions.clear();
            for (const FileMetadata& entry : *response.entries) {
                if (entry.contentHash.isEmpty())
                    continue;
                self->mListedContentHashes.insert(entry.contentHash);
                self->mListedVersions[DropboxFileNames::fileURLFromDropboxPath(entry.path)] = {
                    entry.rev, entry.contentHash};
            }
            self->markMissingDropboxDocumentsForDownload(*response.entries);
            self->markMissingLocalDocumentsForCheck(*response.entries);
            self->saveStatusLater();
            self->mState->doWeHaveInitialDropboxFolderListing = true;
        }
        self->ensureRunnable();
    });
    return false;
}

void DropboxFolderManager::markMissingDropboxDocumentsForDownload(const std::vector<FileMetadata>& entries)
{
    bool indexListed = false;
    for (const FileMetadata& entry : entries) {
        if (entry.path == DropboxFileNames::createDropboxIndexFilePath()) {
            indexListed = true;
            // An index of a newer format is not fetched again while it stays as it is.
            if (entry.rev != mNewerFormatIndexRev)
                mState->indexDocumentInfo = markForLoadingIfNeeded(entry, mState->indexDocumentInfo);
            continue;
        }
        if (!entry.path.endsWith(QStringLiteral(".crvx")))
            continue;
        if (!DropboxFileNames::isAcceptableDocumentPath(entry.path)) {
            Log::warning(QStringLiteral("Dropbox: skipping the listed name %1")
                             .arg(AttachmentNames::printable(entry.path)));
            continue;
        }
        const QString identifier = DropboxFileNames::fileURLFromDropboxPath(entry.path);
        // A file again where a folder was: fetched as any other.
        mFolderPaths.remove(identifier);
        setRecord(identifier, markForLoadingIfNeeded(entry, record(identifier)));
    }
    if (!indexListed)
        mNewerFormatIndexRev.reset();
}

void DropboxFolderManager::markMissingLocalDocumentsForCheck(const std::vector<FileMetadata>& entries)
{
    QSet<QString> listed;
    for (const FileMetadata& entry : entries)
        listed.insert(DropboxFileNames::fileURLFromDropboxPath(entry.path));
    for (auto& [identifier, record] : mState->docs) {
        if (!record || listed.contains(identifier) || QVFileInfo::isEmpty(record->input()) ||
            mFolderPaths.contains(identifier))
            continue;
        if (QVFileInfo::hasFile(record->current()) || QVFileInfo::hasFile(record->output()))
            record = record->withInput(QVFileInfo::EMPTY());
    }
}

bool DropboxFolderManager::action_downloadDropboxFiles()
{
    if (!idle() || !loadedAndConnected() || !mState->doWeHaveInitialDropboxFolderListing)
        return false;
    // A download not yet tried holds the file status back; one that failed and waits out its
    // back-off holds back only its own document (whose upload waits for its input).
    bool untried = false;
    // Each of these loops starts at most one job and returns: the map is walked in place
    // (std::map keeps its iterators when a record is replaced or added).
    for (const auto& [identifier, record] : mState->docs) {
        if (!record || !QVFileInfo::isEmpty(record->input()))
            continue;
        if (mFolderPaths.contains(identifier)) {
            // Known to be a folder: nothing to ask.
            folderTookThePlaceOf(identifier, record);
            saveStatusLater();
            return true;
        }
        const QString step = downloadStep(identifier);
        if (!mayAsk(step)) {
            untried = untried || !mBackoff.isFailing(step);
            continue;
        }
        asking(step);
        mState->hasPendingGeneralOperation = true;
        mState->hasPendingDropboxOperation = true;
        const QString name = unusedLocalName(&DropboxFileNames::createLocalDownloadFileName);
        const QString fetched = identifier;
        const auto weak = weakSelf();
        mServices.client->downloadFile(DropboxFileNames::dropboxPathFromFileURL(fetched),
                                       localManagedFile(name),
                                       [weak, fetched, name](const DownloadResponse& response) {
                                           if (auto self = weak.lock())
                                               self->handleDownloadAnswer(fetched, name, response);
                                       });
        return true;
    }
    if (untried || mState->doWeHaveInitialDropboxFileStatus)
        return false;
    mState->doWeHaveInitialDropboxFileStatus = true;
    saveStatusLater();
    return true;
}

void DropboxFolderManager::handleDownloadAnswer(const QString& identifier, const QString& localName,
                                                const DownloadResponse& response)
{
    mState->hasPendingGeneralOperation = false;
    mState->hasPendingDropboxOperation = false;
    // A folder at the path is an answer too: the path is not asked about again.
    answered(downloadStep(identifier), response.result == DropboxResult::NotFound || response.folderAtPath ||
                                           (response.result == DropboxResult::Done && response.rev));
    const DocumentInfo::Ref old = record(identifier);
    const QString remotePath = DropboxFileNames::dropboxPathFromFileURL(identifier);
    if (response.damaged && noteDamagedDownload(remotePath))
        tellDocumentNotSynced(identifier, false, identifier,
                              old ? QVFileInfo::firstNonNull(old->output(), old->current()) : nullptr);
    else if (response.result == DropboxResult::Done && response.rev)
        mDamagedDownloads.remove(remotePath);
    if (response.result == DropboxResult::Done && response.rev) {
        DropboxSyncNotices::postDocumentSynced(this, identifier);
        const QVFileInfo::Ref input = QVFileInfo::make(localName, response.rev);
        setRecord(identifier, old ? resolveLoadAndNotifyState(identifier, old->withInput(input))
                                  : DocumentInfo::make(input, nullptr, nullptr));
    } else if (response.result == DropboxResult::NotFound && old) {
        if (!QVFileInfo::hasFile(old->output())) {
            // Gone remotely, and nothing of ours waits: a pending deletion is done too.
            setRecord(identifier, DocumentInfo::make(nullptr, QVFileInfo::EMPTY(), nullptr));
            if (auto owner = delegate())
                owner->ideaDocumentDeleted(identifier, this);
        } else {
            setRecord(identifier, DocumentInfo::make(nullptr, QVFileInfo::EMPTY(),
                                                     QVFileInfo::make(old->output()->name(), std::nullopt)));
        }
    } else if (response.folderAtPath && old) {
        folderTookThePlaceOf(identifier, old);
    }
    saveStatusLater();
    ensureRunnable();
}

DocumentInfo::Ref DropboxFolderManager::resolveLoadAndNotifyState(const QString& identifier,
                                                                  const DocumentInfo::Ref& record)
{
    const QVFileInfo::Ref& input = record->input();
    if (!QVFileInfo::hasFile(input))
        return record;
    const QVFileInfo::Ref& output = record->output();
    const bool sameRevAsOutput = output && output->rev() && input->rev() == output->rev();
    if (!output) {
        if (QVFileInfo::areEqual(input, record->current()))
            return record->withInput(nullptr);
        notifySummaryOfDownload(identifier, input);
        return DocumentInfo::make(nullptr, input, nullptr);
    }
    if (QVFileInfo::isDeleted(output)) {
        if (sameRevAsOutput)
            return record->withInput(nullptr);
        notifySummaryOfDownload(identifier, input);
        return DocumentInfo::make(nullptr, input, nullptr);
    }
    if (sameRevAsOutput)
        return record->withInput(nullptr);
    const auto inputHash = DropboxContentHash::ofFile(localManagedFile(*input->name()));
    const auto hashOf = [this](const QVFileInfo::Ref& info) {
        return QVFileInfo::hasFile(info) ? DropboxContentHash::ofFile(localManagedFile(*info->name()))
                                         : std::nullopt;
    };
    // The remote version holds the local change already: an upload landed and its answer was
    // lost. It becomes current, with nothing left to upload and no copy made.
    if (inputHash && inputHash == hashOf(output))
        return DocumentInfo::make(nullptr, input, nullptr);
    // The local change is on Dropbox already under another path: its upload landed, its record
    // was lost (the answer, or the program, died first), and another machine has since kept that
    // version as a conflict copy. Uploading it again, over a new version or the one it started
    // from, would only make a second copy of it; the remote version becomes current.
    if (const auto outputHash = hashOf(output);
        outputHash && isKeptOnDropboxElsewhere(identifier, *outputHash)) {
        notifySummaryOfDownload(identifier, input);
        return DocumentInfo::make(nullptr, input, nullptr);
    }
    // The remote version holds what the local change started from (a new revision of the same
    // content): nothing of it is lost when the change replaces it, so no copy is made either.
    if (inputHash && inputHash == hashOf(record->current()))
        return DocumentInfo::make(nullptr, input, output->withRev(input->rev()));
    // Likewise when it holds an earlier change of ours that the pending one was saved over: an
    // upload of it landed and its answer was lost. The pending change carries it on.
    if (const auto superseded = mSupersededChanges.find(identifier);
        inputHash && superseded != mSupersededChanges.end() && superseded->second.contains(*inputHash))
        return DocumentInfo::make(nullptr, input, output->withRev(input->rev()));

    // A remote change met a local one: the remote version becomes a new document, and the
    // local change, now based on the remote revision, replaces the remote file. The remote
    // version becomes the current copy the change starts from, so that a later revision of the
    // same content (another program touching the file before the upload) is known as such and
    // not kept as a second copy. The copy's record names the same file; files are only removed
    // when no record names them.
    keepAsConflictCopy(identifier, input);
    return DocumentInfo::make(nullptr, input, output->withRev(input->rev()));
}

void DropboxFolderManager::keepAsConflictCopy(const QString& identifier, const QVFileInfo::Ref& version)
{
    if (auto owner = delegate())
        owner->detectedDocumentConflict(identifier, this);
    mConflictCopyUnsaved = true;
    const QString copyIdentifier = DropboxFileNames::fileURLFromDropboxPath(
        DropboxFileNames::dropboxPathForFile(DropboxFileNames::createDropboxCRVXFileName()));
    setRecord(copyIdentifier, DocumentInfo::make(nullptr, nullptr, version));
    notifySummaryOfDownload(copyIdentifier, version);
}

bool DropboxFolderManager::saveConflictCopiesBeforeUploads()
{
    if (Scheduler::current().now() < mConflictCopySaveRetryAt)
        return false;
    mConflictCopyUnsaved = false;
    mState->hasPendingGeneralOperation = true;
    saveOrCreateLocalStatus([weak = weakSelf()](bool ok) {
        if (const auto self = weak.lock()) {
            self->mState->hasPendingGeneralOperation = false;
            // A failed write is tried again after a delayed save's wait, not at every turn; a
            // copy made during a write that landed still waits for the next one.
            if (!ok) {
                self->mConflictCopyUnsaved = true;
                self->mConflictCopySaveRetryAt = Scheduler::current().now() + SaveDelaySeconds;
            }
        }
    });
    return true;
}

bool DropboxFolderManager::action_resolveDocumentStates()
{
    if (mState->doWeHaveInitialDropboxFileStatus || !idle() || !loadedAndConnected())
        return false;
    for (const auto& entry : mState->docs) {
        const QString identifier = entry.first;
        const DocumentInfo::Ref old = entry.second;
        if (!old)
            continue;
        const DocumentInfo::Ref resolved = resolveLoadAndNotifyState(identifier, old);
        if (resolved == old)
            continue;
        setRecord(identifier, resolved);
        saveStatusLater();
        return true;
    }
    return false;
}

bool DropboxFolderManager::action_uploadDropboxChanges()
{
    if (!idle() || !loadedAndConnected() || !mState->doWeHaveInitialDropboxFileStatus)
        return false;
    // A conflict copy's file is the only copy of the remote version the change beside it is
    // about to replace: a kill after that upload and before the status file names the copy
    // would have the start-up clean-up remove it.
    if (mConflictCopyUnsaved)
        return saveConflictCopiesBeforeUploads();
    for (const auto& entry : mState->docs) {
        const QString identifier = entry.first;
        const DocumentInfo::Ref old = entry.second;
        if (!old || old->input() || !old->output())
            continue;
        if (mFolderPaths.contains(identifier) && QVFileInfo::hasFile(old->output())) {
            // An edit made since a folder took the document's path: it moves at once.
            moveOffFolder(identifier, old);
            saveStatusLater();
            return true;
        }
        // A change Dropbox keeps refusing waits out its back-off while the others go on.
        if (!mayAsk(writeStep(identifier)))
            continue;
        if (QVFileInfo::isDeleted(old->output()))
            doDeleteFromDropbox(identifier, old);
        else
            doUploadToDropbox(identifier, old);
        return true;
    }
    return false;
}

void DropboxFolderManager::doUploadToDropbox(const QString& identifier, const DocumentInfo::Ref& old)
{
    const QVFileInfo::Ref uploaded = old->output();
    const QString path = localManagedFile(*uploaded->name());
    if (!QFileInfo(path).isFile()) {
        // The change is gone: take the remote version again.
        setRecord(identifier, DocumentInfo::make(QVFileInfo::EMPTY(), old->current(), nullptr));
        saveStatusLater();
        return;
    }
    // A document not yet on Dropbox (a conflict copy, an adopted copy) whose content another
    // machine has put there meanwhile as a document of its own: both kept the same version.
    // Uploading it would make a second copy of it, so this one goes.
    if (!QVFileInfo::hasFile(old->current())) {
        const auto hash = DropboxContentHash::ofFile(path);
        if (hash && isKeptOnDropboxElsewhere(identifier, *hash)) {
            setRecord(identifier, DocumentInfo::make(nullptr, QVFileInfo::EMPTY(), nullptr));
            if (auto owner = delegate())
                owner->ideaDocumentDeleted(identifier, this);
            saveStatusLater();
            return;
        }
    }
    mState->hasPendingDropboxOperation = true;
    asking(writeStep(identifier));
    const auto weak = weakSelf();
    mServices.client->uploadFile(
        path, uploaded->rev(), DropboxFileNames::dropboxPathFromFileURL(identifier),
        [weak, identifier, uploaded](const UploadResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingDropboxOperation = false;
            self->answered(writeStep(identifier),
                           response.result == DropboxResult::Conflict ||
                               (response.result == DropboxResult::Done && response.rev));
            if (response.result == DropboxResult::Done && response.rev)
                DropboxSyncNotices::postDocumentSynced(self.get(), identifier);
            if (const DocumentInfo::Ref now = self->record(identifier)) {
                DocumentInfo::Ref after = updatedDocInfoAfterUploadResponse(uploaded, response, now);
                // The file went while its upload was on its way (the upload read it from an open
                // handle): Dropbox holds the change, this machine no copy of it. It is fetched
                // again rather than the document shown empty.
                if (QVFileInfo::refers(after->current(), *uploaded->name()) && !after->input() &&
                    !QFileInfo(self->localManagedFile(*uploaded->name())).isFile())
                    after = after->withInput(QVFileInfo::EMPTY());
                self->setRecord(identifier, after);
            }
            self->saveStatusLater();
            self->ensureRunnable();
        });
}

bool DropboxFolderManager::isKeptOnDropboxElsewhere(const QString& identifier,
                                                    const QString& contentHash) const
{
    for (const auto& [listed, version] : mListedVersions) {
        const auto& [rev, hash] = version;
        if (listed == identifier || hash != contentHash)
            continue;
        // Not one we have replaced since the listing (an upload of ours after it), nor one a
        // change of ours waits to replace.
        const DocumentInfo::Ref there = record(listed);
        if (!there || (!there->output() &&
                       (!there->current() || !there->current()->rev() || *there->current()->rev() == rev)))
            return true;
    }
    return false;
}

void DropboxFolderManager::doDeleteFromDropbox(const QString& identifier, const DocumentInfo::Ref& old)
{
    mState->hasPendingDropboxOperation = true;
    asking(writeStep(identifier));
    const auto weak = weakSelf();
    mServices.client->deleteFile(
        DropboxFileNames::dropboxPathFromFileURL(identifier), old->output()->rev(),
        [weak, identifier](const DeleteResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingDropboxOperation = false;
            self->answered(writeStep(identifier), response.result != DropboxResult::Failed);
            if (const DocumentInfo::Ref now = self->record(identifier))
                self->setRecord(identifier, updatedDocInfoAfterDeleteResponse(response, now));
            self->saveStatusLater();
            self->ensureRunnable();
        });
}

DocumentInfo::Ref DropboxFolderManager::updatedDocInfoAfterUploadResponse(const QVFileInfo::Ref& uploaded,
                                                                          const UploadResponse& response,
                                                                          const DocumentInfo::Ref& record)
{
    if (response.result == DropboxResult::Done && response.rev)
        return DocumentInfo::make(
            record->input(), uploaded->withRev(response.rev),
            updatedOutputAfterSuccessfulUpload(uploaded, *response.rev, record->output()));
    if (response.result == DropboxResult::Conflict)
        return record->withInput(QVFileInfo::EMPTY());
    return record;
}

QVFileInfo::Ref DropboxFolderManager::updatedOutputAfterSuccessfulUpload(const QVFileInfo::Ref& uploaded,
                                                                         const QString& rev,
                                                                         const QVFileInfo::Ref& output)
{
    if (QVFileInfo::areEqual(output, uploaded) || !output)
        return nullptr;
    if (uploaded && output->name() == uploaded->name())
        return output;
    if (uploaded && output->rev() == uploaded->rev())
        return output->withRev(rev);
    return output;
}

QVFileInfo::Ref DropboxFolderManager::updatedOutputAfterUploadFoundsFileDeleted(const QVFileInfo::Ref& output)
{
    return QVFileInfo::hasFile(output) ? QVFileInfo::make(output->name(), std::nullopt) : nullptr;
}

DocumentInfo::Ref DropboxFolderManager::updatedDocInfoAfterDeleteResponse(const DeleteResponse& response,
                                                                          const DocumentInfo::Ref& record)
{
    if (response.result == DropboxResult::Done)
        return DocumentInfo::make(record->input(), QVFileInfo::EMPTY(),
                                  updatedOutputAfterUploadFoundsFileDeleted(record->output()));
    if (response.result == DropboxResult::Conflict)
        return record->withInput(QVFileInfo::EMPTY());
    return record;
}

} // namespace corvex
