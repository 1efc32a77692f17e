#pragma once

#include "cloud/dropbox/DropboxResponses.h"
#include "platform/core/Completion.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class DropboxRequestBudget;
class DropboxUserClient;

// The Dropbox location's six file operations over the signed-in account's client, each
// reduced to a result record. Every call answers exactly once, on the main queue, never
// inside the call; its notification (with this client as its object, so that each mode hears
// only its own client) is queued first, so observers have run when the completion runs:
// - "DropboxGotSomeDataNotification": the service answered;
// - "DropboxInvalidAccessTokenNotification": an authorisation failure, or no account when
//   the client was made;
// - "DropboxNoConnectionNotification": no answer, a server error or a rate limit the account
//   client could not wait out. A refusal the service answered (a 4xx route or request error),
//   and a download whose bytes do not match their metadata, are this request's failure, not
//   the connection's: they answer 3 without a notification.
// Without an account no request is sent and every operation answers 3 (a peek: no success)
// without a notification. Main thread only.
class QVDropboxClient
{
public:
    static const QString GotSomeDataNotification;
    static const QString NoConnectionNotification;
    // Where the signed-in account's client comes from (null: no account).
    using AccountSource = std::function<std::shared_ptr<DropboxUserClient>()>;
    using ListFolderCompletion = Completion<const ListFolderResponse&>;
    using EnsureFolderCompletion = Completion<const EnsureFolderResponse&>;
    using UploadCompletion = Completion<const UploadResponse&>;
    using DownloadCompletion = Completion<const DownloadResponse&>;
    using PeekFileCompletion = Completion<const PeekFileResponse&>;
    using DeleteCompletion = Completion<const DeleteResponse&>;

    // The signed-in account's client of the registered sign-in service, if any.
    QVDropboxClient();
    explicit QVDropboxClient(std::shared_ptr<DropboxUserClient> authorized);
    explicit QVDropboxClient(AccountSource source);
    ~QVDropboxClient();

    bool hasAuthorizedClient() const { return bool(mUser); }
    // Asks the source again: whether another account client (a new sign-in) took the place of
    // the one in use.
    bool renewAuthorization();
    // The request budget of the account in use (null without one).
    std::shared_ptr<DropboxRequestBudget> budget() const;
    // Asked before the account client repeats a request of this client after a server error
    // or a rate limit: when it says no, the failure is the answer (see DropboxUserClient).
    void setRepeatGate(std::function<bool()> mayRepeat) { mRepeatGate = std::move(mayRepeat); }

    // "" for the application folder's root, or "/attachments".
    void listFolderContents(const QString& path, ListFolderCompletion completion);
    void ensureFolder(const QString& path, EnsureFolderCompletion completion);
    // Writes over `rev` (none: adds a new file).
    void uploadFile(const QString& localPath, const std::optional<QString>& rev, const QString& remotePath,
                    UploadCompletion completion);
    // The file arrives beside the target under a hidden name and replaces it only when
    // complete, with its revision read, and whole: its byte count and content hash those of
    // the answer's metadata. Any failure (a short body too) leaves the target as it was.
    void downloadFile(const QString& remotePath, const QString& targetPath, DownloadCompletion completion);
    void peekFile(const QString& remotePath, PeekFileCompletion completion);
    // Deletes only while the file is at `rev`: a peek first, then the deletion with the
    // revision as its condition, so a change landing in between is refused (2), not lost.
    void deleteFile(const QString& remotePath, const std::optional<QString>& rev,
                    DeleteCompletion completion);

private:
    AccountSource mSource;
    std::shared_ptr<DropboxUserClient> mUser;
    std::function<bool()> mRepeatGate;
    // Notifications still queued when the client goes are not posted.
    std::shared_ptr<const QVDropboxClient*> mIdentity;
};

} // namespace corvex
