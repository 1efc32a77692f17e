// A local file's window against its file: the kept copy's record in the saved state, kept in
// step at every save into the file, and a restoration that shows what the file holds now when
// it changed while Corvex was away, keeping the kept copy's edits beside it.

#include "mindmap/SolarSystemViewController.h"

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/KeptCopyRecord.h"
#include "model/ApplicationDelegate.h"
#include "model/Globals.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/Log.h"
#include "platform/ui/Window.h"
#include "storage/AttachmentNames.h"
#include "storage/PersistenceController.h"

#include <algorithm>

namespace corvex {

namespace {

QString keptCopyChoiceName(KeptCopyRecord::Choice choice)
{
    switch (choice) {
    case KeptCopyRecord::Choice::KeptCopy:
        return QStringLiteral("its kept copy");
    case KeptCopyRecord::Choice::File:
        return QStringLiteral("the file");
    case KeptCopyRecord::Choice::FileAndKeptEdits:
        return QStringLiteral("the file, and the unsaved changes in a window of their own");
    }
    return QString();
}

// The payload's dates on a document; now for one it lacks.
void takeDates(IdeaDocument& document, const IdeaDocumentDataObject& payload)
{
    const QDateTime now = CalendarClock::now();
    document.setDateCreated(payload.dateCreated().isValid() ? payload.dateCreated() : now);
    document.setDateModified(payload.dateModified().isValid() ? payload.dateModified() : now);
}

} // namespace

std::optional<KeptCopyRecord> SolarSystemViewController::keptCopyRecord(bool edited) const
{
    if (!mDoc || mDoc->location() != IdeaDocument::TemporaryLocation ||
        !mDoc->representativeURL().isLocalFile() || !mDoc->fileInStep())
        return std::nullopt;
    const bool behind = mFiles->keptCopyBehind();
    // While the kept copy is written, the window's edited flag says whether it holds edits the
    // file lacks. The change counts know edits made while a save into the file ran, and they
    // alone tell, while the kept copy is behind, the edits it holds from those it lost.
    const bool holdsEdits = mKeptCopyChange > mFileInStepChange || (edited && !behind);
    return KeptCopyRecord(*mDoc->fileInStep(), holdsEdits, behind);
}

void SolarSystemViewController::restartKeptCopyCounts(const IdeaDocument& document, bool holdsEdits)
{
    mKeptCopyChange = qint64(document.changeCount());
    mFileInStepChange = mKeptCopyChange - (holdsEdits ? 1 : 0);
}

void SolarSystemViewController::fileWritten(const QUrl& url, quint64 change)
{
    mFileInStepChange = std::max(mFileInStepChange, qint64(change));
    // What was written, as the file now holds it; until it is known the record keeps the file
    // as it was before, which a restoration takes for a changed file: the file is shown.
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    FileFingerprint::take(url.toLocalFile(), [weak, url](const Result<FileFingerprint>& fingerprint) {
        auto self = weak.lock();
        if (!self || !self->mDoc || !self->mDoc->refersToURL(url))
            return;
        if (!fingerprint.ok()) {
            Log::warning(
                QStringLiteral("The saved file %1 cannot be read back: %2")
                    .arg(AttachmentNames::printable(url.fileName()), fingerprint.error().toString()));
            return;
        }
        self->mDoc->setFileInStep(fingerprint.value());
        Globals::updatePersistentAppStateNow();
    });
}

void SolarSystemViewController::openRestoredKeptCopy(const std::shared_ptr<IdeaDocument>& document,
                                                     const QString& ideaIdentifier,
                                                     const std::optional<KeptCopyRecord>& record)
{
    PersistenceController::singleton().openDocument(document,
                                                    showWhenOpened(document, ideaIdentifier, record));
}

PersistenceController::TokenCompletion
SolarSystemViewController::showWhenOpened(const std::shared_ptr<IdeaDocument>& document,
                                          const QString& ideaIdentifier,
                                          const std::optional<KeptCopyRecord>& record)
{
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    return [weak, document, ideaIdentifier, record](qint64 token) {
        auto self = weak.lock();
        if (!self) {
            if (token > 0)
                PersistenceController::singleton().releaseDocument(document, token);
            return;
        }
        self->mOpeningDocIdentifier.clear();
        if (token < 1) {
            if (Window* window = self->myWindow())
                window->performClose();
            return;
        }
        if (record) {
            document->setFileInStep(record->fileInStep());
            self->restartKeptCopyCounts(*document, record->holdsEdits());
        }
        self->showRestoredDocument(document, token, ideaIdentifier);
    };
}

void SolarSystemViewController::showRestoredDocument(const std::shared_ptr<IdeaDocument>& document,
                                                     qint64 token, const QString& ideaIdentifier)
{
    mSolarSystemState = StateMindMap;
    setCurrentDoc(document, token, ideaIdentifier);
    ensureTopBarState();
    addViewsIfPossible();
    switchToIdea(mOwnIdea, false);
}

void SolarSystemViewController::restoreLocalFile(const std::shared_ptr<IdeaDocument>& keptCopy,
                                                 const QString& ideaIdentifier, const KeptCopyRecord& record)
{
    const QUrl file = keptCopy->representativeURL();
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    FileFingerprint::take(file.toLocalFile(), [weak, keptCopy, ideaIdentifier, record,
                                               file](const Result<FileFingerprint>& now) {
        auto self = weak.lock();
        if (!self)
            return;
        const KeptCopyRecord::Choice choice = record.choose(now);
        const QString name = AttachmentNames::printable(file.fileName());
        Log::info(QStringLiteral("%1 is restored from %2 (the file %3)")
                      .arg(name, keptCopyChoiceName(choice),
                           now.ok() ? (now->sameContent(record.fileInStep()) ? QStringLiteral("as it was")
                                                                             : QStringLiteral("changed"))
                                    : now.error().toString()));
        if (choice == KeptCopyRecord::Choice::KeptCopy) {
            self->openRestoredKeptCopy(keptCopy, ideaIdentifier, record);
            return;
        }
        // Read as a file is opened: its attachments stored in the temporary location.
        PersistenceController::singleton().importDocument(
            file, IdeaDocument::TemporaryLocation,
            [weak, keptCopy, ideaIdentifier, record, choice, fingerprint = now.value(),
             name](const DocumentImporter::Read& read) {
                auto self = weak.lock();
                if (!self)
                    return;
                if (!read.ok() || !read.value()->idea()) {
                    Log::warning(
                        QStringLiteral("%1 cannot be read: its kept copy is shown: %2")
                            .arg(name, read.ok() ? QStringLiteral("no ideas") : read.error().toString()));
                    self->openRestoredKeptCopy(keptCopy, ideaIdentifier, record);
                    return;
                }
                self->showFileOverKeptCopy(keptCopy, ideaIdentifier, choice == KeptCopyRecord::Choice::File,
                                           fingerprint, read.value());
            });
    });
}

void SolarSystemViewController::showFileOverKeptCopy(const std::shared_ptr<IdeaDocument>& keptCopy,
                                                     const QString& ideaIdentifier, bool replaceKeptCopy,
                                                     const FileFingerprint& fingerprint,
                                                     const std::shared_ptr<IdeaDocumentDataObject>& payload)
{
    if (DocumentWindowServices* window = windowServices())
        window->setDocumentEdited(false);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    PersistenceController& storage = PersistenceController::singleton();
    storage.openDocument(
        keptCopy, [weak, keptCopy, ideaIdentifier, replaceKeptCopy, fingerprint, payload](qint64 token) {
            auto self = weak.lock();
            PersistenceController& storage = PersistenceController::singleton();
            if (!self) {
                if (token > 0)
                    storage.releaseDocument(keptCopy, token);
                return;
            }
            self->mOpeningDocIdentifier.clear();
            const QUrl file = keptCopy->representativeURL();
            if (token > 0 && replaceKeptCopy) {
                // Nothing of its own to keep: the kept copy takes the file's tree and is in step.
                keptCopy->setIdea(payload->idea());
                takeDates(*keptCopy, *payload);
                keptCopy->setFileInStep(fingerprint);
                self->restartKeptCopyCounts(*keptCopy, false);
                self->showRestoredDocument(keptCopy, token, QString());
                self->saveDocument({}, false);
                return;
            }
            if (token > 0) {
                // The edits become a document of their own, with no file: only the user's Save puts
                // them into one, and a window of their own says whose they are.
                keptCopy->setRepresentativeURL(QUrl());
                keptCopy->setFileInStep(std::nullopt);
                keptCopy->setKeptEditsOf(file.fileName());
                Globals::app()->openDocumentInNewWindow(keptCopy->docIdentifier(), ideaIdentifier);
                storage.releaseDocument(keptCopy, token);
            }
            self->showFileInNewDocument(file, fingerprint, payload);
        });
}

void SolarSystemViewController::showFileInNewDocument(const QUrl& file, const FileFingerprint& fingerprint,
                                                      const std::shared_ptr<IdeaDocumentDataObject>& payload)
{
    const auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::TemporaryLocation);
    document->setRepresentativeURL(file);
    document->setIdea(payload->idea());
    takeDates(*document, *payload);
    mOpeningDocIdentifier = document->docIdentifier();
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    PersistenceController::singleton().createDocumentOpeningFirst(
        document, showWhenOpened(document, QString(), KeptCopyRecord(fingerprint, false, false)),
        [weak, document](bool stored) {
            // A kept copy that could not be made is behind the file from the start.
            if (auto self = weak.lock(); self && !stored && self->mDoc == document)
                self->mFiles->saveFailed();
        });
}

} // namespace corvex
