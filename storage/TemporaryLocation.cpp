#include "storage/TemporaryLocation.h"

#include "platform/core/Error.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "storage/StorageQueues.h"
#include "storage/TempLocationManager.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

namespace corvex {

TemporaryLocation::TemporaryLocation() : mAttachments(std::make_shared<TempLocationManager>()) {}

TemporaryLocation::~TemporaryLocation() = default;

QUrl TemporaryLocation::documentURL(const QString& docIdentifier)
{
    // Refuses a path that is not one plain file name: identifiers come from saved state and
    // drag payloads too.
    return TempLocationManager::documentURL(IdeaDocument::pathFromIdentifier(docIdentifier));
}

bool TemporaryLocation::documentKnown(const QString& docIdentifier) const
{
    return heldDocument(docIdentifier) != nullptr;
}

std::shared_ptr<IdeaDocument> TemporaryLocation::heldDocument(const QString& docIdentifier) const
{
    const auto found = std::find_if(
        mRegisteredDocuments.begin(), mRegisteredDocuments.end(),
        [&docIdentifier](const auto& document) { return document->docIdentifier() == docIdentifier; });
    return found == mRegisteredDocuments.end() ? nullptr : *found;
}

DocumentLocation::TokenCompletion
TemporaryLocation::registeringOnSuccess(const std::shared_ptr<IdeaDocument>& document,
                                        TokenCompletion completion)
{
    return [self = shared_from_this(), document, completion = std::move(completion)](qint64 token) mutable {
        if (token > 0)
            self->mRegisteredDocuments.push_back(document);
        completion(token);
    };
}

void TemporaryLocation::createDocument(const std::shared_ptr<IdeaDocument>& document, qint64,
                                       TokenCompletion completion)
{
    // The file of a registered identifier exists (or is being made): never made twice.
    stepOverTakenNames(*document, false);
    if (documentKnown(document->docIdentifier())) {
        completion(qint64(0));
        return;
    }
    createUnderFreeName(document, registeringOnSuccess(document, std::move(completion)), FreeNameAttempts);
}

void TemporaryLocation::createUnderFreeName(const std::shared_ptr<IdeaDocument>& document,
                                            TokenCompletion completion, int attemptsLeft)
{
    const QUrl url = documentURL(document->docIdentifier());
    document->createAtURL(url, [self = shared_from_this(), document, url, attemptsLeft,
                                completion = std::move(completion)](qint64 token) mutable {
        // Two launches within one second make the same first name: the file is never
        // replaced, so the later one takes the next name instead of failing.
        if (token < 1 && attemptsLeft > 0 && !url.isEmpty() && QFileInfo::exists(url.toLocalFile()) &&
            document->takeNextGeneratedFileName()) {
            self->createUnderFreeName(document, std::move(completion), attemptsLeft - 1);
            return;
        }
        completion(token);
    });
}

void TemporaryLocation::createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document,
                                                   TokenCompletion opened, BoolCompletion stored)
{
    // The name is chosen before the write, since the document opens before it: a file of
    // another launch made in the same second is stepped over here, and one made between
    // this look and the write fails the store, which never replaces it.
    stepOverTakenNames(*document, true);
    if (documentKnown(document->docIdentifier())) {
        opened(qint64(0));
        stored(false);
        return;
    }
    mRegisteredDocuments.push_back(document);
    std::weak_ptr<TemporaryLocation> weak = shared_from_this();
    document->createAtURLOpeningFirst(
        documentURL(document->docIdentifier()),
        [weak, document, opened = std::move(opened)](qint64 token) mutable {
            if (const auto self = weak.lock(); self && token < 1)
                self->unregister(document);
            opened(token);
        },
        [weak, document, stored = std::move(stored)](bool ok) mutable {
            if (const auto self = weak.lock(); self && !ok)
                self->unregister(document);
            stored(ok);
        });
}

