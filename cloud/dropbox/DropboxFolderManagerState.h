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
    // 0 list the remote attachments, 1 a step failed, 3 listed, 5 downloads done, 7 done.
    std::int64_t attachmentSyncState = 0;
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
