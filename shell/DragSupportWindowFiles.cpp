// Files dropped on a window from outside: which are taken, and their import into the dock.

#include "graphics/QVImage.h"
#include "model/Globals.h"
#include "shell/DragSupportWindow.h"
#include "storage/PersistenceController.h"

#include <QFileInfo>
#include <QUrl>

namespace corvex {

bool DragSupportWindow::isPathReferringToSupportedImage(const QString& path)
{
    const QString lower = path.toLower();
    return lower.endsWith(QLatin1String(".png")) || lower.endsWith(QLatin1String(".jpg")) ||
           lower.endsWith(QLatin1String(".jpeg"));
}

bool DragSupportWindow::isPathReferringToIdeaDocumentFile(const QString& path)
{
    const QString lower = path.toLower();
    return lower.endsWith(QLatin1String(".corvex")) || lower.endsWith(QLatin1String(".opml"));
}

bool DragSupportWindow::isPathReferringToSupportedFileType(const QString& path)
{
    return isPathReferringToSupportedImage(path) || isPathReferringToIdeaDocumentFile(path);
}

QString DragSupportWindow::supportedFilePathFromDrag(const Drag& drag)
{
    if (!drag.fileNames || drag.fileNames->size() != 1)
        return QString();
    const QString& path = drag.fileNames->front();
    return isPathReferringToSupportedFileType(path) ? path : QString();
}

DragOperation DragSupportWindow::fileDropOperation(const Drag& drag)
{
    if (supportedFilePathFromDrag(drag).isEmpty())
        return DragOperation::None;
    // Only ever a copy: a source told "move" deletes the user's file once the drop is taken.
    if (hasAnyOf(drag.sourceOperationMask, DragOperation::Copy | DragOperation::Generic))
        return DragOperation::Copy;
    return DragOperation::None;
}

bool DragSupportWindow::handleDataFromFile(const QString& path, FileCompletion completion)
{
    // Shared by the roads below: one of them answers.
    auto pending = std::make_shared<FileCompletion>(std::move(completion));
    const auto fail = [pending] { (*pending)(nullptr, QString()); };
    // Only a regular file (a link is followed) is read: a device or a pipe would never end.
    const QFileInfo file(path);
    const QUrl url = QUrl::fromLocalFile(path);
    if (path.isEmpty() || !file.isAbsolute() || !file.isFile() || !url.isValid()) {
        fail();
        return false;
    }
    const auto stored = [pending](const IdeaPtr& idea, const QString& docIdentifier) {
        (*pending)(idea, docIdentifier);
    };
    if (isPathReferringToIdeaDocumentFile(path)) {
        PersistenceController::singleton().importAndStoreDocument(
            url, [stored](const Result<PersistenceController::ImportedDocument>& imported) {
                if (imported.ok())
                    stored(imported.value().idea, imported.value().docIdentifier);
                else
                    stored(nullptr, QString());
            });
        return true;
    }
    if (!isPathReferringToSupportedImage(path)) {
        fail();
        return false;
    }
    const std::optional<QVImage> picture = QVImage::readFromURL(path);
    if (!picture) {
        fail();
        return false;
    }
    PersistenceController::singleton().importAndStoreImage(*picture, stored);
    return true;
}

void DragSupportWindow::fileImported(const IdeaPtr& idea, const QString& docIdentifier)
{
    mDelayDragEnding = false;
    if (idea && !docIdentifier.isEmpty()) {
        setDockedIdea(idea, docIdentifier);
        showShortNotificationToUser(
            Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Copied to clipboard")));
        handleDragEndingForSource(true, true, DragResult::Copied);
        return;
    }
    showShortNotificationToUser(
        Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Error importing contents")));
    handleDragEndingForSource(true, true, DragResult::NotAccepted);
}

} // namespace corvex
