#include "cloud/dropbox/QVDropboxClient.h"

#include "cloud/dropbox/DropboxAnswerReader.h"
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

namespace corvex {

const QString QVDropboxClient::GotSomeDataNotification = QStringLiteral("DropboxGotSomeDataNotification");
const QString QVDropboxClient::NoConnectionNotification = QStringLiteral("DropboxNoConnectionNotification");

namespace {

using Answer = DropboxRequestAnswer;

void postNotification(const QString& name)
{
    MainQueue::post([name] { NotificationCenter::defaultCenter().post(name); });
}

void noteSuccess()
{
    postNotification(QVDropboxClient::GotSomeDataNotification);
}

void noteFailure(const Answer& answer)
{
    postNotification(answer.isAuthError() ? DropboxNotifications::InvalidAccessToken
                                          : QVDropboxClient::NoConnectionNotification);
}

// Queued after the notification, so that observers have run first.
template <class Response> void answerWith(std::function<void(const Response&)> completion, Response response)
{
    MainQueue::post([completion = std::move(completion), response = std::move(response)] {
        if (completion)
            completion(response);
    });
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

struct Listing
{
    std::shared_ptr<DropboxUserClient> user;
    std::vector<FileMetadata> entries;
    std::function<void(const ListFolderResponse&)> completion;
};

void listingPage(const std::shared_ptr<Listing>& listing, bool first, const Answer& answer)
{
    const auto page = answer.isSuccess() ? DropboxAnswerReader::listPage(answer.body) : std::nullopt;
    if (!page) {
        if (first) {
            // The first page's failures are the caller's to read: no notification.
            const bool missing = isConflict(answer, QStringLiteral("path/not_found"));
            answerWith(
                std::move(listing->completion),
                ListFolderResponse{missing ? DropboxResult::NotFound : DropboxResult::Failed, std::nullopt});
        } else {
            noteFailure(answer);
            answerWith(std::move(listing->completion),
                       ListFolderResponse{DropboxResult::Failed, std::nullopt});
        }
        return;
    }
    for (const DropboxAnswerReader::Entry& entry : page->files)
        listing->entries.push_back(FileMetadata{entry.pathLower, entry.rev});
    if (!page->hasMore) {
        noteSuccess();
        answerWith(std::move(listing->completion),
                   ListFolderResponse{DropboxResult::Done, std::move(listing->entries)});
        return;
    }
    listing->user->rpc(QStringLiteral("files/list_folder/continue"),
                       jsonArgument(QJsonObject{{QStringLiteral("cursor"), page->cursor}}),
                       [listing](const Answer& next) { listingPage(listing, false, next); });
}

QString hiddenDownloadPath(const QString& targetPath)
{
    const QFileInfo target(targetPath);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".download");
}

void doDeleteFile(const std::shared_ptr<DropboxUserClient>& user, const QString& remotePath,
                  const QString& rev, std::function<void(const DeleteResponse&)> completion)
{
    const QByteArray argument =
        jsonArgument(QJsonObject{{QStringLiteral("path"), remotePath}, {QStringLiteral("parent_rev"), rev}});
    user->rpc(QStringLiteral("files/delete_v2"), argument,
              [completion = std::move(completion)](const Answer& answer) mutable {
                  if (answer.isSuccess()) {
                      noteSuccess();
                      answerWith(std::move(completion), DeleteResponse{DropboxResult::Done});
                  } else if (isConflict(answer, QStringLiteral("path_lookup/not_found"))) {
                      answerWith(std::move(completion), DeleteResponse{DropboxResult::Done});
                  } else if (isConflict(answer, QStringLiteral("path_write"))) {
                      // The file changed since the peek: the service refused the condition.
                      answerWith(std::move(completion), DeleteResponse{DropboxResult::Conflict});
                  } else {
                      noteFailure(answer);
                      answerWith(std::move(completion), DeleteResponse{DropboxResult::Failed});
                  }
              });
}

} // namespace

QVDropboxClient::QVDropboxClient()
    : QVDropboxClient([] {
          const std::shared_ptr<DBClientsManager> manager = DBClientsManager::shared();
          return manager ? manager->authorizedClient() : nullptr;
      }())
{}

QVDropboxClient::QVDropboxClient(std::shared_ptr<DropboxUserClient> authorized) : mUser(std::move(authorized))
{
    if (!mUser)
        postNotification(DropboxNotifications::InvalidAccessToken);
}

QVDropboxClient::~QVDropboxClient() = default;

void QVDropboxClient::listFolderContents(const QString& path,
                                         std::function<void(const ListFolderResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), ListFolderResponse{DropboxResult::Failed, std::nullopt});
        return;
    }
    auto listing = std::make_shared<Listing>();
    listing->user = mUser;
    listing->completion = std::move(completion);
    mUser->rpc(QStringLiteral("files/list_folder"), pathArgument(path),
               [listing](const Answer& answer) { listingPage(listing, true, answer); });
}

