#pragma once

#include "platform/core/NotificationCenter.h"

#include <QString>
#include <optional>

namespace corvex {

// What the Dropbox location tells the user about, posted by the mode (as sender) on the
// default notification center, once per cause: the mode posts again only after the cause
// changed (a new sign-in, a file again where a folder was, a download that came whole).
// - "DropboxAccessLostNotification": the service refuses the account's token; nothing is
//   synced until the user connects again.
// - "DropboxDocumentNotSyncedNotification": one document cannot be synced; its user info is
//   a DocumentNotSynced.
// - "DropboxDocumentSyncedNotification": a document's download or upload went through whole,
//   so whatever held it back is over (a later stop is news again); posted at each one, its
//   user info the document's identifier (documentSynced).
// The rest of the location keeps syncing in both cases but the first. Main thread only.
class DropboxSyncNotices
{
public:
    static const QString AccessLostNotification;
    static const QString DocumentNotSyncedNotification;
    static const QString DocumentSyncedNotification;

    struct DocumentNotSynced
    {
        enum class Reason
        {
            FolderAtPath,  // another program made a folder where the document was
            DamagedContent // every download's content differs from the service's own hash
        };
        Reason reason = Reason::FolderAtPath;
        QString document;     // the document's identifier ("dropbox:/id…crvx")
        QString remotePath;   // its path in the application folder
        QString copyDocument; // the document that holds the copy now (itself, or a new one)
        QString copyFile;     // the copy's file on this computer; empty when there is none
    };

    static void postAccessLost(const void* sender);
    static void postDocumentNotSynced(const void* sender, const DocumentNotSynced& notice);
    static void postDocumentSynced(const void* sender, const QString& document);
    // The notice of a DocumentNotSyncedNotification; nothing for any other notification.
    static std::optional<DocumentNotSynced> documentNotSynced(const NotificationCenter::Notification& note);
    // The document of a DocumentSyncedNotification; nothing for any other notification.
    static std::optional<QString> documentSynced(const NotificationCenter::Notification& note);
};

} // namespace corvex
