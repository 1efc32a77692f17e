#include "cloud/dropbox/DropboxSyncNotices.h"

namespace corvex {

const QString DropboxSyncNotices::AccessLostNotification = QStringLiteral("DropboxAccessLostNotification");
const QString DropboxSyncNotices::DocumentNotSyncedNotification =
    QStringLiteral("DropboxDocumentNotSyncedNotification");
const QString DropboxSyncNotices::DocumentSyncedNotification =
    QStringLiteral("DropboxDocumentSyncedNotification");

namespace {

const QString ReasonKey = QStringLiteral("reason");
const QString DocumentKey = QStringLiteral("document");
const QString PathKey = QStringLiteral("path");
const QString CopyDocumentKey = QStringLiteral("copyDocument");
const QString CopyFileKey = QStringLiteral("copyFile");
const QString FolderReason = QStringLiteral("folder");
const QString DamagedReason = QStringLiteral("damaged");

} // namespace

void DropboxSyncNotices::postAccessLost(const void* sender)
{
    NotificationCenter::defaultCenter().post(AccessLostNotification, sender);
}

void DropboxSyncNotices::postDocumentNotSynced(const void* sender, const DocumentNotSynced& notice)
{
    const QVariantMap info{
        {ReasonKey, notice.reason == DocumentNotSynced::Reason::FolderAtPath ? FolderReason : DamagedReason},
        {DocumentKey, notice.document},
        {PathKey, notice.remotePath},
        {CopyDocumentKey, notice.copyDocument},
        {CopyFileKey, notice.copyFile}};
    NotificationCenter::defaultCenter().post(DocumentNotSyncedNotification, sender, info);
}

void DropboxSyncNotices::postDocumentSynced(const void* sender, const QString& document)
{
    NotificationCenter::defaultCenter().post(DocumentSyncedNotification, sender, {{DocumentKey, document}});
}

std::optional<DropboxSyncNotices::DocumentNotSynced>
DropboxSyncNotices::documentNotSynced(const NotificationCenter::Notification& note)
{
    if (note.name != DocumentNotSyncedNotification)
        return std::nullopt;
    DocumentNotSynced notice;
    notice.reason = note.userInfo.value(ReasonKey).toString() == DamagedReason
                        ? DocumentNotSynced::Reason::DamagedContent
                        : DocumentNotSynced::Reason::FolderAtPath;
    notice.document = note.userInfo.value(DocumentKey).toString();
    notice.remotePath = note.userInfo.value(PathKey).toString();
    notice.copyDocument = note.userInfo.value(CopyDocumentKey).toString();
    notice.copyFile = note.userInfo.value(CopyFileKey).toString();
    return notice;
}

std::optional<QString> DropboxSyncNotices::documentSynced(const NotificationCenter::Notification& note)
{
    if (note.name != DocumentSyncedNotification)
        return std::nullopt;
    return note.userInfo.value(DocumentKey).toString();
}

} // namespace corvex
