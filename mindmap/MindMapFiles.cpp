// Saving, import, export, printing and closing on the mind-map screen: the document menu's
// actions and the question the window asks before it closes.

#include "mindmap/MindMapFiles.h"

#include "formats/ExportImport.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/ExportAndPrintSeams.h"
#include "mindmap/SaveRetry.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ApplicationDelegate.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Application.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Runners.h"
#include "platform/ui/Window.h"
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"
#include "toolkit/LosingChangesAlert.h"
#include "toolkit/PartialViewTransitionAnimation.h"

#include <QFileInfo>

namespace corvex {

namespace {

const QString kExportScreenOperation = QStringLiteral("Sharing");
const QString kCloseTempFileQuestion = QStringLiteral("CloseTempFile");
const QString kCloseLosingChangesQuestion = QStringLiteral("CloseLosingChanges");

// Hands the export screen's request to dismiss to the screen that presented it (held weakly:
// the export screen keeps its delegate).
class ExportScreenDismissal final : public ExportScreenDelegate
{
public:
    explicit ExportScreenDismissal(std::weak_ptr<SolarSystemViewController> owner) : mOwner(std::move(owner))
    {}

    void pleaseDismissSharingView(ViewController& screen) override
    {
        if (auto owner = mOwner.lock())
            owner->pleaseDismissSharingView(screen);
    }

private:
    std::weak_ptr<SolarSystemViewController> mOwner;
};

// The local file the document was opened from or saved to; empty for a new document (a
// document of the temporary location carries its own "temp:/" identifier as the URL until
// it has a file).
QUrl documentFileUrl(const std::shared_ptr<IdeaDocument>& document)
{
    if (!document)
        return QUrl();
    const QUrl& url = document->representativeURL();
    return url.isLocalFile() ? url : QUrl();
}

// The file a save writes without asking: the document's file when it is a Corvex document.
// A file of another format (OPML) only names the window and finds it again when the same
// file is opened; saving asks for a ".corvex" file instead of writing over it.
QUrl saveTargetUrl(const std::shared_ptr<IdeaDocument>& document)
{
    const QUrl file = documentFileUrl(document);
    return ExportImport::isArchiveFileName(file.fileName()) ? file : QUrl();
}

} // namespace

MindMapFiles::MindMapFiles(SolarSystemViewController& screen) : mScreen(screen) {}

MindMapFiles::~MindMapFiles() = default;

QString MindMapFiles::createPDFFileName()
{
    return QStringLiteral("corvex_%1.pdf")
        .arg(Globals::currentDate().toLocalTime().toString(QStringLiteral("yyyyMMdd_HHmm")));
}

void MindMapFiles::showResultIfError(const MyResultPtr& result)
{
    if (result && result->isError())
        CustomAlertView::showErrorResult(result);
}

// ---- Menu validation and actions

void MindMapFiles::qvSaveLocalFile()
{
    if (!mScreen.mDoc || mScreen.mDoc->isCloudDocument() || mScreen.screenOccupied())
        return;
    const QUrl url = saveTargetUrl(mScreen.mDoc);
    if (url.isEmpty()) {
        qvSaveLocalFileAs();
        return;
    }
    // The user saves: a failed save of the document is tried again now, not at its time.
    if (mSaveRetry)
        mSaveRetry->attemptNow();
    doSaveLocalFile(url, [](const MyResultPtr& result) { showResultIfError(result); });
}

void MindMapFiles::qvSaveLocalFileAs()
{
    if (!mScreen.mDoc || mScreen.mDoc->isCloudDocument() || mScreen.screenOccupied())
        return;
    if (mSaveRetry)
        mSaveRetry->attemptNow();
    performSaveLocalFileWithCompletion([](const MyResultPtr& result) { showResultIfError(result); });
}

void MindMapFiles::performSaveLocalFileWithCompletion(ResultCompletion completion)
{
    if (!mScreen.mDoc) {
        completion(MyResult::USER_CANCEL());
        return;
    }
    FilePanelRunner::SavePanel panel;
    panel.allowedFileTypes = QStringList{ExportImport::FileExtension};
    panel.directory = FilePanelRunner::desktopDirectory();
    // The file's own name once it has one; before that the root idea's (the document's
    // name would be its storage identifier). A file of another format proposes its own
    // name as a Corvex file beside it.
    const QUrl file = documentFileUrl(mScreen.mDoc);
    const QFileInfo fileInfo(file.toLocalFile());
    const QString rootName = mScreen.mRootIdea
                                 ? mScreen.mRootIdea->exportFileNameForType(ExportImport::FileExtension)
                                 : mScreen.mDoc->exportFileName();
    if (file.isEmpty()) {
        panel.nameFieldStringValue = rootName;
    } else if (ExportImport::isArchiveFileName(file.fileName())) {
        panel.nameFieldStringValue = file.fileName();
    } else {
        panel.directory = fileInfo.absolutePath();
        const QString base = fileInfo.completeBaseName();
        panel.nameFieldStringValue =
            base.isEmpty() ? rootName : base + QLatin1Char('.') + ExportImport::FileExtension;
    }
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    Runners::filePanelRunner()->beginSavePanel(
        panel, mScreen.myWindow(),
        [weak, pending = std::make_shared<ResultCompletion>(std::move(completion))](int response,
                                                                                    const QUrl& url) {
            auto self = weak.lock();
            if (!self || !self->mDoc || response != FilePanelRunner::OK || url.isEmpty()) {
                (*pending)(MyResult::USER_CANCEL());
                return;
            }
            // Never over a file another window shows (its next save would undo this one).
            if (!self->mDoc->refersToURL(url) && Globals::app()->isFileCurrentlyOpen(url)) {
                (*pending)(MyResult::error(QStringLiteral("mac:Error:CannotSaveOverOpenFile"),
                                           QStringLiteral("Cannot overwrite file that is open")));
                return;
            }
            self->mFiles->doSaveLocalFile(url, std::move(*pending));
        });
}

void MindMapFiles::doSaveLocalFile(const QUrl& url, ResultCompletion completion)
{
    const MyResultPtr failed =
        MyResult::error(QStringLiteral("mac:Error:FailedToWriteFile"), QStringLiteral("Failed to save file"));
    if (!mScreen.mDoc || !mScreen.mRootIdea || !url.isLocalFile()) {
        completion(failed);
        return;
    }
    // The archive goes only into a Corvex file, never over a file of another format.
    if (!ExportImport::isArchiveFileName(url.fileName())) {
        Log::assertionFailure(
            QStringLiteral("SolarSystemViewController: %1 is not a Corvex file to save into")
                .arg(url.fileName()));
        completion(failed);
        return;
    }
    // A handle of its own for the archive: the shown tree and the document's dates, with
    // the attachments read from the temporary location.
    const std::shared_ptr<IdeaDocument> archive =
        IdeaDocument::initWithFileName(url.toLocalFile(), IdeaDocument::TemporaryLocation);
    archive->setIdea(mScreen.mRootIdea);
    archive->setDateCreated(mScreen.mDoc->dateCreated());
    archive->setDateModified(mScreen.mDoc->dateModified());
    const quint64 change = mScreen.mDoc->changeCount();
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    // What the file holds once written: the edits made so far.
    const FileHolds held{mScreen.mDoc.get(), mScreen.mDoc->changeCount()};
    // The write is atomic: on any failure the old file stays as it was.
    auto pending = std::make_shared<ResultCompletion>(std::move(completion));
    ExportImport::exportDocument(archive, url, [weak, url, change, pending, held](const Status& written) {
        auto self = weak.lock();
        if (!written) {
            // The reason goes under the usual words: the user sees which file and why.
            (*pending)(MyResult::error(QStringLiteral("mac:Error:FailedToWriteFile"),
                                       QStringLiteral("Failed to save file"),
                                       written.error().localizedDescription()));
            return;
        }
        if (!self) {
            (*pending)(MyResult::OK());
            return;
        }
        if (Window* window = self->myWindow())
            window->setTitle(url.fileName());
        self->mFiles->mFileHolds = held;
        if (DocumentWindowServices* services = self->windowServices()) {
            // An edit made while the file was written is not in it.
            services->setDocumentEdited(!self->mFiles->fileHoldsEveryEdit());
            services->setDocURL(url);
        }
        if (self->mDoc) {
            self->mDoc->setRepresentativeURL(url);
            self->fileWritten(url, change);
        }
        Globals::updatePersistentAppStateNow();
        (*pending)(MyResult::OK());
    });
}

void MindMapFiles::qvImport()
{
    if (mScreen.screenOccupied())
        return;
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    mScreen.startImportingLocalFileOnCompletion([weak](const IdeaPtr& idea, const QString& docIdentifier) {
        auto self = weak.lock();
        if (!self || !idea || docIdentifier.isEmpty())
            return;
        // The imported root waits in the dock until the user drags it into place.
        if (DocumentWindowServices* window = self->windowServices()) {
            window->setDockedIdea(idea, docIdentifier);
            self->updateStatusDueToPossibleDockingUpdate();
        }
    });
}

void MindMapFiles::launchExportForType(quint64 shareType)
{
    // Nothing over another modal operation or an open editor, whose result must not be lost.
    if (mScreen.screenOccupied() || mScreen.editorOpen() || !mScreen.mDoc || !mScreen.mRootIdea)
        return;
    const std::shared_ptr<ExportScreen> screen =
        ExportScreen::create(mScreen.mRootIdea, mScreen.mDoc->location(), mScreen.mDoc->dateModified());
    if (!screen) {
        Log::warning(QStringLiteral("SolarSystemViewController: no export screen registered"));
        return;
    }
    screen->selectShareType(shareType);
    if (!mExportScreenDelegate)
        mExportScreenDelegate = std::make_shared<ExportScreenDismissal>(mScreen.sharedSelf());
    screen->setDelegate(mExportScreenDelegate);
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    if (!mScreen.setAfterEditing([weak] {
            auto self = weak.lock();
            if (!self)
                return;
            self->mFiles->mExportScreen.reset();
            if (self->currentOccupyingOperation() == kExportScreenOperation)
                self->liberateScreen(kExportScreenOperation);
        }))
        return;
    mScreen.occupyScreen(kExportScreenOperation);
    mExportScreen = screen;
    mScreen.presentViewController(screen, std::make_shared<PartialViewTransitionAnimation>());
}

void MindMapFiles::pleaseDismissSharingView(ViewController& screen)
{
    mScreen.pleaseDismissEditor(screen);
}

void MindMapFiles::qvPrintIdea()
{
    if (mScreen.screenOccupied() || !mScreen.mDoc || !mScreen.mRootIdea)
        return;
    const std::shared_ptr<MapPrinter> printer =
        MapPrinter::create(mScreen.mRootIdea, mScreen.mDoc->dateModified());
    if (!printer) {
        Log::warning(QStringLiteral("SolarSystemViewController: no printing registered"));
        return;
    }
    printer->runPrintOperation(mScreen.myWindow());
}

// ---- Closing

bool MindMapFiles::startClosingCanCloseNow()
{
    // An open editor is closed first: its block writes the edit and starts the save, which
    // the persistence queue finishes even after the document is handed back.
    if (mExportScreen)
        pleaseDismissSharingView(*mExportScreen);
    mScreen.closeOpenEditor();
    // Nothing shown, or the document handed back already (a switch to the home screen).
    if (!mScreen.mOwnIdea || !mScreen.mDoc || mScreen.mDocToken <= 0)
        return true;
    // An edit not yet answered: the window closes once it is.
    if (mScreen.currentOccupyingOperation() == SolarSystemViewController::EditUnderWayOperation) {
        mScreen.mCloseWhenEditAnswered = true;
        return false;
    }
    // A question is up already.
    if (mScreen.currentOccupyingOperation() == kCloseTempFileQuestion ||
        mScreen.currentOccupyingOperation() == kCloseLosingChangesQuestion)
        return false;
    if (const auto lost = unsavedChanges(); lost && !mCanCloseLosingChanges) {
        showCloseLosingChangesQuestion(*lost);
        return false;
    }
    const DocumentWindowServices* window = mScreen.windowServices();
    if (mScreen.mDoc->location() == IdeaDocument::TemporaryLocation && !mCanCloseTempFileIfAsked && window &&
        window->isDocumentEdited()) {
        showCloseTempFileQuestion();
        return false;
    }
    PersistenceController::singleton().releaseDocument(mScreen.mDoc, mScreen.mDocToken);
    mScreen.mDocToken = 0;
    // Corvex's own copy goes with the window once nothing is on its way into it; a quit keeps
    // it for the windows it restores.
    const Application* app = Application::instance();
    if (mScreen.savesInFlight() == 0 && (!app || !app->isQuitting()))
        PersistenceController::singleton().removeClosedCopy(mScreen.mDoc);
    return true;
}

std::optional<BaseViewController::UnsavedChanges> MindMapFiles::unsavedChanges() const
{
    if (!mSaveRetry || !mSaveRetry->pending() || !mScreen.mDoc || fileHoldsEveryEdit())
        return std::nullopt;
    return BaseViewController::UnsavedChanges{mScreen.mapName(), mSaveRetry->reason()};
}

bool MindMapFiles::keptCopyBehind() const
{
    return mSaveRetry && mSaveRetry->pending();
}

bool MindMapFiles::fileHoldsEveryEdit() const
{
    return mScreen.mDoc && mScreen.mDoc.get() == mFileHolds.document &&
           mFileHolds.changeCount == mScreen.mDoc->changeCount();
}

void MindMapFiles::saveFailed()
{
    if (!mSaveRetry) {
        std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
        mSaveRetry = std::make_unique<SaveRetry>([weak] {
            // Only while the document is open here: a closed window has handed it back.
            if (auto self = weak.lock(); self && self->mDoc && self->mDocToken > 0)
                self->updateSolarSystemAndSaveDocument();
        });
    }
    const QString reason = mScreen.mDoc ? mScreen.mDoc->lastSaveError() : QString();
    const bool first = mSaveRetry->failed(reason);
    DocumentWindowServices* window = mScreen.windowServices();
    if (!window)
        return;
    // Edited until a save succeeds, whatever the location: the window says its map is not
    // stored, unless its file holds every edit.
    window->setDocumentEdited(!fileHoldsEveryEdit());
    // Told once, not at every attempt.
    if (first) {
        const QString notice = QStringLiteral("Failed to update document");
        window->showShortNotificationToUser(reason.isEmpty() ? notice
                                                             : notice + QStringLiteral(": ") + reason);
    }
}

void MindMapFiles::saveSucceeded()
{
    if (!mSaveRetry || !mSaveRetry->succeeded())
        return;
    // A cloud document is edited only while it is not stored; a document of the temporary
    // location stays edited until the user saves it into a file.
    if (DocumentWindowServices* window = mScreen.windowServices();
        window && mScreen.mDoc && mScreen.mDoc->isCloudDocument())
        window->setDocumentEdited(false);
}

void MindMapFiles::showCloseLosingChangesQuestion(const BaseViewController::UnsavedChanges& lost)
{
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    const auto alert = LosingChangesAlert::create(
        lost, LosingChangesAlert::Action::Close,
        [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            self->liberateScreen(kCloseLosingChangesQuestion);
            // Knowingly lost: no other question about them follows.
            self->mFiles->mCanCloseLosingChanges = true;
            self->mFiles->mCanCloseTempFileIfAsked = true;
            self->mFiles->closeWindowLater();
        },
        [weak] {
            if (auto self = weak.lock())
                self->liberateScreen(kCloseLosingChangesQuestion);
        });
    mScreen.occupyScreen(kCloseLosingChangesQuestion);
    alert->showFromWindow(mScreen.myWindow());
}

void MindMapFiles::showCloseTempFileQuestion()
{
    const bool hasFile = !documentFileUrl(mScreen.mDoc).isEmpty();
    const QString text =
        hasFile
            ? Globals::normalLocalizedStringForKey(QStringLiteral("mac:CloseModifiedFile.Title"),
                                                   QStringLiteral("Do you want save the changes you made?"))
            : Globals::normalLocalizedStringForKey(
                  QStringLiteral("mac:CloseTempFile.Title"),
                  QStringLiteral("Do you want save the changes you made to the New file?"));
    const auto alert = CustomAlertView::create(QString(), text);
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    alert->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Save")), 1, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        self->liberateScreen(kCloseTempFileQuestion);
        const auto closeWhenSaved = [weak](const MyResultPtr& result) {
            auto screen = weak.lock();
            if (!screen || !result)
                return;
            if (result->isOK())
                screen->mFiles->closeWindowLater();
            else
                showResultIfError(result);
        };
        const QUrl url = saveTargetUrl(self->mDoc);
        if (url.isEmpty())
            self->mFiles->performSaveLocalFileWithCompletion(closeWhenSaved);
        else
            self->mFiles->doSaveLocalFile(url, closeWhenSaved);
    });
    alert->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Do Not Save")), 1,
                     [weak] {
                         auto self = weak.lock();
                         if (!self)
                             return;
                         self->liberateScreen(kCloseTempFileQuestion);
                         self->mFiles->mCanCloseTempFileIfAsked = true;
                         self->mFiles->closeWindowLater();
                     });
    alert->addButton(Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Cancel")), 3, [weak] {
        if (auto self = weak.lock())
            self->liberateScreen(kCloseTempFileQuestion);
    });
    mScreen.occupyScreen(kCloseTempFileQuestion);
    alert->showFromWindow(mScreen.myWindow());
}

void MindMapFiles::closeWindowLater()
{
    // Not from inside the question the window's own close is still waiting on.
    std::weak_ptr<SolarSystemViewController> weak = mScreen.sharedSelf();
    MainQueue::post([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        if (Window* window = self->myWindow())
            window->performClose();
    });
}

} // namespace corvex
