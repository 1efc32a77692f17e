// A folder where a document of the Dropbox mode was: another program made one at the
// document's path. The path is not asked about again while the folder stays; a local edit of
// the document moves to a conflict copy's name, and the index names that instead.

#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManager.h"

#include "platform/core/Log.h"
#include "storage/AttachmentNames.h"
#include "storage/IndexJSONDocument.h"
#include "storage/PersistenceStateDelegate.h"

#include <QUrl>

namespace corvex {

void DropboxFolderManager::folderTookThePlaceOf(QString identifier, DocumentInfo::Ref old)
{
    if (QVFileInfo::hasFile(old->output())) {
        moveOffFolder(identifier, old);
        return;
    }
    if (!mFolderPaths.contains(identifier)) {
        mFolderPaths.insert(identifier);
        Log::warning(
            QStringLiteral("Dropbox: a folder stands at %1; the document is kept here as it was")
                .arg(AttachmentNames::printable(DropboxFileNames::dropboxPathFromFileURL(identifier))));
        // (A document the user deleted here has nothing left to tell about.)
        if (!QVFileInfo::isDeleted(old->output()))
            tellDocumentNotSynced(identifier, true, identifier, old->current());
    }
    // A deletion waiting there has nothing left to delete.
    setRecord(identifier, QVFileInfo::isDeleted(old->output())
                              ? DocumentInfo::make(nullptr, QVFileInfo::EMPTY(), nullptr)
                              : old->withInput(nullptr));
}

void DropboxFolderManager::moveOffFolder(QString identifier, DocumentInfo::Ref old)
{
    const QString moved = DropboxFileNames::fileURLFromDropboxPath(
        DropboxFileNames::dropboxPathForFile(DropboxFileNames::createDropboxCRVXFileName()));
    // Uploaded as a new file: the name is new, so nothing on Dropbox is replaced.
    const QVFileInfo::Ref edit = QVFileInfo::make(*old->output()->name(), std::nullopt);
    mFolderPaths.insert(identifier);
    mState->docs.erase(identifier);
    setRecord(moved, DocumentInfo::make(nullptr, nullptr, edit));
    Log::warning(QStringLiteral("Dropbox: a folder stands at %1; the document's local edit moves to %2")
                     .arg(AttachmentNames::printable(DropboxFileNames::dropboxPathFromFileURL(identifier)),
                          AttachmentNames::printable(DropboxFileNames::dropboxPathFromFileURL(moved))));
    tellDocumentNotSynced(identifier, true, moved, edit);
    if (auto owner = delegate())
        owner->ideaDocumentDeleted(identifier, this);
    const auto weak = weakSelf();
    notifySummaryOfDownload(moved, edit, [weak, identifier](const IdeaProxyPtr& proxy) {
        if (auto self = weak.lock())
            self->pointIndexAt(identifier, proxy);
    });
}

void DropboxFolderManager::pointIndexAt(const QString& from, const IdeaProxyPtr& proxy)
{
    // A copy: the workspace goes on changing its own.
    const IdeaProxyPtr taking = IdeaProxy::initWithProxy(*proxy);
    const auto weak = weakSelf();
    queueTask(
        [weak, from, taking](const TaskDone& done) {
            auto self = weak.lock();
            const DocumentInfo::Ref record = self ? self->mState->indexDocumentInfo : nullptr;
            const QVFileInfo::Ref newest =
                record ? QVFileInfo::firstNonNull(record->output(), record->current()) : nullptr;
            if (!QVFileInfo::hasFile(newest)) {
                // No local index yet: the first one the workspace saves holds the document.
                done({});
                return;
            }
            auto index = IndexJSONDocument::initWithFileURL(
                QUrl::fromLocalFile(self->localManagedFile(*newest->name())));
            index->readJSONWithCompletionHandler([weak, index, from, taking, done](bool read) {
                auto self = weak.lock();
                if (!self || !read) {
                    done({});
                    return;
                }
                std::vector<IdeaProxyPtr> proxies;
                bool placed = false;
                for (const IdeaProxyPtr& listed : index->ideaProxyList()) {
                    if (!listed || listed->fileURL() == taking->fileURL())
                        continue;
                    if (listed->fileURL() != from) {
                        proxies.push_back(listed);
                    } else if (!placed) {
                        proxies.push_back(taking);
                        placed = true;
                    }
                }
                if (!placed)
                    proxies.push_back(taking);
                const QString name = self->unusedLocalName(&DropboxFileNames::createLocalIndexFileName);
                const QUrl url = QUrl::fromLocalFile(self->localManagedFile(name));
                auto rewritten = IndexJSONDocument::initWithFileURL(url);
                rewritten->setIdeaProxyList(std::move(proxies));
                rewritten->saveJSONToURL(url, [weak, rewritten, name, done](bool ok) {
                    if (auto self = weak.lock(); self && ok) {
                        DocumentInfo::Ref& indexRecord = self->mState->indexDocumentInfo;
                        indexRecord = indexRecord->withOutput(
                            QVFileInfo::make(name, localRevFromDocumentInfo(indexRecord)));
                    }
                    done({});
                });
            });
        },
        {});
}

} // namespace corvex
