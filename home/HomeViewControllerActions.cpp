// What the home screen does with a document: open it in the mind-map screen, edit its root
// idea in place through the editor seam, create, delete, the context menu and imports.
// Every opened token is handed on exactly once: to the mind-map screen, to an editor's
// after-editing block, or back to the storage layer.

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/DocumentWindowServices.h"
#include "mindmap/IdeaView.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ApplicationDelegate.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/ObjectID.h"
#include "platform/core/Log.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "shell/TopBarView.h"
#include "storage/PersistenceController.h"
#include "toolkit/CompactDateTimeFormatter.h"
#include "toolkit/CustomAlertView.h"

#include <QDateTime>
#include <any>

namespace corvex {

namespace {

QString homeDocIdentifierOfItem(const MenuItem& item)
{
    const QString* identifier = std::any_cast<QString>(&item.representedObject());
    return identifier ? *identifier : QString();
}

QString homeText(const char* key)
{
    return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString());
}

} // namespace

void HomeViewController::releaseToken(const std::shared_ptr<IdeaDocument>& document, qint64 token)
{
    if (document && token > 0)
        PersistenceController::singleton().releaseDocument(document, token, {});
}

void HomeViewController::showOpeningFailure(const std::shared_ptr<IdeaDocument>& document)
{
    if (document && !document->lastUserFriendlyError().isEmpty()) {
        showSimpleAlertViewWithTitle(
            Globals::normalLocalizedStringForKey(QStringLiteral("DocumentOpeningFailureDialog:Title"),
                                                 QStringLiteral("Cannot open document")),
            document->lastUserFriendlyError());
        return;
    }
    showSimpleAlertViewWithTitle(homeText("DialogTitle.Oops"),
                                 mLocation == IdeaDocument::ICloudLocation
                                     ? homeText("DocumentOpeningFailedFromICloud:Message")
                                     : homeText("GenericDocumentOpeningFailedDialog:Message"));
}

void HomeViewController::openProxy(const IdeaProxyPtr& proxy, std::function<void(qint64 token)> opened)
{
    const std::shared_ptr<IdeaDocument> document = proxy->doc();
    occupyScreen(OpenDocumentOperation);
    PersistenceController::singleton().openDocument(
        document, whenDocumentOpened(document, [proxy, document, opened = std::move(opened)](
                                                   HomeViewController& self, qint64 token) {
            if (token < 1) {
                self.showOpeningFailure(document);
                return;
            }
            if (document->inConflict()) {
                self.handleConflict(proxy, token);
                return;
            }
            opened(token);
        }));
}

PersistenceController::TokenCompletion
HomeViewController::whenDocumentOpened(const std::shared_ptr<IdeaDocument>& document,
                                       std::function<void(HomeViewController& self, qint64 token)> then)
{
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    return [weak, document, then = std::move(then)](qint64 token) {
        auto self = weak.lock();
        if (!self) {
            if (token > 0)
                PersistenceController::singleton().releaseDocument(document, token, {});
            return;
        }
        self->liberateScreen(OpenDocumentOperation);
        then(*self, token);
    };
}

void HomeViewController::handleConflict(const IdeaProxyPtr& proxy, qint64 token)
{
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    PersistenceController& storage = PersistenceController::singleton();
    storage.releaseDocument(proxy->doc(), token, [weak, proxy] {
        auto self = weak.lock();
        if (!self)
            return;
        const DocumentVersionPtr version = PersistenceController::singleton().findConflictingVersion(proxy);
        if (!version)
            return;
        const QDateTime modified = version->modificationDate();
        const QString message =
            homeText("ConflictDialog:Message")
                .arg(modified.isValid() ? CompactDateTimeFormatter::singleton().formatDateTime(modified, true)
                                        : QString(),
                     version->localizedNameOfSavingComputer());
        CustomAlertView alert(homeText("ConflictDialog:Title"), message);
        alert.addButton(homeText("Choice.Cancel"), CAVButton::CancelType, [weak] {
            if (auto screen = weak.lock())
                screen->liberateScreen(ConflictDialogOperation);
        });
        alert.addButton(homeText("ConflictDialog:AcceptCopying"), CAVButton::NormalType, [weak, proxy] {
            PersistenceController::singleton().handleConflictForProxy(proxy, [weak](bool) {
                if (auto screen = weak.lock())
                    screen->liberateScreen(ConflictDialogOperation);
            });
        });
        self->occupyScreen(ConflictDialogOperation);
        alert.showFromWindow(self->myWindow());
    });
}

