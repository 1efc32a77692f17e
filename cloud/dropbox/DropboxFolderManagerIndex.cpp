// The index file of the Dropbox mode: the local copy made available, summaries the index
// lacks, a newer remote index taken in, the local index uploaded.

#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"

#include "model/Globals.h"
#include "platform/core/Log.h"
#include "storage/IndexDocument.h"
#include "storage/IndexJSONDocument.h"
#include "storage/PersistenceStateDelegate.h"

#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace corvex {

namespace {

const QString IndexDownloadStep = QStringLiteral("index download");
const QString IndexUploadStep = QStringLiteral("index upload");

} // namespace

bool DropboxFolderManager::action_ensureIndexDocumentAvailability()
{
    if (mState->hasPendingGeneralOperation || !mState->isLocalStatusFileLoaded ||
        mState->isIndexDocumentAvailable)
        return false;
    const QVFileInfo::Ref newest =
        QVFileInfo::firstNonNull(mState->indexDocumentInfo->output(), mState->indexDocumentInfo->current());
    mState->hasPendingGeneralOperation = true;
    const auto weak = weakSelf();
    if (!QVFileInfo::hasFile(newest)) {
        const QString name = unusedLocalName(&DropboxFileNames::createLocalIndexFileName);
        const QUrl url = QUrl::fromLocalFile(localManagedFile(name));
        auto index = IndexJSONDocument::initWithFileURL(url);
        index->setIdeaProxyList({});
        index->saveJSONToURL(url, [weak, index, name](bool ok) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingGeneralOperation = false;
            if (ok) {
                DocumentInfo::Ref& record = self->mState->indexDocumentInfo;
                record = record->withOutput(QVFileInfo::make(name, std::nullopt));
                self->indexDocumentAvailable(index);
                self->saveStatusLater();
            } else {
                Globals::raiseCorvexURLError(QStringLiteral(
                    "DropboxFolderManager got stuck in action_ensureIndexDocumentAvailability:"));
            }
            self->ensureRunnable();
        });
        return true;
    }
    auto index = IndexJSONDocument::initWithFileURL(QUrl::fromLocalFile(localManagedFile(*newest->name())));
    index->readJSONWithCompletionHandler([weak, index, newest](bool ok) {
        auto self = weak.lock();
        if (!self)
            return;
        self->mState->hasPendingGeneralOperation = false;
        DocumentInfo::Ref& record = self->mState->indexDocumentInfo;
        if (ok) {
            self->indexDocumentAvailable(index);
        } else if (record->output() == newest) {
            record = record->withOutput(nullptr);
        } else if (record->current() == newest) {
            record = record->withCurrent(nullptr);
        }
        self->saveStatusLater();
        self->ensureRunnable();
    });
    return true;
}

void DropboxFolderManager::indexDocumentAvailable(const std::shared_ptr<IndexJSONDocument>& index)
{
    mState->isIndexDocumentAvailable = true;
    if (auto owner = delegate())
        owner->observeProxyList(index->ideaProxyList(), this);
    ensureNewLocalDocumentsToBeLoadedAsProxies(index->ideaProxyList());
}

void DropboxFolderManager::ensureNewLocalDocumentsToBeLoadedAsProxies(
    const std::vector<IdeaProxyPtr>& proxies)
{
    QSet<QString> listed;
    for (const IdeaProxyPtr& proxy : proxies)
        if (proxy)
            listed.insert(proxy->fileURL());
    for (const auto& entry : mState->docs)
        if (!listed.contains(entry.first))
            mState->documentsToLoadAsProxies.insert(entry.first);
}

bool DropboxFolderManager::action_loadMissingProxies()
{
    if (!idle() || !mState->isLocalStatusFileLoaded || !mState->isIndexDocumentAvailable ||
        mState->documentsToLoadAsProxies.isEmpty())
        return false;
    const QString identifier = *mState->documentsToLoadAsProxies.begin();
    mState->documentsToLoadAsProxies.remove(identifier);
    if (const DocumentInfo::Ref found = record(identifier)) {
        const QVFileInfo::Ref& newest = QVFileInfo::firstNonNull(found->output(), found->current());
        if (QVFileInfo::hasFile(newest))
            loadDocumentAndNotifyProxy(identifier, newest);
    }
    return true;
}

DocumentInfo::Ref DropboxFolderManager::resolveIndexDocumentState(const DocumentInfo::Ref& record)
{
    const QVFileInfo::Ref& input = record->input();
    if (!QVFileInfo::hasFile(input))
        return record;
    if (record->output() && record->output()->rev() == input->rev())
        return record->withInput(nullptr);
    return DocumentInfo::make(nullptr, input, nullptr);
}

