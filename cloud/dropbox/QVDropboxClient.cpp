#include "cloud/dropbox/QVDropboxClient.h"

#include "cloud/dropbox/DropboxAnswerReader.h"
#include "cloud/dropbox/DropboxContentHash.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SysCalls.h"
#include "platform/net/DBClientsManager.h"
#include "platform/net/DropboxUserClient.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <map>

namespace corvex {

const QString QVDropboxClient::GotSomeDataNotification = QStringLiteral("DropboxGotSomeDataNotification");
const QString QVDropboxClient::NoConnectionNotification = QStringLiteral("DropboxNoConnectionNotification");

namespace {

using Answer = DropboxRequestAnswer;
// The client a notification comes from, while it lives.
using Sender = std::weak_ptr<const QVDropboxClient*>;

void postNotification(const QString& name, const Sender& sender)
{
    MainQueue::post([name, sender] {
        if (const auto alive = sender.lock())
            NotificationCenter::defaultCenter().post(name, *alive);
    });
}

void noteSuccess(const Sender& sender)
{
    postNotification(QVDropboxClient::GotSomeDataNotification, sender);
}

// The service answered and refused this one request (a route or request error): the
// connection works, so nothing is said of it.
bool isRefusal(const Answer& answer)
{
    return answer.answered() && answer.status >= 400 && answer.status < 500 && answer.status != 401 &&
           answer.status != 429;
}

void noteFailure(const Answer& answer, const Sender& sender)
{
    if (isRefusal(answer))
        return;
    postNotification(answer.isAuthError() ? DropboxNotifications::InvalidAccessToken
                                          : QVDropboxClient::NoConnectionNotification,
                     sender);
}

// A completion shared by the account client's answer callables (which are copied): the
// answer is given once, through it. Answered after the notification was posted, both on
// the main queue in that order, so observers have run first.
template <class Response>
std::shared_ptr<Completion<const Response&>> sharedAnswer(Completion<const Response&> completion)
{
    return std::make_shared<Completion<const Response&>>(std::move(completion));
}

QByteArray jsonArgument(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray pathArgument(const QString& path)
{
    return jsonArgument(QJsonObject{{QStringLiteral("path"), path}});
}

bool isConflict(const Answer& answer, const QString& prefix)
{
    return answer.answered() && answer.status == 409 && DropboxAnswerReader::errorIs(answer.body, prefix);
}

void removeQuietly(const QString& path)
{
    if (!path.isEmpty())
        SysCalls::unlink(QFile::encodeName(path).constData());
}

// One listing's pages as they arrive. A cursor goes on with the changes made while the
// listing was paged, so a path can come again: a file entry stands in for the earlier one, a
// deleted entry takes it out, and the listing ends as the folder was at its last page.
struct Listing
{
    std::shared_ptr<DropboxUserClient> user;
    Sender sender;
    QVDropboxClient::ListFolderCompletion completion;
    DropboxUserClient::RepeatGate mayRepeat;
    std::vector<std::optional<FileMetadata>> entries;
    std::map<QString, std::size_t> indexByPath;

    void take(const DropboxAnswerReader::Entry& entry)
    {
        const auto known = indexByPath.find(entry.pathLower);
        if (entry.tag != QLatin1String("file")) {
            if (known != indexByPath.end()) {
                entries[known->second].reset();
                indexByPath.erase(known);
            }
        } else if (known != indexByPath.end()) {
            entries[known->second] = FileMetadata{entry.pathLower, entry.rev, entry.contentHash};
        } else {
            indexByPath.emplace(entry.pathLower, entries.size());
            entries.emplace_back(FileMetadata{entry.pathLower, entry.rev, entry.contentHash});
        }
    }

    std::vector<FileMetadata> files() const
    {
        std::vector<FileMetadata> listed;
        listed.reserve(indexByPath.size());
        for (const std::optional<FileMetadata>& entry : entries)
            if (entry)
                listed.push_back(*entry);
        return listed;
    }
};

void listingPage(const std::shared_ptr<Listing>& listing, bool first, const Answer& answer)
{
    const auto page = answer.isSuccess() ? DropboxAnswerReader::listPage(answer.body) : std::nullopt;
    if (!page) {
        if (first) {
            // The first page's failures are the caller's to read: no notification, except for a
            // refused token, which no caller can mend and every request would meet again.
            if (answer.isAuthError())
                noteFailure(answer, listing->sender);
            const bool missing = isConflict(answer, QStringLiteral("path/not_found"));
            listing->completion(
                ListFolderResponse{missing ? DropboxResult::NotFound : DropboxResult::Failed, std::nullopt});
        } else {
            noteFailure(answer, listing->sender);
            listing->completion(ListFolderResponse{DropboxResult::Failed, std::nullopt});
        }
        return;
    }
    for (const DropboxAnswerReader::Entry& entry : page->entries)
        listing->take(entry);
    if (!page->hasMore) {
        noteSuccess(listing->sender);
        listing->completion(ListFolderResponse{DropboxResult::Done, listing->files()});
        return;
    }
    listing->user->rpc(
        QStringLiteral("files/list_folder/continue"),
        jsonArgument(QJsonObject{{QStringLiteral("cursor"), page->cursor}}),
        [listing](const Answer& next) { listingPage(listing, false, next); }, listing->mayRepeat);
}

QString hiddenDownloadPath(const QString& targetPath)
{
    const QFileInfo target(targetPath);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".download");
}

// A body can end early under a Content-Length that agrees with it: only the byte count and
// content hash the answer's metadata gives for the whole file tell it apart.
bool isWholeFile(const QString& path, const DropboxAnswerReader::Entry& metadata)
{
    if (metadata.size < 0 || metadata.contentHash.isEmpty() || QFileInfo(path).size() != metadata.size)
        return false;
    return DropboxContentHash::ofFile(path) == metadata.contentHash;
}

void doDeleteFile(const std::shared_ptr<DropboxUserClient>& user, const Sender& sender,
                  const QString& remotePath, const QString& rev, QVDropboxClient::DeleteCompletion completion,
                  const DropboxUserClient::RepeatGate& mayRepeat)
{
    const QByteArray argument =
        jsonArgument(QJsonObject{{QStringLiteral("path"), remotePath}, {QStringLiteral("parent_rev"), rev}});
    user->rpc(
        QStringLiteral("files/delete_v2"), argument,
        [sender, completion = sharedAnswer(std::move(completion))](const Answer& answer) mutable {
            if (answer.isSuccess()) {
                noteSuccess(sender);
                (*completion)(DeleteResponse{DropboxResult::Done});
            } else if (isConflict(answer, QStringLiteral("path_lookup/not_found"))) {
                (*completion)(DeleteResponse{DropboxResult::Done});
            } else if (isConflict(answer, QStringLiteral("path_write"))) {
                // The file changed since the peek: the service refused the condition.
                (*completion)(DeleteResponse{DropboxResult::Conflict});
            } else {
                noteFailure(answer, sender);
                (*completion)(DeleteResponse{DropboxResult::Failed});
            }
        },
        mayRepeat);
}

} // namespace

QVDropboxClient::QVDropboxClient()
    : QVDropboxClient(AccountSource([] {
          const std::shared_ptr<DBClientsManager> manager = DBClientsManager::shared();
          return manager ? manager->authorizedClient() : nullptr;
      }))
{}

QVDropboxClient::QVDropboxClient(std::shared_ptr<DropboxUserClient> authorized)
    : QVDropboxClient(AccountSource([authorized] { return authorized; }))
{}

QVDropboxClient::QVDropboxClient(AccountSource source)
    : mSource(std::move(source)), mIdentity(std::make_shared<const QVDropboxClient*>(this))
{
    if (mSource)
        mUser = mSource();
    if (!mUser)
        postNotification(DropboxNotifications::InvalidAccessToken, mIdentity);
}

QVDropboxClient::~QVDropboxClient() = default;

bool QVDropboxClient::renewAuthorization()
{
    std::shared_ptr<DropboxUserClient> next = mSource ? mSource() : nullptr;
    if (!next || next == mUser)
        return false;
    mUser = std::move(next);
    return true;
}

std::shared_ptr<DropboxRequestBudget> QVDropboxClient::budget() const
{
    return mUser ? mUser->budget() : nullptr;
}

void QVDropboxClient::listFolderContents(const QString& path, ListFolderCompletion completion)
{
    if (!mUser) {
        completion(ListFolderResponse{DropboxResult::Failed, std::nullopt});
        return;
    }
    auto listing = std::make_shared<Listing>();
    listing->user = mUser;
    listing->sender = mIdentity;
    listing->completion = std::move(completion);
    listing->mayRepeat = mRepeatGate;
    mUser->rpc(
        QStringLiteral("files/list_folder"), pathArgument(path),
        [listing](const Answer& answer) { listingPage(listing, true, answer); }, mRepeatGate);
}

void QVDropboxClient::ensureFolder(const QString& path, EnsureFolderCompletion completion)
{
    if (!mUser) {
        completion(EnsureFolderResponse{DropboxResult::Failed});
        return;
    }
    const QByteArray argument =
        jsonArgument(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("autorename"), false}});
    mUser->rpc(
        QStringLiteral("files/create_folder_v2"), argument,
        [sender = Sender(mIdentity),
         completion = sharedAnswer(std::move(completion))](const Answer& answer) mutable {
            if (answer.isSuccess() || isConflict(answer, QStringLiteral("path/conflict/folder"))) {
                noteSuccess(sender);
                (*completion)(EnsureFolderResponse{DropboxResult::Done});
                return;
            }
            noteFailure(answer, sender);
            (*completion)(EnsureFolderResponse{DropboxResult::Failed});
        },
        mRepeatGate);
}

