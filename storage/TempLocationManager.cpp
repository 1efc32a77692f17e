#include "storage/TempLocationManager.h"

#include "model/ObjectID.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Paths.h"
#include "storage/AttachmentDocument.h"
#include "storage/AttachmentNames.h"

#include <QFileInfo>

namespace corvex {

QUrl TempLocationManager::baseAttURL()
{
    const QString support = Paths::applicationSupport();
    if (support.isEmpty()) {
        Log::assertionFailure(QStringLiteral("TempLocationManager: no application support folder"));
        return QUrl();
    }
    const QString path =
        support + QLatin1Char('/') + Paths::appFolderName() + QStringLiteral("/volatile/attachments");
    if (Status made = Paths::makePath(path, 0700); !made) {
        Log::assertionFailure(QStringLiteral("TempLocationManager: cannot make the attachments folder: %1")
                                  .arg(made.error().toString()));
        return QUrl();
    }
    return QUrl::fromLocalFile(path);
}

QUrl TempLocationManager::baseDocURL()
{
    const QUrl attachments = baseAttURL();
    if (attachments.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(QFileInfo(attachments.toLocalFile()).path());
}

QUrl TempLocationManager::attachmentURL(const ObjectID& attachment)
{
    if (!AttachmentNames::isAcceptable(attachment)) {
        Log::warning(QStringLiteral("TempLocationManager: refused the attachment name \"%1\"")
                         .arg(AttachmentNames::printable(attachment.asString())));
        return QUrl();
    }
    const QUrl folder = baseAttURL();
    if (folder.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(folder.toLocalFile() + QLatin1Char('/') + attachment.asString());
}

QUrl TempLocationManager::documentURL(const QString& fileName)
{
    if (!AttachmentNames::isSafeFileName(fileName)) {
        Log::warning(QStringLiteral("TempLocationManager: refused the document name \"%1\"")
                         .arg(AttachmentNames::printable(fileName)));
        return QUrl();
    }
    const QUrl folder = baseDocURL();
    if (folder.isEmpty())
        return QUrl();
    return QUrl::fromLocalFile(folder.toLocalFile() + QLatin1Char('/') + fileName);
}

void TempLocationManager::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                          StoreCompletion completion)
{
    if (!completion)
        completion = [](bool) {};
    const QUrl url = attachmentURL(attachment);
    if (url.isEmpty()) {
        completion(false);
        return;
    }
    AttachmentDocument::initWithFileURL(url)->saveBinaryData(data, std::move(completion));
}

void TempLocationManager::provideAttachment(const ObjectID& attachment, ProvideCompletion completion)
{
    if (!completion)
        completion = [](const QByteArray&) {};
    const QUrl url = attachmentURL(attachment);
    if (url.isEmpty()) {
        completion(QByteArray());
        return;
    }
    AttachmentDocument::initWithFileURL(url)->readBinaryWithCompletionHandler(std::move(completion));
}

} // namespace corvex