bool DropboxFolderManager::action_resolveIndexFileState()
{
    if (!idle() || !loadedAndConnected() || !mState->doWeHaveInitialDropboxFileStatus ||
        !mState->isIndexDocumentAvailable || !QVFileInfo::hasFile(mState->indexDocumentInfo->input()))
        return false;
    const DocumentInfo::Ref old = mState->indexDocumentInfo;
    const DocumentInfo::Ref resolved = resolveIndexDocumentState(old);
    mState->hasPendingGeneralOperation = true;
    mState->indexDocumentInfo = resolved;
    const auto weak = weakSelf();
    if (QVFileInfo::areRevEqual(resolved->current(), old->input()) &&
        !QVFileInfo::areRevEqual(old->input(), old->current())) {
        // The remote index has become the current one.
        auto index = IndexJSONDocument::initWithFileURL(
            QUrl::fromLocalFile(localManagedFile(*resolved->current()->name())));
        index->readJSONWithCompletionHandler([weak, index, old, resolved](bool ok) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingGeneralOperation = false;
            if (ok) {
                self->mNewerFormatIndexRev.reset();
                if (auto owner = self->delegate())
                    owner->observeProxyList(index->ideaProxyList(), self.get());
                self->ensureNewLocalDocumentsToBeLoadedAsProxies(index->ideaProxyList());
            } else {
                self->remoteIndexUnreadable(old, resolved, *index);
            }
            self->saveStatusLater();
            self->ensureRunnable();
        });
        return true;
    }
    saveOrCreateLocalStatus([weak](bool) {
        if (auto self = weak.lock())
            self->mState->hasPendingGeneralOperation = false;
    });
    return true;
}

void DropboxFolderManager::remoteIndexUnreadable(const DocumentInfo::Ref& before,
                                                 const DocumentInfo::Ref& resolved,
                                                 const IndexJSONDocument& index)
{
    const std::optional<QString> remoteRev = resolved->current()->rev();
    const Error& error = index.lastReadError();
    if (error.domain() == IndexDocument::ErrorDomain &&
        error.code() == IndexDocument::VersionTooNewErrorCode) {
        // Written by a newer program: ours must not replace it, and the documents go on
        // without it.
        Log::warning(
            QStringLiteral("Dropbox: the index on Dropbox is of a newer format; it is left as it is"));
        mNewerFormatIndexRev = remoteRev;
        mState->indexDocumentInfo = before->withInput(nullptr);
        return;
    }
    // Damaged: the local index takes its place, uploaded over the revision it replaces (an
    // upload as a new file would only meet a conflict and fetch the damaged one again).
    const QVFileInfo::Ref local = QVFileInfo::firstNonNull(before->output(), before->current());
    Log::warning(QStringLiteral("Dropbox: the index on Dropbox cannot be read; the local one replaces it"));
    if (!QVFileInfo::hasFile(local)) {
        mState->indexDocumentInfo = before->withInput(nullptr);
        return;
    }
    const QVFileInfo::Ref current = before->current() ? before->current()->withRev(remoteRev) : nullptr;
    mState->indexDocumentInfo = DocumentInfo::make(nullptr, current, local->withRev(remoteRev));
}

bool DropboxFolderManager::action_downloadIndexFileFromDropbox()
{
    if (!idle() || !loadedAndConnected() || !QVFileInfo::isEmpty(mState->indexDocumentInfo->input()) ||
        !mayAsk(IndexDownloadStep))
        return false;
    mState->hasPendingDropboxOperation = true;
    asking(IndexDownloadStep);
    const QString name = unusedLocalName(&DropboxFileNames::createLocalIndexFileName);
    const auto weak = weakSelf();
    mServices.client->downloadFile(
        DropboxFileNames::createDropboxIndexFilePath(), localManagedFile(name),
        [weak, name](const DownloadResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingDropboxOperation = false;
            DocumentInfo::Ref& record = self->mState->indexDocumentInfo;
            const bool got = response.result == DropboxResult::Done && response.rev;
            self->answered(IndexDownloadStep, got || response.result == DropboxResult::NotFound);
            if (response.damaged)
                self->noteDamagedDownload(DropboxFileNames::createDropboxIndexFilePath());
            record = record->withInput(got ? QVFileInfo::make(name, response.rev) : nullptr);
            self->saveStatusLater();
            self->ensureRunnable();
        });
    return false;
}

bool DropboxFolderManager::action_uploadIndexFileToDropbox()
{
    const DocumentInfo::Ref& record = mState->indexDocumentInfo;
    if (!idle() || !loadedAndConnected() || !mState->doWeHaveInitialDropboxFileStatus || record->input() ||
        !QVFileInfo::hasFile(record->output()) || mNewerFormatIndexRev || !mayAsk(IndexUploadStep))
        return false;
    const QVFileInfo::Ref uploaded = record->output();
    const QString path = localManagedFile(*uploaded->name());
    if (!QFileInfo(path).isFile())
        return false;
    mState->hasPendingDropboxOperation = true;
    asking(IndexUploadStep);
    tellDelegateAboutSync();
    const auto weak = weakSelf();
    mServices.client->uploadFile(
        path, uploaded->rev(), DropboxFileNames::createDropboxIndexFilePath(),
        [weak, uploaded](const UploadResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingDropboxOperation = false;
            self->answered(IndexUploadStep, response.result == DropboxResult::Conflict ||
                                                (response.result == DropboxResult::Done && response.rev));
            DocumentInfo::Ref& now = self->mState->indexDocumentInfo;
            now = updatedDocInfoAfterUploadResponse(uploaded, response, now);
            self->saveStatusLater();
            self->ensureRunnable();
        });
    return true;
}

} // namespace corvex
