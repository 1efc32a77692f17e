#include "tests/app/UserFiles.h"

#include "formats/ExportImport.h"
#include "graphics/QVImage.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/ObjectID.h"
#include "platform/core/Log.h"
#include "platform/core/Result.h"
#include "platform/core/UserDefaults.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "storage/WorkspaceDelegate.h"
#include "tests/support/RunUntil.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QUrl>

namespace corvex::test {

void UserFiles::setDefault(const QString& key, const QJsonValue& value)
{
    QJsonObject stored = defaults();
    stored.insert(key, value);
    const QString path = UserDefaults::standardFilePath();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(stored).toJson());
}

QJsonObject UserFiles::defaults()
{
    QFile file(UserDefaults::standardFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString UserFiles::writeDocument(const QString& fileName, const std::shared_ptr<Idea>& root)
{
    const QString path = QDir::home().filePath(fileName);
    auto document = IdeaDocument::initWithFileName(path, 0);
    document->setIdea(root);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    document->setDateCreated(now);
    document->setDateModified(now);
    std::optional<Status> written;
    ExportImport::exportDocument(document, QUrl::fromLocalFile(path),
                                 [&written](const Status& outcome) { written = outcome; });
    runUntil([&written] { return written.has_value(); }, 20.0);
    if (written && !*written)
        Log::warning(QStringLiteral("UserFiles: %1").arg(written->error().toString()));
    return written && *written ? path : QString();
}

bool UserFiles::addDocumentToLocation(unsigned location, const std::shared_ptr<Idea>& root)
{
    // As a user waits for the home screen to show the location's documents.
    PersistenceController& storage = PersistenceController::singleton();
    if (!runUntil([&] { return storage.statusForLocation(location) >= WorkspaceStatus::Synchronising; },
                  20.0))
        return false;
    auto document = IdeaDocument::initWithFileName(QString(), StorageLocation(location));
    document->setIdea(root);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    document->setDateCreated(now);
    document->setDateModified(now);
    std::optional<qint64> token;
    PersistenceController::singleton().createDocument(document, [&token](qint64 made) { token = made; });
    if (!runUntil([&token] { return token.has_value(); }, 20.0) || *token < 1)
        return false;
    bool released = false;
    PersistenceController::singleton().releaseDocument(document, *token, [&released] { released = true; });
    return runUntil([&released] { return released; }, 20.0);
}

IdeaPtr UserFiles::storedPicture(const QString& title, const QColor& colour)
{
    QImage image(2400, 1600, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return nullptr;
    const ObjectID attachment = ObjectID::createFromData(png, QStringLiteral("png"));
    std::optional<bool> stored;
    PersistenceController::singleton().storeAttachment(attachment, png, IdeaDocument::TemporaryLocation,
                                                       [&stored](bool ok) { stored = ok; });
    if (!runUntil([&stored] { return stored.has_value(); }, 20.0) || !*stored)
        return nullptr;
    IdeaPtr idea = Idea::initWithImageAttachment(QVImage::initWithPNGData(png), attachment);
    idea->setText(title);
    return idea;
}

IdeaPtr UserFiles::readDocument(const QString& path)
{
    std::optional<IdeaDocumentDataObjectPtr> read;
    ExportImport::importDocument(
        QUrl::fromLocalFile(path),
        [](const ObjectID&, const QByteArray&, DocumentImporter::AttachmentStored stored) { stored(true); },
        [&read](const Result<IdeaDocumentDataObjectPtr>& payload) {
            read = payload.ok() ? payload.value() : nullptr;
        });
    runUntil([&read] { return read.has_value(); }, 20.0);
    return read && *read ? (*read)->idea() : nullptr;
}

QStringList UserFiles::filesBelow(const QString& folder)
{
    QStringList files;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << root.relativeFilePath(it.next());
    files.sort();
    return files;
}

QString UserFiles::findBelow(const QString& folder, const QString& name)
{
    QDirIterator it(folder, {name}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

} // namespace corvex::test