void TemporaryLocation::stepOverTakenNames(IdeaDocument& document, bool filesToo) const
{
    for (int attempt = 0; attempt < FreeNameAttempts; ++attempt) {
        const QUrl url = documentURL(document.docIdentifier());
        const bool taken = documentKnown(document.docIdentifier()) ||
                           (filesToo && !url.isEmpty() && QFileInfo::exists(url.toLocalFile()));
        if (!taken || !document.takeNextGeneratedFileName())
            return;
    }
}

void TemporaryLocation::unregister(const std::shared_ptr<IdeaDocument>& document)
{
    std::erase(mRegisteredDocuments, document);
}

void TemporaryLocation::openDocument(const std::shared_ptr<IdeaDocument>& document,
                                     TokenCompletion completion)
{
    document->openFromURL(documentURL(document->docIdentifier()),
                          registeringOnSuccess(document, std::move(completion)));
}

void TemporaryLocation::updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                       BoolCompletion completion)
{
    std::weak_ptr<TemporaryLocation> weak = shared_from_this();
    document->updateWithToken(token, [weak, document, completion = std::move(completion)](bool ok) mutable {
        // A document whose first store failed (a full disk) is known again once a save has
        // made its file.
        if (const auto self = weak.lock();
            self && ok &&
            std::find(self->mRegisteredDocuments.begin(), self->mRegisteredDocuments.end(), document) ==
                self->mRegisteredDocuments.end())
            self->mRegisteredDocuments.push_back(document);
        completion(ok);
    });
}

void TemporaryLocation::closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                      Completion completion)
{
    document->closeWithToken(token, std::move(completion));
}

void TemporaryLocation::deleteDocument(const QString& docIdentifier, BoolCompletion completion)
{
    if (!documentKnown(docIdentifier)) {
        completion(false);
        return;
    }
    // Every registered handle of the document goes, not only the first one found: otherwise
    // the identifier would stay "known" and could never be created again.
    std::erase_if(mRegisteredDocuments, [&docIdentifier](const std::shared_ptr<IdeaDocument>& registered) {
        return registered->docIdentifier() == docIdentifier;
    });
    // The file in the temporary folder stays on disk.
    completion(true);
}

void TemporaryLocation::removeClosedCopy(const std::shared_ptr<IdeaDocument>& document)
{
    const QString identifier = document->docIdentifier();
    const bool shared =
        std::any_of(mRegisteredDocuments.begin(), mRegisteredDocuments.end(),
                    [&](const std::shared_ptr<IdeaDocument>& registered) {
                        return registered != document && registered->docIdentifier() == identifier;
                    });
    const QString path = documentURL(identifier).toLocalFile();
    if (shared || path.isEmpty())
        return;
    unregister(document);
    StorageQueues::persistenceQueue().async([path] {
        Error error;
        int unlinkError = 0;
        const bool coordinated = FileCoordinator().coordinateWriting(
            path, FileCoordinator::WritingForDeleting,
            [&unlinkError](const QString& coordinatedPath) {
                if (SysCalls::unlink(QFile::encodeName(coordinatedPath).constData()) != 0 && errno != ENOENT)
                    unlinkError = errno;
            },
            &error);
        if (!coordinated || unlinkError != 0)
            Log::warning(
                QStringLiteral("TemporaryLocation: cannot remove %1: %2")
                    .arg(path, coordinated
                                   ? Error::posix(unlinkError, QStringLiteral("unlink"), path).toString()
                                   : error.toString()));
    });
}

void TemporaryLocation::fetchRootIdea(const QString& docIdentifier, IdeaCompletion completion)
{
    auto reader = IdeaDocument::initWithIdentifier(docIdentifier);
    reader->readFromURL(documentURL(docIdentifier),
                        [reader, completion = std::move(completion)](bool ok) mutable {
                            completion(ok ? reader->idea() : nullptr);
                        });
}

std::shared_ptr<AttachmentManager> TemporaryLocation::attachmentManager()
{
    return mAttachments;
}

} // namespace corvex
