#include "storage/AttachmentDocument.h"

#include "model/Globals.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentFilePresenter.h"
#include "storage/AttachmentNames.h"

#include <QFileInfo>
#include <cerrno>

namespace corvex {

namespace {

constexpr int AttachmentDocumentPlainInitAssertionLine = 127;

// The local path of an acceptable attachment file; empty (and logged) for anything else.
QString acceptedPath(const QUrl& url, const char* operation)
{
    const QString path = url.toLocalFile();
    const QString name = QFileInfo(path).fileName();
    if (!AttachmentNames::isAcceptableAttachmentName(name)) {
        Log::warning(QStringLiteral("AttachmentDocument %1: refused the file name \"%2\"")
                         .arg(QLatin1String(operation), AttachmentNames::printable(name)));
        return QString();
    }
    return path;
}

// Null bytes when the file cannot be read; a file read empty gives empty, non-null bytes.
QByteArray readAttachmentFile(const QString& path)
{
    auto data = WholeFileReader::read(path, AttachmentDocument::MaxFileSize);
    if (!data.ok()) {
        // A missing attachment is an everyday answer; only a refused size is news.
        if (data.error().code() == EFBIG)
            Log::warning(QStringLiteral("AttachmentDocument: %1 %2")
                             .arg(data.error().toString(), data.error().localizedFailureReason()));
        return QByteArray();
    }
    return std::move(data).value();
}

} // namespace

std::shared_ptr<AttachmentDocument> AttachmentDocument::initWithFileURL(const QUrl& url)
{
    auto document = std::make_shared<AttachmentDocument>(Private());
    document->mPresenter = AttachmentFilePresenter::initWithFileURL(url, document);
    return document;
}

std::shared_ptr<AttachmentDocument> AttachmentDocument::init()
{
    Log::assertionFailure(AttachmentDocumentPlainInitAssertionLine, "-[AttachmentDocument init]");
    return std::make_shared<AttachmentDocument>(Private());
}

AttachmentDocument::~AttachmentDocument()
{
    if (mPresenter)
        mPresenter->close();
}

QUrl AttachmentDocument::presentedItemURL() const
{
    return mPresenter ? mPresenter->presentedItemURL() : QUrl();
}

void AttachmentDocument::saveBinaryData(const QByteArray& data, SaveCompletion completion)
{
    doSaveToURL(presentedItemURL(), data, std::move(completion));
}

void AttachmentDocument::doSaveToURL(const QUrl& url, const QByteArray& data, SaveCompletion completion)
{
    if (!completion)
        completion = [](bool) {};
    if (url.toLocalFile().isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("AttachmentDocument:doSaveToURL"));
        completion(false);
        return;
    }
    const QString path = acceptedPath(url, "doSaveToURL");
    if (path.isEmpty() || data.isNull()) {
        completion(false);
        return;
    }
    bool written = false;
    Error error;
    const bool coordinated = FileCoordinator(mPresenter.get())
                                 .coordinateWriting(
                                     path, FileCoordinator::WritingForReplacing,
                                     [&](const QString& granted) {
                                         const Status status = SaveFile::writeAtomically(granted, data);
                                         written = status.ok();
                                         error = status.error();
                                     },
                                     &error);
    if (!coordinated)
        Log::warning(QStringLiteral("AttachmentDocument: cannot coordinate writing %1: %2")
                         .arg(path, error.toString()));
    else if (!written)
        Log::warning(QStringLiteral("AttachmentDocument: cannot write %1: %2").arg(path, error.toString()));
    // After the coordination, so that the completion runs without the file's locks.
    completion(coordinated && written);
}

void AttachmentDocument::readBinaryWithCompletionHandler(ReadCompletion completion)
{
    const QUrl url = presentedItemURL();
    if (url.toLocalFile().isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("AttachmentDocument:readBinaryWithCompletionHandler"));
        completion(QByteArray());
        return;
    }
    const QString path = acceptedPath(url, "readBinaryWithCompletionHandler");
    if (path.isEmpty()) {
        completion(QByteArray());
        return;
    }
    // The block holds the document (and so its presenter) until the read is done.
    GlobalQueue::async([self = shared_from_this(), path, completion = std::move(completion)]() mutable {
        QByteArray data;
        Error error;
        const bool coordinated =
            FileCoordinator(self->mPresenter.get())
                .coordinateReading(
                    path, FileCoordinator::ReadingWithoutChanges,
                    [&](const QString& granted) { data = readAttachmentFile(granted); }, &error);
        if (!coordinated) {
            Log::warning(QStringLiteral("AttachmentDocument: cannot coordinate reading %1: %2")
                             .arg(path, error.toString()));
            data = QByteArray();
        }
        MainQueue::post([self = std::move(self), completion = std::move(completion),
                         data = std::move(data)]() mutable { completion(data); });
    });
}

} // namespace corvex