void HomeViewController::onDrillDownTo(const QString& docIdentifier, bool startEditing)
{
    if (screenOccupied())
        return;
    if (!PersistenceController::singleton().isLocationReadyForUse(
            IdeaDocument::locationFromIdentifier(docIdentifier))) {
        // The grid shows a document made here before the location's first complete list:
        // the open waits for that list (the latest one asked for, once).
        const bool waiting = !mOpenWaitingForList.isNull();
        mOpenWaitingForList = docIdentifier;
        mOpenWaitingStartsEditing = startEditing;
        if (!waiting)
            PersistenceController::singleton().whenListComplete(
                docIdentifier, [weak = std::weak_ptr<HomeViewController>(sharedSelf())] {
                    const auto self = weak.lock();
                    if (self && !self->screenOccupied())
                        self->openListedDocument(std::exchange(self->mOpenWaitingForList, QString()),
                                                 self->mOpenWaitingStartsEditing);
                    else if (self)
                        self->mOpenWaitingForList = QString();
                });
        return;
    }
    openListedDocument(docIdentifier, startEditing);
}

void HomeViewController::openListedDocument(const QString& docIdentifier, bool startEditing)
{
    const IdeaProxyPtr proxy = PersistenceController::singleton().findProxy(docIdentifier);
    if (!proxy) {
        // Not (or no longer) in the list the user saw it in: said, not dropped.
        showOpeningFailure(nullptr);
        return;
    }
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    openProxy(proxy, [weak, proxy, startEditing](qint64 token) {
        auto self = weak.lock();
        if (!self)
            return;
        if (startEditing)
            self->editOpenedProxy(proxy, token);
        else
            self->openSolarSystemForIdeaDocument(proxy->doc(), token, false);
    });
}

void HomeViewController::openSolarSystemForIdeaDocument(const std::shared_ptr<IdeaDocument>& document,
                                                        qint64 token, bool startEditing)
{
    DocumentWindowServices* window = windowServices();
    if (screenOccupied() || !window || !document) {
        releaseToken(document, token);
        return;
    }
    const auto screen = SolarSystemViewController::initWithDoc(document, token, QString());
    screen->makeSearch(mTopBar ? mTopBar->currentSearchText() : QString());
    occupyScreen(OpenSolarSystemOperation);
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    std::weak_ptr<SolarSystemViewController> weakScreen = screen;
    window->switchToViewController(screen, true, [weak, weakScreen, startEditing] {
        if (auto self = weak.lock())
            self->liberateScreen(OpenSolarSystemOperation);
        auto mindMap = weakScreen.lock();
        if (startEditing && mindMap && mindMap->rootIdea())
            mindMap->onEditIdea(mindMap->rootIdea()->identifier());
    });
}

// ---- Editing in place

void HomeViewController::applyAndSave(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                      const IdeaPtr& idea, const std::function<void(Idea& idea)>& apply)
{
    document->setIdea(idea);
    // The edit goes the one way edits go; the document is written, then handed back.
    IdeaEditingService editing(
        [document] { return document; },
        [document, token](IdeaEditingService::BoolCompletion) {
            PersistenceController::singleton().saveDocument(document, token, [document, token](bool) {
                PersistenceController::singleton().releaseDocument(document, token, {});
            });
        });
    editing.applyValues(idea->identifier(), apply, [document, token](const IdeaEditResult& result) {
        if (!result.made())
            PersistenceController::singleton().releaseDocument(document, token, {});
    });
}

void HomeViewController::editOpenedProxy(const IdeaProxyPtr& proxy, qint64 token)
{
    const std::shared_ptr<IdeaDocument> document = proxy ? proxy->doc() : nullptr;
    const IdeaPtr idea = document ? document->idea() : nullptr;
    const std::shared_ptr<EditorFactory> factory = EditorFactory::current();
    // A root of another type, an occupied screen or no editor: the token goes back at once.
    if (!idea || screenOccupied() || editorOpen() || !factory) {
        if (!factory)
            Log::warning(QStringLiteral("HomeViewController: no editors registered"));
        releaseToken(document, token);
        return;
    }
    switch (idea->ideaType()) {
    case IdeaTypeText:
        editOpenedTextualIdeaProxy(proxy, idea, token);
        break;
    case IdeaTypeImage:
        editOpenedImageIdeaProxy(proxy, idea, token);
        break;
    case IdeaTypeURL:
        editOpenedURLIdeaProxy(proxy, idea, token);
        break;
    default:
        releaseToken(document, token);
        break;
    }
}

