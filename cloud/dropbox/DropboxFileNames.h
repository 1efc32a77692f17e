#pragma once

#include <QString>

namespace corvex {

// The names the Dropbox location makes and takes: local copies and conflict copies from one
// process-wide counter (the first name made gets 1), and the remote paths inside the
// application's Dropbox folder. Remote and local attachment names pass a check before they
// become local paths or uploads. Any thread.
class DropboxFileNames
{
public:
    DropboxFileNames() = delete;

    static const QString IndexFileName;         // "corvex.index"
    static const QString RemoteAttachmentsPath; // "/attachments"

    // "file<ms>_<n>.crvx", "download<ms>_<n>.crvx", "file<ms>_<n>.index", "id<ms>_<n>.crvx":
    // <ms> the wall clock in milliseconds since 1970, <n> the shared counter. A document's
    // local copy is a "download" when it came from Dropbox, so that a lost status file still
    // tells it from a copy saved here.
    static QString createLocalCRVXFileName();
    static QString createLocalDownloadFileName();
    static QString createLocalIndexFileName();
    static QString createDropboxCRVXFileName();

    // "/<name>".
    static QString dropboxPathForFile(const QString& name);
    static QString createDropboxIndexFilePath();
    // "/" and the identifier's last path component.
    static QString dropboxPathFromFileURL(const QString& docIdentifier);
    // "/attachments/<name>".
    static QString dropboxPathForAttachment(const QString& name);
    // "dropbox:<path>": the identifier of location 3.
    static QString fileURLFromDropboxPath(const QString& path);

    // A listed document's name may become a local identifier: one plain component, not
    // hidden, ending in ".crvx".
    static bool isAcceptableDocumentPath(const QString& path);
    // An attachment name may be uploaded or downloaded: of the ObjectID form with one point.
    static bool isAcceptableAttachmentName(const QString& name);
};

} // namespace corvex
