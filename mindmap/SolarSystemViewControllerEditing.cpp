// The editing flows of the mind-map screen: the idea editor popover for text and new ideas,
// the picture viewer, the web-link editor, and adding pictures and web links to the dock.
//
// An editor's result is written when it closes into the idea found again by identifier in
// the tree shown then (a storage notice may have replaced the tree meanwhile), and every
// editor occupies the screen while it is up, so that no other presentation replaces the
// block that writes its result.

#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/PlanetDrawer.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Color.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/ObjectID.h"
#include "platform/core/Log.h"
#include "platform/ui/FilePanelRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "storage/PersistenceController.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

const QString kShowingIdeaEditor = QStringLiteral("ShowingIdeaEditor");
const QString kIdeaEditing = QStringLiteral("IdeaEditing");
const QString kWebLinkAddition = QStringLiteral("WebLinkAddition");
const QString kFailedToUpdate = QStringLiteral("Failed to update document");

std::shared_ptr<EditorFactory> editorFactoryOrLog()
{
    std::shared_ptr<EditorFactory> factory = EditorFactory::current();
    if (!factory)
        Log::warning(QStringLiteral("SolarSystemViewController: no editors registered"));
    return factory;
}

// The colour proposed for a new child of `centre`.
ColorPtr proposedColorForNewChild(const IdeaPtr& centre)
{
    const std::size_t next = (centre ? centre->ideas().size() : 0) + 1;
    if (centre && centre->hasColor()) {
        const std::shared_ptr<ColorTheme> theme = centre->colorTheme();
        if (theme && !theme->colors().empty())
            return theme->colors()[next % theme->colors().size()];
        return centre->color();
    }
    const auto& themes = ColorTheme::standardThemes();
    if (themes.empty())
        return nullptr;
    const auto& theme = themes[next % themes.size()];
    return theme && !theme->colors().empty() ? theme->colors().front() : nullptr;
}

} // namespace

void SolarSystemViewController::onEditIdea(const QString& ideaIdentifier)
{
    if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || screenOccupied() || editorOpen())
        return;
    const IdeaPtr idea = ideaForIdea(ideaIdentifier);
    if (!idea)
        return;
    switch (idea->ideaType()) {
    case IdeaTypeText:
        doEditTextualIdea(idea);
        break;
    case IdeaTypeImage:
        doEditImageIdea(idea);
        break;
    case IdeaTypeURL:
        doEditURLIdea(idea);
        break;
    default:
        break;
    }
}

void SolarSystemViewController::showEditorPopover(const std::shared_ptr<IdeaEditor>& editor,
                                                  const Rect& anchorInMindMap)
{
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!view || !editor)
        return;
    const Rect anchor = view->convertRectFromView(anchorInMindMap, mSolarSystem.get());
    occupyScreen(kShowingIdeaEditor);
    mIdeaEditor = editor;
    editor->showRelativeToRect(anchor, *view);
}

void SolarSystemViewController::doEditTextualIdea(const IdeaPtr& idea)
{
    const auto factory = editorFactoryOrLog();
    if (!factory || !idea || !mSolarSystem || editorOpen() || screenOccupied())
        return;
    Rect anchor;
    if (idea == mRealIdea) {
        const double r = PlanetDrawer::radiusForPlanetType(1);
        const Point centre = ViewExtensions::centerPoint(*mSolarSystem);
        anchor = Rect(centre.x - r, centre.y - r, 2 * r, 2 * r);
    } else {
        const std::int64_t index = indexOfIdeaWithIdentifier(idea->identifier());
        if (index == NotFound) {
            Log::assertionFailure(__LINE__, "-[SolarSystemViewController doEditTextualIdea:]");
            return;
        }
        anchor = mSolarSystem->popoverRectForIdeaAtIndex(index);
    }
    const std::shared_ptr<IdeaEditor> editor = factory->makeIdeaEditor();
    if (!editor)
        return;
    presetIdeaEditor(*editor, *idea);
    editor->setDelegate(std::static_pointer_cast<IdeaEditorDelegate>(sharedSelf()));
    setUserInteractionEnabled(false);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    const QString identifier = idea->identifier();
    setAfterEditing([weak, editor, identifier] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->currentOccupyingOperation() == kShowingIdeaEditor)
            self->liberateScreen(kShowingIdeaEditor);
        self->setUserInteractionEnabled(true);
        if (!editor->didChange())
            return;
        const IdeaPtr target = self->editedIdeaOrNotify(identifier);
        if (!target)
            return;
        self->applyIdeaValues(target->identifier(), [editor](Idea& edited) {
            takeIdeaEditorValues(*editor, edited);
            if (editor->didRecolor())
                edited.applyColorTheme();
        });
    });
    showEditorPopover(editor, anchor);
}

