// Attachments of the Dropbox mode: stored into the upload folder, served from either local
// folder or fetched on demand, and synchronised by name in the loop's last four actions.

#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"

#include "model/ObjectID.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/Scheduler.h"
#include "storage/AttachmentNames.h"
#include "storage/ExecuteBlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvex {

namespace {

// The file's bytes; null when it is missing or unreadable.
QByteArray readAttachmentFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

const QString AttachmentFolderStep = QStringLiteral("attachments folder");
const QString AttachmentListStep = QStringLiteral("attachments list");
const QString AttachmentDownloadStep = QStringLiteral("attachments download");
const QString AttachmentUploadStep = QStringLiteral("attachments upload");

QString attachmentStep(const QString& name)
{
    return QStringLiteral("attachment ") + name;
}

} // namespace

void DropboxFolderManager::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                           StoreCompletion completion)
{
    if (data.isNull()) {
        Log::assertionFailure(StoreAttachmentAssertionLine,
                              "-[DropboxFolderManager storeAttachment:withData:onCompletion:]");
        completion(false);
        return;
    }
    if (!AttachmentNames::isAcceptable(attachment)) {
        completion(false);
        return;
    }
    const QString path = localUploadFolder() + QLatin1Char('/') + attachment.asString();
    const auto weak = weakSelf();
    GlobalQueue::async([weak, path, data, completion = std::move(completion)]() mutable {
        const bool ok = SaveFile::writeAtomically(path, data).ok();
        MainQueue::post([weak, ok, completion = std::move(completion)]() mutable {
            if (ok) {
                if (auto self = weak.lock()) {
                    self->mState->attachmentSyncState = AttachmentSyncState::ListRemote;
                    self->ensureRunnable();
                }
            } else {
                Log::assertionFailure(QStringLiteral("storeAttachment"));
            }
            completion(ok);
        });
    });
}

void DropboxFolderManager::provideAttachment(const ObjectID& attachment, ProvideCompletion completion)
{
    if (!AttachmentNames::isAcceptable(attachment)) {
        completion(QByteArray());
        return;
    }
    const QString name = attachment.asString();
    const auto weak = weakSelf();
    fetchLocalAttachment(name,
                         [weak, name, completion = std::move(completion)](const QByteArray& bytes) mutable {
                             auto self = weak.lock();
                             if (!bytes.isNull() || !self) {
                                 completion(bytes);
                                 return;
                             }
                             self->downloadAttachment(name, std::move(completion));
                         });
}

void DropboxFolderManager::fetchLocalAttachment(const QString& name, ProvideCompletion completion)
{
    const QString upload = localUploadFolder() + QLatin1Char('/') + name;
    const QString local = localAttachmentsFolder() + QLatin1Char('/') + name;
    const auto weak = weakSelf();
    GlobalQueue::async([weak, upload, local, completion = std::move(completion)]() mutable {
        const bool inUpload = QFileInfo(upload).isFile();
        const bool found = inUpload || QFileInfo(local).isFile();
        const QByteArray bytes = found ? readAttachmentFile(inUpload ? upload : local) : QByteArray();
        MainQueue::post([weak, found, bytes, completion = std::move(completion)]() mutable {
            if (!found) {
                if (auto self = weak.lock()) {
                    AttachmentSyncState& syncState = self->mState->attachmentSyncState;
                    if (syncState == AttachmentSyncState::Done || syncState == AttachmentSyncState::Failed) {
                        syncState = AttachmentSyncState::ListRemote;
                        self->ensureRunnable();
                    }
                }
            }
            completion(bytes);
        });
    });
}

void DropboxFolderManager::downloadAttachment(const QString& name, ProvideCompletion completion)
{
    auto step = ExecuteBlock::create();
    const double started = Scheduler::current().now();
    const auto weak = weakSelf();
    std::weak_ptr<ExecuteBlock> weakStep = step;
    // The block runs again while the loop is busy: the answer is shared by its rounds.
    auto answer = std::make_shared<ProvideCompletion>(std::move(completion));
    step->executeBlock([weak, weakStep, name, answer, started] {
        auto self = weak.lock();
        auto repeat = weakStep.lock();
        if (!repeat)
            return;
        const auto giveUp = [&] {
            repeat->markDone();
            (*answer)(QByteArray());
        };
        // Without connection, or while a failed fetch of it waits out its back-off: no answer
        // to wait for.
        if (!self || self->mLeft || !self->mayAsk(attachmentStep(name)) ||
            Scheduler::current().now() - started >= AttachmentWaitLimitSeconds) {
            giveUp();
            return;
        }
        if (!self->idle()) {
            repeat->repeatAsyncAfterDelay(AttachmentRetrySeconds);
            return;
        }
        self->mState->hasPendingGeneralOperation = true;
        self->mState->hasPendingDropboxOperation = true;
        self->asking(attachmentStep(name));
        const QString target = self->localAttachmentsFolder() + QLatin1Char('/') + name;
        self->mServices.client->downloadFile(
            DropboxFileNames::dropboxPathForAttachment(name), target,
            [weak, repeat, name, target, answer](const DownloadResponse& response) {
                repeat->markDone();
                if (auto again = weak.lock()) {
                    again->mState->hasPendingGeneralOperation = false;
                    again->mState->hasPendingDropboxOperation = false;
                    again->answered(attachmentStep(name), response.result == DropboxResult::Done);
                    again->ensureRunnable();
                }
                (*answer)(response.result == DropboxResult::Done ? readAttachmentFile(target) : QByteArray());
            });
    });
}

QSet<QString> DropboxFolderManager::listFilenamesInFolder(const QString& folder) const
{
    QSet<QString> names;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (DropboxFileNames::isAcceptableAttachmentName(name))
            names.insert(name);
    return names;
}