void QVDropboxClient::ensureFolder(const QString& path,
                                   std::function<void(const EnsureFolderResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), EnsureFolderResponse{DropboxResult::Failed});
        return;
    }
    const QByteArray argument =
        jsonArgument(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("autorename"), false}});
    mUser->rpc(QStringLiteral("files/create_folder_v2"), argument,
               [completion = std::move(completion)](const Answer& answer) mutable {
                   if (answer.isSuccess() || isConflict(answer, QStringLiteral("path/conflict/folder"))) {
                       noteSuccess();
                       answerWith(std::move(completion), EnsureFolderResponse{DropboxResult::Done});
                       return;
                   }
                   noteFailure(answer);
                   answerWith(std::move(completion), EnsureFolderResponse{DropboxResult::Failed});
               });
}

void QVDropboxClient::uploadFile(const QString& localPath, const std::optional<QString>& rev,
                                 const QString& remotePath,
                                 std::function<void(const UploadResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), UploadResponse{DropboxResult::Failed, std::nullopt});
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
        [completion = std::move(completion)](const Answer& answer) mutable {
            const auto metadata =
                answer.isSuccess() ? DropboxAnswerReader::metadata(answer.body) : std::nullopt;
            if (metadata && metadata->tag == QLatin1String("file")) {
                noteSuccess();
                answerWith(std::move(completion), UploadResponse{DropboxResult::Done, metadata->rev});
            } else if (isConflict(answer, QStringLiteral("path/conflict"))) {
                answerWith(std::move(completion), UploadResponse{DropboxResult::Conflict, std::nullopt});
            } else {
                noteFailure(answer);
                answerWith(std::move(completion), UploadResponse{DropboxResult::Failed, std::nullopt});
            }
        });
}

void QVDropboxClient::downloadFile(const QString& remotePath, const QString& targetPath,
                                   std::function<void(const DownloadResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), DownloadResponse{DropboxResult::Failed, std::nullopt});
        return;
    }
    const QString hidden = hiddenDownloadPath(targetPath);
    mUser->download(
        QStringLiteral("files/download"), pathArgument(remotePath), hidden,
        [completion = std::move(completion), hidden, targetPath](const Answer& answer) mutable {
            const auto metadata =
                answer.isSuccess() ? DropboxAnswerReader::metadata(answer.headers.value("Dropbox-API-Result"))
                                   : std::nullopt;
            if (metadata && metadata->tag == QLatin1String("file")) {
                if (SysCalls::rename(QFile::encodeName(hidden).constData(),
                                     QFile::encodeName(targetPath).constData()) == 0) {
                    noteSuccess();
                    answerWith(std::move(completion), DownloadResponse{DropboxResult::Done, metadata->rev});
                    return;
                }
            }
            removeQuietly(hidden);
            if (isConflict(answer, QStringLiteral("path/not_found"))) {
                answerWith(std::move(completion), DownloadResponse{DropboxResult::NotFound, std::nullopt});
                return;
            }
            noteFailure(answer);
            answerWith(std::move(completion), DownloadResponse{DropboxResult::Failed, std::nullopt});
        });
}

void QVDropboxClient::peekFile(const QString& remotePath,
                               std::function<void(const PeekFileResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), PeekFileResponse{false, std::nullopt});
        return;
    }
    mUser->rpc(QStringLiteral("files/get_metadata"), pathArgument(remotePath),
               [completion = std::move(completion)](const Answer& answer) mutable {
                   const auto metadata =
                       answer.isSuccess() ? DropboxAnswerReader::metadata(answer.body) : std::nullopt;
                   if (metadata) {
                       noteSuccess();
                       const bool file = metadata->tag == QLatin1String("file");
                       answerWith(std::move(completion),
                                  PeekFileResponse{file, file ? std::optional<QString>(metadata->rev)
                                                              : std::nullopt});
                   } else if (isConflict(answer, QStringLiteral("path/not_found"))) {
                       answerWith(std::move(completion), PeekFileResponse{true, std::nullopt});
                   } else {
                       noteFailure(answer);
                       answerWith(std::move(completion), PeekFileResponse{false, std::nullopt});
                   }
               });
}

void QVDropboxClient::deleteFile(const QString& remotePath, const std::optional<QString>& rev,
                                 std::function<void(const DeleteResponse&)> completion)
{
    if (!mUser) {
        answerWith(std::move(completion), DeleteResponse{DropboxResult::Failed});
        return;
    }
    std::shared_ptr<DropboxUserClient> user = mUser;
    peekFile(remotePath, [user, remotePath, rev,
                          completion = std::move(completion)](const PeekFileResponse& peek) mutable {
        if (!peek.success) {
            completion(DeleteResponse{DropboxResult::Failed});
        } else if (!peek.rev) {
            completion(DeleteResponse{DropboxResult::Done});
        } else if (rev != peek.rev) {
            completion(DeleteResponse{DropboxResult::Conflict});
        } else {
            doDeleteFile(user, remotePath, *rev, std::move(completion));
        }
    });
}

} // namespace corvex