void SolarSystemViewController::onAddNewIdeaAfterIndex(std::int64_t index, const Rect& fromRect)
{
    if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || screenOccupied() || editorOpen() ||
        !mRealIdea)
        return;
    const auto factory = editorFactoryOrLog();
    const std::shared_ptr<IdeaEditor> editor = factory ? factory->makeIdeaEditor() : nullptr;
    if (!editor)
        return;
    IdeaValues proposed = editor->values();
    proposed.set(IdeaMember::Color, proposedColorForNewChild(mRealIdea));
    proposed.set(IdeaMember::ColorThemeType, qint64(ColorThemeTypeLighterColor));
    editor->setValues(proposed);
    editor->setDelegate(std::static_pointer_cast<IdeaEditorDelegate>(sharedSelf()));
    setUserInteractionEnabled(false);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    setAfterEditing([weak, editor, index] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->currentOccupyingOperation() == kShowingIdeaEditor)
            self->liberateScreen(kShowingIdeaEditor);
        if (!editor->didChange())
            return;
        // A new idea takes the editor's values as an edited one does.
        const IdeaPtr idea = Idea::initWithText(QString());
        takeIdeaEditorValues(*editor, *idea);
        self->addNewIdeaAfterIndex(index, idea);
    });
    showEditorPopover(editor, fromRect);
}

void SolarSystemViewController::editIdeaViewDidClose()
{
    mIdeaEditor.reset();
    runAfterEditing();
    makeMindMapFirstResponder();
}

void SolarSystemViewController::slideUpEditorDismissed()
{
    makeMindMapFirstResponder();
}

void SolarSystemViewController::doEditImageIdea(const IdeaPtr& idea)
{
    const auto factory = editorFactoryOrLog();
    if (!factory || !idea || !mDoc || editorOpen() || screenOccupied())
        return;
    const std::shared_ptr<IdeaDocument> document = mDoc;
    PictureViewer::Loader loader = [document, idea](PictureViewer::ImageCompletion completion) {
        document->fetchImageForIdea(idea, std::move(completion));
    };
    const std::shared_ptr<PictureViewer> viewer = factory->makePictureViewer(
        std::static_pointer_cast<PictureViewerDelegate>(sharedSelf()), std::move(loader));
    if (!viewer)
        return;
    const QString identifier = idea->identifier();
    presentSlideUpEditor(viewer, [viewer, identifier](SolarSystemViewController& self) {
        const QVImage image = viewer->changedImage();
        if (!image.hasImage() || !self.mDoc)
            return;
        const QByteArray png = image.pngData();
        if (png.isEmpty())
            return;
        const ObjectID attachment = ObjectID::createFromData(png, QStringLiteral("png"));
        std::weak_ptr<SolarSystemViewController> again = self.sharedSelf();
        PersistenceController::singleton().storeAttachment(
            attachment, png, self.mDoc->location(), [again, image, attachment, identifier](bool ok) {
                auto screen = again.lock();
                if (!screen || !ok)
                    return;
                const IdeaPtr target = screen->editedIdeaOrNotify(identifier);
                if (!target)
                    return;
                screen->applyIdeaValues(target->identifier(), [image, attachment](Idea& edited) {
                    edited.updateImage(image, attachment);
                });
            });
    });
}

void SolarSystemViewController::doEditURLIdea(const IdeaPtr& idea)
{
    const auto factory = editorFactoryOrLog();
    if (!factory || !idea || editorOpen() || screenOccupied())
        return;
    const std::shared_ptr<WebLinkEditor> editor = factory->makeWebLinkEditor(
        std::static_pointer_cast<WebLinkEditorDelegate>(sharedSelf()), idea->URL());
    if (!editor)
        return;
    const QString identifier = idea->identifier();
    presentSlideUpEditor(editor, [editor, identifier](SolarSystemViewController& self) {
        const QString url = editor->resultURL();
        if (url.isNull())
            return;
        const IdeaPtr target = self.editedIdeaOrNotify(identifier);
        if (!target)
            return;
        self.applyIdeaValues(target->identifier(), [url, page = editor->resultPageImage()](Idea& edited) {
            edited.setURL(url);
            // A failed page capture keeps the picture the link had.
            if (page.hasImage())
                edited.updateImage(page, ObjectID());
        });
    });
}

void SolarSystemViewController::presentSlideUpEditor(
    const std::shared_ptr<BaseViewController>& editor,
    std::function<void(SolarSystemViewController&)> afterClose)
{
    setUserInteractionEnabled(false);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    setAfterEditing([weak, afterClose = std::move(afterClose)] {
        auto self = weak.lock();
        if (!self)
            return;
        self->endSlideUpEditing();
        afterClose(*self);
    });
    occupyScreen(kIdeaEditing);
    presentSlideUp(editor);
}