void HomeViewController::editOpenedTextualIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea,
                                                    qint64 token)
{
    const std::shared_ptr<IdeaDocument> document = proxy->doc();
    const std::shared_ptr<IdeaEditor> editor = EditorFactory::current()->makeIdeaEditor();
    const std::shared_ptr<View>& view = viewIfLoaded();
    if (!editor || !view) {
        releaseToken(document, token);
        return;
    }
    presetIdeaEditor(*editor, *idea);
    editor->setDelegate(std::static_pointer_cast<IdeaEditorDelegate>(sharedSelf()));
    occupyScreen(IdeaEditingOperation);
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    setAfterEditing([weak, editor, document, idea, token] {
        if (auto self = weak.lock()) {
            self->liberateScreen(IdeaEditingOperation);
            self->mIdeaEditor.reset();
        }
        if (!editor->didChange()) {
            PersistenceController::singleton().releaseDocument(document, token, {});
            return;
        }
        HomeViewController::applyAndSave(document, token, idea, [editor](Idea& edited) {
            takeIdeaEditorValues(*editor, edited);
            if (editor->didRecolor())
                edited.applyColorTheme();
        });
    });
    mIdeaEditor = editor;
    IdeaView* item =
        mIdeaListView ? mIdeaListView->visibleIdeaViewForDocument(proxy->docIdentifier()) : nullptr;
    const Rect anchor =
        item && item->superview() ? view->convertRectFromView(item->frame(), item->superview()) : Rect();
    editor->showRelativeToRect(anchor, *view);
}

void HomeViewController::editOpenedImageIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea,
                                                  qint64 token)
{
    const std::shared_ptr<IdeaDocument> document = proxy->doc();
    PictureViewer::Loader loader = [document, idea](PictureViewer::ImageCompletion completion) {
        document->fetchImageForIdea(idea, std::move(completion));
    };
    const auto viewer = EditorFactory::current()->makePictureViewer(
        std::static_pointer_cast<PictureViewerDelegate>(sharedSelf()), std::move(loader));
    if (!viewer) {
        releaseToken(document, token);
        return;
    }
    presentSlideUpEditor(viewer, [viewer, document, idea, token] {
        const QVImage image = viewer->changedImage();
        const QByteArray png = image.hasImage() ? image.pngData() : QByteArray();
        if (png.isEmpty()) {
            PersistenceController::singleton().releaseDocument(document, token, {});
            return;
        }
        const ObjectID attachment = ObjectID::createFromData(png, QStringLiteral("png"));
        PersistenceController::singleton().storeAttachment(
            attachment, png, document->location(), [document, idea, image, attachment, token](bool ok) {
                if (!ok) {
                    PersistenceController::singleton().releaseDocument(document, token, {});
                    return;
                }
                HomeViewController::applyAndSave(document, token, idea, [image, attachment](Idea& edited) {
                    edited.updateImage(image, attachment);
                });
            });
    });
}

void HomeViewController::editOpenedURLIdeaProxy(const IdeaProxyPtr& proxy, const IdeaPtr& idea, qint64 token)
{
    const std::shared_ptr<IdeaDocument> document = proxy->doc();
    const auto editor = EditorFactory::current()->makeWebLinkEditor(
        std::static_pointer_cast<WebLinkEditorDelegate>(sharedSelf()), idea->URL());
    if (!editor) {
        releaseToken(document, token);
        return;
    }
    presentSlideUpEditor(editor, [editor, document, idea, token] {
        const QString url = editor->resultURL();
        if (url.isNull()) {
            PersistenceController::singleton().releaseDocument(document, token, {});
            return;
        }
        HomeViewController::applyAndSave(document, token, idea,
                                         [url, page = editor->resultPageImage()](Idea& edited) {
                                             edited.setURL(url);
                                             // A failed page capture keeps the picture the link had.
                                             if (page.hasImage())
                                                 edited.updateImage(page, ObjectID());
                                         });
    });
}

