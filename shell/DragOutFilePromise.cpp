#include "shell/DragOutFilePromise.h"

#include "formats/ExportImport.h"
#include "platform/core/Log.h"
#include "shell/PromisedFileName.h"
#include "storage/FileUtil.h"
#include "storage/IdeaDocument.h"

namespace corvex {

DragOutFilePromise::DragOutFilePromise(QString title, QString docIdentifier, IdeaLoader loader)
    : mTitle(std::move(title)), mDocIdentifier(std::move(docIdentifier)), mLoader(std::move(loader))
{}

QList<QUrl> DragOutFilePromise::urls() const
{
    return succeeded() ? QList<QUrl>{mFileUrl} : QList<QUrl>();
}

void DragOutFilePromise::settle(const QUrl& written)
{
    mFileUrl = written;
    mSettled = true;
}

void DragOutFilePromise::fulfil()
{
    if (mStarted)
        return;
    mStarted = true;
    const QUrl folder = FileUtil::temporaryDirectoryForFile();
    if (folder.isEmpty() || !mLoader) {
        Log::warning(QStringLiteral("A dragged idea has no folder to be written to"));
        settle(QUrl());
        return;
    }
    const QUrl target = QUrl::fromLocalFile(folder.toLocalFile() + QLatin1Char('/') +
                                            PromisedFileName::fileNameInFolder(mTitle, folder.toLocalFile()));
    std::weak_ptr<DragOutFilePromise> weak = weak_from_this();
    const QString docIdentifier = mDocIdentifier;
    mLoader([weak, target, docIdentifier](const IdeaPtr& idea) {
        auto self = weak.lock();
        if (!self)
            return;
        if (!idea) {
            self->settle(QUrl());
            return;
        }
        const std::shared_ptr<IdeaDocument> document = IdeaDocument::initWithIdentifier(docIdentifier);
        if (!document) {
            self->settle(QUrl());
            return;
        }
        document->setIdea(idea);
        ExportImport::exportDocument(document, target, [weak, target](const Status& written) {
            if (auto promise = weak.lock())
                promise->settle(written ? target : QUrl());
        });
    });
}

} // namespace corvex