void SolarSystemViewController::closeOpenEditor()
{
    if (!editorOpen())
        return;
    if (const std::shared_ptr<IdeaEditor> editor = mIdeaEditor) {
        editor->close();
        // An editor that did not report its closing is closed here all the same.
        if (editorOpen())
            editIdeaViewDidClose();
        return;
    }
    if (const std::shared_ptr<BaseViewController> slideUp = slideUpEditor()) {
        if (auto viewer = std::dynamic_pointer_cast<PictureViewer>(slideUp))
            viewer->finish();
        else if (auto linkEditor = std::dynamic_pointer_cast<WebLinkEditor>(slideUp))
            linkEditor->finish();
        if (editorOpen())
            pleaseDismissEditor(*slideUp);
    }
}

void SolarSystemViewController::pleaseStartWebLinkAddition()
{
    if (screenOccupied() || editorOpen())
        return;
    const auto factory = editorFactoryOrLog();
    const std::shared_ptr<WebLinkEditor> editor =
        factory ? factory->makeWebLinkEditor(std::static_pointer_cast<WebLinkEditorDelegate>(sharedSelf()),
                                             QString())
                : nullptr;
    if (!editor)
        return;
    occupyScreen(kWebLinkAddition);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    setAfterEditing([weak, editor] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->currentOccupyingOperation() == kWebLinkAddition)
            self->liberateScreen(kWebLinkAddition);
        self->setUserInteractionEnabled(true);
        const QString url = editor->resultURL();
        if (url.isNull())
            return;
        const IdeaPtr idea = Idea::initWithURL(url, editor->resultPageImage());
        const std::shared_ptr<IdeaDocument> document =
            IdeaDocument::initWithFileName(QString(), IdeaDocument::TemporaryLocation);
        if (!idea || !document)
            return;
        document->setIdea(idea);
        const QDateTime now = Globals::currentDate();
        document->setDateCreated(now);
        document->setDateModified(now);
        std::weak_ptr<SolarSystemViewController> again = self;
        PersistenceController::singleton().createDocument(document, [again, document, idea](qint64 token) {
            if (token <= 0)
                return;
            PersistenceController::singleton().releaseDocument(document, token, [again, document, idea] {
                auto screen = again.lock();
                if (!screen)
                    return;
                if (DocumentWindowServices* window = screen->windowServices()) {
                    window->setDockedIdea(idea, document->docIdentifier());
                    screen->refreshDockFromWindow();
                }
            });
        });
    });
    presentSlideUp(editor);
}

void SolarSystemViewController::pleaseStartImageAddition()
{
    if (screenOccupied())
        return;
    FilePanelRunner::OpenPanel panel;
    panel.allowedFileTypes = QStringList{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("tiff"),
                                         QStringLiteral("jpeg"), QStringLiteral("gif")};
    panel.directory = FilePanelRunner::desktopDirectory();
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    Runners::filePanelRunner()->beginOpenPanel(
        panel, myWindow(), [weak](int response, const QList<QUrl>& urls) {
            if (response != FilePanelRunner::OK || urls.isEmpty())
                return;
            // Bounded decoding: a corrupt or oversized picture reads as none and adds nothing.
            const std::optional<QVImage> image = QVImage::readFromURL(urls.first());
            if (!image || !image->hasImage()) {
                Log::warning(QStringLiteral("SolarSystemViewController: no picture in %1")
                                 .arg(urls.first().toString()));
                return;
            }
            PersistenceController::singleton().importAndStoreImage(
                *image, [weak](const IdeaPtr& idea, const QString& docIdentifier) {
                    auto self = weak.lock();
                    if (!self || !idea || docIdentifier.isEmpty())
                        return;
                    if (DocumentWindowServices* window = self->windowServices()) {
                        window->setDockedIdea(idea, docIdentifier);
                        self->refreshDockFromWindow();
                    }
                });
        });
}

void SolarSystemViewController::refreshDockFromWindow()
{
    DocumentWindowServices* window = windowServices();
    if (!window)
        return;
    const IdeaPtr docked = window->currentDockedIdea();
    if (mDockAreaView) {
        mDockAreaView->takeIdeaInside(docked.get(), window->currentDockedDocIdentifier());
        mDockAreaView->setHidden(!(mSolarSystemState == StateMindMap && docked));
    }
    followDockedIdeaShadows();
}

IdeaPtr SolarSystemViewController::editedIdeaOrNotify(const QString& identifier)
{
    const IdeaPtr idea = mRootIdea ? mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    if (!idea) {
        if (DocumentWindowServices* window = windowServices())
            window->showShortNotificationToUser(kFailedToUpdate);
    }
    return idea;
}

void SolarSystemViewController::endSlideUpEditing()
{
    if (currentOccupyingOperation() == kIdeaEditing)
        liberateScreen(kIdeaEditing);
    setUserInteractionEnabled(true);
}

} // namespace corvex
