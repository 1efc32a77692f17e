#pragma once

#include "cloud/dropbox/DocumentInfo.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// Where the background pass over the attachments stands. The numbers are the pass's own
// codes: only ListRemote and Failed let a missing local file start a new pass.
enum class AttachmentSyncState : std::int64_t
{
    ListRemote = 0, // the remote attachments are to be listed (again)
    Failed = 1,     // a step failed; a pass starts again when asked for a missing file
    Listed = 3,     // listed: missing ones are downloaded next
    Downloaded = 5, // downloads done: local ones not remote yet are uploaded next
    Done = 7,       // the pass finished
};

// The whole state of one Dropbox location, owned by its mode and changed on the main queue
// only. Only fileFormatVersion, indexDocumentInfo and docs are persisted, in the status file
// "corvex.local.status" (DropboxStatusCoding); everything else starts from its default.
struct DropboxFolderManagerState
{
    // The mode's queued storage tasks: this state only keeps, copies and counts them.
    using QueuedTask = std::shared_ptr<void>;
    using DocumentMap = std::map<QString, DocumentInfo::Ref>;

    bool networkCheckPending = false;
    bool statusSavePending = false;
    bool perhapsDropboxConnection = true;
    bool hasEnsuredAttachmentFolder = false;
    bool doWeHaveInitialDropboxFolderListing = false;
    bool pollFolderASAP = false;
    bool doWeHaveInitialDropboxFileStatus = false;
    bool hasPendingGeneralOperation = false;
    bool hasPendingDropboxOperation = false;
    bool isLocalStatusFileLoaded = false;
    bool isIndexDocumentAvailable = false;
    AttachmentSyncState attachmentSyncState = AttachmentSyncState::ListRemote;
    std::optional<QSet<QString>> remoteAttachments;
    DocumentInfo::Ref indexDocumentInfo = DocumentInfo::make(QVFileInfo::EMPTY(), nullptr, nullptr);
    std::optional<QString> fileFormatVersion = QStringLiteral("1");
    QStringList filesBeingAccessedByLoad;
    std::vector<QueuedTask> tasksToExecute;
    QSet<QString> documentsToLoadAsProxies;
    QSet<QString> filesToReallyDelete;
    DocumentMap docs;

    // A snapshot for saving: the flags a save keeps, the same records, collections of its own.
    static DropboxFolderManagerState copyForSaving(const DropboxFolderManagerState& state);
    // Same keys, and records equal by identity.
    static bool areEqual(const DocumentMap& a, const DocumentMap& b);
    bool isMostlyEqualTo(const DropboxFolderManagerState* other) const;

    // The status file's content.
    QByteArray exportAsData() const;
    // Replaces the file whole (SaveFile); false with the old file left as it was.
    [[nodiscard]] bool writeAtomicallyToURL(const QString& path) const;
    // The state of a status file; nothing when the path is empty, the file is missing or
    // unreadable, or its content is no status file.
    static std::optional<DropboxFolderManagerState> readFrom(const QString& path);
};

} // namespace corvex
