#include "cloud/dropbox/DropboxFolderManagerState.h"

#include "cloud/dropbox/DropboxStatusCoding.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"

namespace corvex {

namespace {

// A status file holds a few records per document: far below this.
constexpr qint64 MaxStatusFileBytes = qint64(256) * 1024 * 1024;

} // namespace

DropboxFolderManagerState DropboxFolderManagerState::copyForSaving(const DropboxFolderManagerState& state)
{
    DropboxFolderManagerState copy;
    copy.perhapsDropboxConnection = state.perhapsDropboxConnection;
    copy.pollFolderASAP = state.pollFolderASAP;
    copy.doWeHaveInitialDropboxFileStatus = state.doWeHaveInitialDropboxFileStatus;
    copy.hasPendingGeneralOperation = state.hasPendingGeneralOperation;
    copy.hasPendingDropboxOperation = state.hasPendingDropboxOperation;
    copy.isLocalStatusFileLoaded = state.isLocalStatusFileLoaded;
    copy.isIndexDocumentAvailable = state.isIndexDocumentAvailable;
    copy.fileFormatVersion = state.fileFormatVersion;
    copy.indexDocumentInfo = state.indexDocumentInfo;
    copy.docs = state.docs;
    copy.filesBeingAccessedByLoad = state.filesBeingAccessedByLoad;
    copy.tasksToExecute = state.tasksToExecute;
    copy.documentsToLoadAsProxies = state.documentsToLoadAsProxies;
    copy.filesToReallyDelete = state.filesToReallyDelete;
    return copy;
}

bool DropboxFolderManagerState::areEqual(const DocumentMap& a, const DocumentMap& b)
{
    return a == b;
}

bool DropboxFolderManagerState::isMostlyEqualTo(const DropboxFolderManagerState* other) const
{
    if (!other)
        return false;
    return perhapsDropboxConnection == other->perhapsDropboxConnection &&
           pollFolderASAP == other->pollFolderASAP &&
           doWeHaveInitialDropboxFileStatus == other->doWeHaveInitialDropboxFileStatus &&
           hasPendingGeneralOperation == other->hasPendingGeneralOperation &&
           hasPendingDropboxOperation == other->hasPendingDropboxOperation &&
           isLocalStatusFileLoaded == other->isLocalStatusFileLoaded &&
           isIndexDocumentAvailable == other->isIndexDocumentAvailable &&
           fileFormatVersion == other->fileFormatVersion && indexDocumentInfo == other->indexDocumentInfo &&
           areEqual(docs, other->docs) &&
           filesBeingAccessedByLoad.size() == other->filesBeingAccessedByLoad.size() &&
           tasksToExecute.size() == other->tasksToExecute.size() &&
           documentsToLoadAsProxies.size() == other->documentsToLoadAsProxies.size() &&
           filesToReallyDelete.size() == other->filesToReallyDelete.size();
}

QByteArray DropboxFolderManagerState::exportAsData() const
{
    return DropboxStatusCoding::encode({fileFormatVersion, indexDocumentInfo, docs});
}

bool DropboxFolderManagerState::writeAtomicallyToURL(const QString& path) const
{
    const Status written = SaveFile::writeAtomically(path, exportAsData());
    if (!written)
        Log::warning(QStringLiteral("Dropbox status file not written: ") +
                     written.error().localizedDescription());
    return written.ok();
}

std::optional<DropboxFolderManagerState> DropboxFolderManagerState::readFrom(const QString& path)
{
    if (path.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("DropboxFolderManagerState:readFrom"));
        return std::nullopt;
    }
    const Result<QByteArray> bytes = WholeFileReader::read(path, MaxStatusFileBytes);
    if (!bytes)
        return std::nullopt;
    std::optional<DropboxStatusCoding::Persisted> persisted = DropboxStatusCoding::decode(bytes.value());
    if (!persisted)
        return std::nullopt;
    DropboxFolderManagerState state;
    state.fileFormatVersion = std::move(persisted->fileFormatVersion);
    state.indexDocumentInfo = std::move(persisted->index);
    state.docs = std::move(persisted->docs);
    return state;
}

} // namespace corvex