void HomeViewController::presentSlideUpEditor(const std::shared_ptr<BaseViewController>& editor,
                                              std::function<void()> afterEditing)
{
    occupyScreen(IdeaEditingOperation);
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    setAfterEditing([weak, afterEditing = std::move(afterEditing)] {
        if (auto self = weak.lock())
            self->liberateScreen(IdeaEditingOperation);
        afterEditing();
    });
    presentSlideUp(editor);
}

void HomeViewController::editIdeaViewDidClose()
{
    runAfterEditing();
}

// ---- New document

void HomeViewController::pleaseCreateNewIdea()
{
    onAddNewIdea();
}

void HomeViewController::onAddNewIdea()
{
    if (screenOccupied())
        return;
    PersistenceController& storage = PersistenceController::singleton();
    const auto list = storage.proxyListForLocation(mLocation);
    const std::size_t count = list ? list->size() : 0;
    const IdeaPtr idea = Idea::initWithText(QString(QLatin1String("")));
    const auto& themes = ColorTheme::standardThemes();
    if (!themes.empty()) {
        const auto& theme = themes[(count + 1) % themes.size()];
        if (theme && !theme->colors().empty())
            idea->setColor(theme->colors().front());
    }
    idea->setColorThemeType(1);
    const auto document = IdeaDocument::initWithFileName(QString(), mLocation);
    document->setIdea(idea);
    document->setDateCreated(QDateTime::currentDateTimeUtc());
    document->setDateModified(document->dateCreated());
    // Held until the switch, so a second click cannot make a second document.
    occupyScreen(OpenDocumentOperation);
    storage.createDocument(document,
                           whenDocumentOpened(document, [document](HomeViewController& self, qint64 token) {
                               if (token >= 1)
                                   self.openSolarSystemForIdeaDocument(document, token, true);
                           }));
}

// ---- Deleting

void HomeViewController::deleteIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                    EditCompletion completion)
{
    if (ideaIdentifier.isNull() && PersistenceController::singleton().findDocument(docIdentifier)) {
        const auto app = Globals::app();
        if (app && !app->canWeSafelyDeleteIdea(QString(), docIdentifier)) {
            showNonblockingAlertViewWithTitle(
                QString(QLatin1String("")),
                Globals::normalLocalizedStringForKey(
                    QString(), QStringLiteral("Document is open in other window. Please close the window "
                                              "before deleting document.")));
            IdeaEditingService::refuseLater(std::move(completion), QStringLiteral("open in another window"));
            return;
        }
    }
    mEditing.deleteStoredIdea(ideaIdentifier, docIdentifier, std::move(completion));
}

void HomeViewController::deleteDocument(const QString& docIdentifier, EditCompletion completion)
{
    deleteIdea(QString(), docIdentifier, std::move(completion));
}

HomeViewController::EditCompletion HomeViewController::holdScreenUntilAnswered()
{
    occupyScreen(EditUnderWayOperation);
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    return [weak](const IdeaEditResult&) {
        auto self = weak.lock();
        if (self && self->currentOccupyingOperation() == EditUnderWayOperation)
            self->liberateScreen(EditUnderWayOperation);
    };
}

// ---- Context menu

std::shared_ptr<MenuItem>
HomeViewController::menuItemForDoc(const QString& docIdentifier, const QString& title,
                                   void (HomeViewController::*action)(const MenuItem&))
{
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    auto item = MenuItem::create(title, [weak, action](MenuItem& chosen) {
        if (auto self = weak.lock())
            ((*self).*action)(chosen);
    });
    item->setKeyEquivalent(QString());
    item->setRepresentedObject(docIdentifier);
    return item;
}

std::shared_ptr<Menu> HomeViewController::onRightClickAtDocument(const QString& docIdentifier)
{
    auto menu = Menu::create(QString());
    menu->addItem(menuItemForDoc(docIdentifier, QStringLiteral("Open"), &HomeViewController::onOpenItem));
    menu->addItem(menuItemForDoc(docIdentifier, QStringLiteral("Open in New Window"),
                                 &HomeViewController::onOpenItemInNewWindow));
    menu->addItem(MenuItem::separator());
    menu->addItem(menuItemForDoc(docIdentifier, QStringLiteral("Edit"), &HomeViewController::onEditItem));
    menu->addItem(MenuItem::separator());
    menu->addItem(menuItemForDoc(docIdentifier, QStringLiteral("Delete"), &HomeViewController::onDeleteItem));
    menu->addItem(MenuItem::separator());
    return menu;
}

