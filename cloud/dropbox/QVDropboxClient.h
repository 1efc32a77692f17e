#pragma once

#include "cloud/dropbox/DropboxResponses.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class DropboxUserClient;

// The Dropbox location's six file operations over the signed-in account's client, each
// reduced to a result record. Every call answers exactly once, on the main queue; its
// notification (object null) is queued first, so observers have run when the completion runs:
// - "DropboxGotSomeDataNotification": the service answered;
// - "DropboxInvalidAccessTokenNotification": an authorisation failure, or no account when
//   the client was made;
// - "DropboxNoConnectionNotification": any other failure that is noted.
// Without an account no request is sent and every operation answers 3 (a peek: no success)
// without a notification. Main thread only.
class QVDropboxClient
{
public:
    static const QString GotSomeDataNotification;
    static const QString NoConnectionNotification;

    // The signed-in account's client of the registered sign-in service, if any.
    QVDropboxClient();
    explicit QVDropboxClient(std::shared_ptr<DropboxUserClient> authorized);
    ~QVDropboxClient();

    bool hasAuthorizedClient() const { return bool(mUser); }

    // "" for the application folder's root, or "/attachments".
    void listFolderContents(const QString& path, std::function<void(const ListFolderResponse&)> completion);
    void ensureFolder(const QString& path, std::function<void(const EnsureFolderResponse&)> completion);
    // Writes over `rev` (none: adds a new file).
    void uploadFile(const QString& localPath, const std::optional<QString>& rev, const QString& remotePath,
                    std::function<void(const UploadResponse&)> completion);
    // The file arrives beside the target under a hidden name and replaces it only when
    // complete, with its revision read; any failure leaves the target as it was.
    void downloadFile(const QString& remotePath, const QString& targetPath,
                      std::function<void(const DownloadResponse&)> completion);
    void peekFile(const QString& remotePath, std::function<void(const PeekFileResponse&)> completion);
    // Deletes only while the file is at `rev`: a peek first, then the deletion with the
    // revision as its condition, so a change landing in between is refused (2), not lost.
    void deleteFile(const QString& remotePath, const std::optional<QString>& rev,
                    std::function<void(const DeleteResponse&)> completion);

private:
    std::shared_ptr<DropboxUserClient> mUser;
};

} // namespace corvex