void QVDropboxClient::uploadFile(const QString& localPath, const std::optional<QString>& rev,
                                 const QString& remotePath, UploadCompletion completion)
{
    if (!mUser) {
        completion(UploadResponse{DropboxResult::Failed, std::nullopt});
        return;
    }
    QJsonObject argument{{QStringLiteral("path"), remotePath},
                         {QStringLiteral("autorename"), false},
                         {QStringLiteral("mute"), true},
                         {QStringLiteral("client_modified"),
                          CalendarClock::now().toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"))}};
    if (rev)
        argument.insert(QStringLiteral("mode"),
                        QJsonObject{{QStringLiteral(".tag"), QStringLiteral("update")},
                                    {QStringLiteral("update"), *rev}});
    else
        argument.insert(QStringLiteral("mode"), QStringLiteral("add"));
    mUser->upload(
        QStringLiteral("files/upload"), jsonArgument(argument), localPath,
        [sender = Sender(mIdentity),
         completion = sharedAnswer(std::move(completion))](const Answer& answer) mutable {
            const auto metadata =
                answer.isSuccess() ? DropboxAnswerReader::fileMetadata(answer.body) : std::nullopt;
            if (metadata) {
                noteSuccess(sender);
                (*completion)(UploadResponse{DropboxResult::Done, metadata->rev});
            } else if (isConflict(answer, QStringLiteral("path/conflict"))) {
                (*completion)(UploadResponse{DropboxResult::Conflict, std::nullopt});
            } else {
                noteFailure(answer, sender);
                (*completion)(UploadResponse{DropboxResult::Failed, std::nullopt});
            }
        },
        mRepeatGate);
}

void QVDropboxClient::downloadFile(const QString& remotePath, const QString& targetPath,
                                   DownloadCompletion completion)
{
    if (!mUser) {
        completion(DownloadResponse{DropboxResult::Failed, std::nullopt});
        return;
    }
    const QString hidden = hiddenDownloadPath(targetPath);
    mUser->download(
        QStringLiteral("files/download"), pathArgument(remotePath), hidden,
        [sender = Sender(mIdentity), completion = sharedAnswer(std::move(completion)), hidden,
         targetPath](const Answer& answer) mutable {
            const auto metadata =
                answer.isSuccess()
                    ? DropboxAnswerReader::fileMetadata(answer.headers.value("Dropbox-API-Result"))
                    : std::nullopt;
            const bool whole = metadata && isWholeFile(hidden, *metadata);
            if (whole && SysCalls::rename(QFile::encodeName(hidden).constData(),
                                          QFile::encodeName(targetPath).constData()) == 0) {
                noteSuccess(sender);
                (*completion)(DownloadResponse{DropboxResult::Done, metadata->rev});
                return;
            }
            removeQuietly(hidden);
            if (isConflict(answer, QStringLiteral("path/not_found"))) {
                (*completion)(DownloadResponse{DropboxResult::NotFound, std::nullopt});
                return;
            }
            DownloadResponse failed{DropboxResult::Failed, std::nullopt};
            failed.folderAtPath = isConflict(answer, QStringLiteral("path/not_file"));
            // The service answered; the bytes did not hold up on their way. Not the connection's
            // failure: the caller backs off this one download.
            failed.damaged = answer.isSuccess() && !whole;
            if (!failed.damaged)
                noteFailure(answer, sender);
            (*completion)(failed);
        },
        mRepeatGate);
}

void QVDropboxClient::peekFile(const QString& remotePath, PeekFileCompletion completion)
{
    if (!mUser) {
        completion(PeekFileResponse{false, std::nullopt});
        return;
    }
    mUser->rpc(
        QStringLiteral("files/get_metadata"), pathArgument(remotePath),
        [sender = Sender(mIdentity),
         completion = sharedAnswer(std::move(completion))](const Answer& answer) mutable {
            const auto metadata =
                answer.isSuccess() ? DropboxAnswerReader::metadata(answer.body) : std::nullopt;
            if (metadata) {
                noteSuccess(sender);
                const bool file = metadata->tag == QLatin1String("file");
                (*completion)(
                    PeekFileResponse{file, file ? std::optional<QString>(metadata->rev) : std::nullopt});
            } else if (isConflict(answer, QStringLiteral("path/not_found"))) {
                (*completion)(PeekFileResponse{true, std::nullopt});
            } else {
                noteFailure(answer, sender);
                (*completion)(PeekFileResponse{false, std::nullopt});
            }
        },
        mRepeatGate);
}

void QVDropboxClient::deleteFile(const QString& remotePath, const std::optional<QString>& rev,
                                 DeleteCompletion completion)
{
    if (!mUser) {
        completion(DeleteResponse{DropboxResult::Failed});
        return;
    }
    std::shared_ptr<DropboxUserClient> user = mUser;
    peekFile(remotePath, [user, sender = Sender(mIdentity), remotePath, rev, mayRepeat = mRepeatGate,
                          completion = std::move(completion)](const PeekFileResponse& peek) mutable {
        if (!peek.success) {
            completion(DeleteResponse{DropboxResult::Failed});
        } else if (!peek.rev) {
            completion(DeleteResponse{DropboxResult::Done});
        } else if (rev != peek.rev) {
            completion(DeleteResponse{DropboxResult::Conflict});
        } else {
            doDeleteFile(user, sender, remotePath, *rev, std::move(completion), mayRepeat);
        }
    });
}

} // namespace corvex