void HomeViewController::onOpenItem(const MenuItem& item)
{
    // Checked and cleaned up as a double click is: the menu may be chosen while another
    // operation holds the screen, and a failed open is told, not handed on.
    onDrillDownTo(homeDocIdentifierOfItem(item), false);
}

void HomeViewController::onOpenItemInNewWindow(const MenuItem& item)
{
    if (const auto app = Globals::app())
        app->openDocumentInNewWindow(homeDocIdentifierOfItem(item), QString());
}

void HomeViewController::onEditItem(const MenuItem& item)
{
    onDrillDownTo(homeDocIdentifierOfItem(item), true);
}

void HomeViewController::onDeleteItem(const MenuItem& item)
{
    if (screenOccupied())
        return;
    const QString docIdentifier = homeDocIdentifierOfItem(item);
    // At once when the location's list is complete; for a document shown before the first
    // complete list, once it comes.
    PersistenceController::singleton().whenListComplete(
        docIdentifier, [weak = std::weak_ptr<HomeViewController>(sharedSelf()), docIdentifier] {
            if (const auto self = weak.lock(); self && !self->screenOccupied())
                self->askToDeleteDocument(docIdentifier);
        });
}

void HomeViewController::askToDeleteDocument(const QString& docIdentifier)
{
    if (!PersistenceController::singleton().findProxy(docIdentifier))
        return;
    occupyScreen(OpenDocumentOperation);
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    PersistenceController::singleton().fetchRootIdea(
        docIdentifier, [weak, docIdentifier](const IdeaPtr& root) {
            auto self = weak.lock();
            if (!self)
                return;
            self->liberateScreen(OpenDocumentOperation);
            if (!root)
                return;
            QString text;
            if (root->isLink())
                text = QString();
            else if (!root->ideas().empty())
                // The whole document goes: its root counts with what lies below it.
                text = Globals::normalLocalizedStringForKey(
                           QString(), QStringLiteral("Element contains %d sub-elements. Are you sure?"))
                           .replace(QStringLiteral("%d"), QString::number(root->calculateWholeTreeSize()));
            else if (root->ideaType() == IdeaTypeImage)
                text = Globals::normalLocalizedStringForKey(
                    QString(), QStringLiteral("Element contains an image. Are you sure?"));
            else if (root->hasNote())
                text = Globals::normalLocalizedStringForKey(
                    QString(), QStringLiteral("Element contains a note. Are you sure?"));
            if (text.isEmpty()) {
                self->deleteDocument(docIdentifier, self->holdScreenUntilAnswered());
                return;
            }
            CustomAlertView alert(QStringLiteral("Delete"), text);
            alert.addButton(homeText("Choice.Delete"), CAVButton::DestructiveType, [weak, docIdentifier] {
                if (auto screen = weak.lock()) {
                    screen->liberateScreen(DeleteConfirmationOperation);
                    screen->deleteDocument(docIdentifier, screen->holdScreenUntilAnswered());
                }
            });
            alert.addButton(homeText("Choice.Cancel"), CAVButton::CancelType, [weak] {
                if (auto screen = weak.lock())
                    screen->liberateScreen(DeleteConfirmationOperation);
            });
            self->occupyScreen(DeleteConfirmationOperation);
            alert.showFromWindow(self->myWindow());
        });
}

// ---- Import

void HomeViewController::qvImport()
{
    std::weak_ptr<HomeViewController> weak = sharedSelf();
    startImportingLocalFileOnCompletion([weak](const IdeaPtr& idea, const QString& docIdentifier) {
        auto self = weak.lock();
        if (!self || !idea || docIdentifier.isNull())
            return;
        if (DocumentWindowServices* window = self->windowServices())
            window->setDockedIdea(idea, docIdentifier);
        self->updateStatusDueToPossibleDockingUpdate();
    });
}

} // namespace corvex