bool DropboxFolderManager::action_ensureAttachmentFolder()
{
    if (!idle() || mState->hasEnsuredAttachmentFolder || !mayAsk(AttachmentFolderStep))
        return false;
    mState->hasPendingGeneralOperation = true;
    mState->hasPendingDropboxOperation = true;
    asking(AttachmentFolderStep);
    const auto weak = weakSelf();
    mServices.client->ensureFolder(
        DropboxFileNames::RemoteAttachmentsPath, [weak](const EnsureFolderResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingGeneralOperation = false;
            self->mState->hasPendingDropboxOperation = false;
            self->answered(AttachmentFolderStep, response.result == DropboxResult::Done);
            if (response.result == DropboxResult::Done)
                self->mState->hasEnsuredAttachmentFolder = true;
            self->ensureRunnable();
        });
    return true;
}

bool DropboxFolderManager::action_listDropboxAttachments()
{
    if (!idle() || !mState->hasEnsuredAttachmentFolder ||
        mState->attachmentSyncState != AttachmentSyncState::ListRemote || !mayAsk(AttachmentListStep))
        return false;
    mState->hasPendingDropboxOperation = true;
    asking(AttachmentListStep);
    const auto weak = weakSelf();
    mServices.client->listFolderContents(
        DropboxFileNames::RemoteAttachmentsPath, [weak](const ListFolderResponse& response) {
            auto self = weak.lock();
            if (!self)
                return;
            self->mState->hasPendingDropboxOperation = false;
            self->answered(AttachmentListStep, response.result == DropboxResult::Done && response.entries);
            if (response.result == DropboxResult::Done && response.entries) {
                QSet<QString> names;
                for (const FileMetadata& entry : *response.entries) {
                    const QString name = entry.path.mid(entry.path.lastIndexOf(QLatin1Char('/')) + 1);
                    // Only names a document can ask for become local file names.
                    if (DropboxFileNames::isAcceptableAttachmentName(name))
                        names.insert(name);
                }
                self->mState->remoteAttachments = std::move(names);
                self->mState->attachmentSyncState = AttachmentSyncState::Listed;
            } else {
                self->mState->attachmentSyncState = AttachmentSyncState::Failed;
            }
            self->ensureRunnable();
        });
    return true;
}

bool DropboxFolderManager::action_downloadDropboxAttachments()
{
    if (!idle() || !mState->hasEnsuredAttachmentFolder ||
        mState->attachmentSyncState != AttachmentSyncState::Listed || !mayAsk(AttachmentDownloadStep))
        return false;
    const QSet<QString> local = listFilenamesInFolder(localAttachmentsFolder());
    const QSet<QString> remote = mState->remoteAttachments.value_or(QSet<QString>());
    for (const QString& name : remote) {
        if (local.contains(name))
            continue;
        mState->hasPendingGeneralOperation = true;
        mState->hasPendingDropboxOperation = true;
        asking(AttachmentDownloadStep);
        const auto weak = weakSelf();
        mServices.client->downloadFile(
            DropboxFileNames::dropboxPathForAttachment(name),
            localAttachmentsFolder() + QLatin1Char('/') + name, [weak](const DownloadResponse& response) {
                auto self = weak.lock();
                if (!self)
                    return;
                self->mState->hasPendingGeneralOperation = false;
                self->mState->hasPendingDropboxOperation = false;
                self->answered(AttachmentDownloadStep, response.result == DropboxResult::Done);
                if (response.result != DropboxResult::Done)
                    self->mState->attachmentSyncState = AttachmentSyncState::Failed;
                self->ensureRunnable();
            });
        return true;
    }
    mState->attachmentSyncState = AttachmentSyncState::Downloaded;
    return true;
}

bool DropboxFolderManager::action_uploadDropboxAttachments()
{
    if (!idle() || !mState->hasEnsuredAttachmentFolder ||
        mState->attachmentSyncState != AttachmentSyncState::Downloaded || !mayAsk(AttachmentUploadStep))
        return false;
    const QSet<QString> remote = mState->remoteAttachments.value_or(QSet<QString>());
    for (const QString& name : listFilenamesInFolder(localUploadFolder())) {
        if (remote.contains(name))
            continue;
        mState->hasPendingGeneralOperation = true;
        mState->hasPendingDropboxOperation = true;
        const QString source = localUploadFolder() + QLatin1Char('/') + name;
        const QString target = localAttachmentsFolder() + QLatin1Char('/') + name;
        asking(AttachmentUploadStep);
        const auto weak = weakSelf();
        mServices.client->uploadFile(source, std::nullopt, DropboxFileNames::dropboxPathForAttachment(name),
                                     [weak, name, source, target](const UploadResponse& response) {
                                         auto self = weak.lock();
                                         if (!self)
                                             return;
                                         self->mState->hasPendingGeneralOperation = false;
                                         self->mState->hasPendingDropboxOperation = false;
                                         self->answered(AttachmentUploadStep,
                                                        response.result == DropboxResult::Done);
                                         if (response.result == DropboxResult::Done) {
                                             QFile::rename(source, target);
                                             // Known remote now, so a move that failed does not upload it
                                             // again.
                                             if (!self->mState->remoteAttachments)
                                                 self->mState->remoteAttachments = QSet<QString>();
                                             self->mState->remoteAttachments->insert(name);
                                         } else {
                                             self->mState->attachmentSyncState = AttachmentSyncState::Failed;
                                         }
                                         self->ensureRunnable();
                                     });
        return true;
    }
    mState->attachmentSyncState = AttachmentSyncState::Done;
    return true;
}

} // namespace corvex
