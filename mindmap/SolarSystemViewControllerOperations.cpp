// The idea operations of the mind-map screen: lookups among the planets, adding, moving,
// copying, linking and deleting ideas, the save that ends each of them, drilling, and the
// planets' context menu.

#include "mindmap/DocumentWindowServices.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/ApplicationDelegate.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/UrlOpener.h"
#include "platform/ui/Window.h"
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"

#include <algorithm>
#include <any>
#include <utility>

namespace corvex {

namespace {

const QString kDeleteConfirmation = QStringLiteral("DeleteConfirmationForContextMenu");

QString identifierOfItem(const MenuItem& item)
{
    const QString* identifier = std::any_cast<QString>(&item.representedObject());
    return identifier ? *identifier : QString();
}

} // namespace

const QString SolarSystemViewController::EditUnderWayOperation = QStringLiteral("EditUnderWay");

// ---- Lookups

std::int64_t SolarSystemViewController::indexOfIdeaWithIdentifier(const QString& identifier) const
{
    if (!mRealIdea)
        return NotFound;
    const quint64 index = mRealIdea->indexOfIdeaWithIdentifier(identifier);
    return index == Idea::NotFound ? NotFound : std::int64_t(index);
}

std::int64_t SolarSystemViewController::indexForIdea(const QString& identifier, const QString&) const
{
    return indexOfIdeaWithIdentifier(identifier);
}

IdeaPtr SolarSystemViewController::childIdeaWithIdentifier(const QString& identifier) const
{
    return ideaAtIndex(indexOfIdeaWithIdentifier(identifier));
}

IdeaPtr SolarSystemViewController::ideaForIdea(const QString& identifier) const
{
    if (!mRealIdea)
        return nullptr;
    if (mRealIdea->identifier() == identifier)
        return mRealIdea;
    return childIdeaWithIdentifier(identifier);
}

IdeaPtr SolarSystemViewController::ideaAtIndex(std::int64_t index) const
{
    if (!mRealIdea || index < 0 || index >= std::int64_t(mRealIdea->ideas().size()))
        return nullptr;
    return mRealIdea->ideas()[std::size_t(index)];
}

std::int64_t SolarSystemViewController::insertionIndexFromIdentifier(const QString& identifier) const
{
    if (identifier.isEmpty())
        return 0;
    const std::int64_t index = indexOfIdeaWithIdentifier(identifier);
    return index == NotFound ? 0 : index + 1;
}

std::int64_t SolarSystemViewController::insertionIndexFromObjectTag(const IdeaPtr& idea) const
{
    return idea ? insertionIndexFromIdentifier(idea->identifier()) : 0;
}

std::int64_t SolarSystemViewController::indexAfter(std::int64_t afterIndex) const
{
    const std::int64_t count = mRealIdea ? std::int64_t(mRealIdea->ideas().size()) : 0;
    if (afterIndex == NotFound)
        return count;
    return std::clamp<std::int64_t>(afterIndex + 1, 0, count);
}

bool SolarSystemViewController::isOurCentralIdea(const QString& identifier) const
{
    return mRealIdea && mRealIdea->identifier() == identifier;
}

bool SolarSystemViewController::isOurParentIdea(const QString& identifier) const
{
    const IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
    return parent && parent->identifier() == identifier;
}

bool SolarSystemViewController::isOurChildIdea(const QString& identifier) const
{
    return indexOfIdeaWithIdentifier(identifier) != NotFound;
}

// ---- Saving

std::shared_ptr<IdeaDocument> SolarSystemViewController::editedDocument()
{
    // The tree shown is the one the document saves.
    if (mDoc && mRootIdea && mDoc->idea() != mRootIdea)
        mDoc->setIdea(mRootIdea);
    return mDoc;
}

void SolarSystemViewController::redrawFromModel()
{
    if (!mSolarSystem || !mRealIdea)
        return;
    // The view's interim indices may differ from the model's (a move towards the front):
    // refill every planet from the model by index.
    mSolarSystem->startUpdate();
    mSolarSystem->setCentralIdea(mRealIdea);
    std::int64_t index = 0;
    for (const IdeaPtr& child : mRealIdea->ideas())
        mSolarSystem->modifyIdea(child, index++);
    mSolarSystem->endUpdate();
}

void SolarSystemViewController::updateSolarSystemAndSaveDocument(BoolCompletion saved)
{
    redrawFromModel();
    saveDocument(std::move(saved));
}

void SolarSystemViewController::saveDocument(BoolCompletion saved, bool afterEdit)
{
    if (!mDoc) {
        Log::assertionFailure(__LINE__, "-[SolarSystemViewController updateSolarSystemAndSaveDocument]");
        saved(false);
        return;
    }
    ++mSavesInFlight;
    mDoc->setIdea(mRootIdea);
    const qint64 change = qint64(mDoc->changeCount());
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    PersistenceController::singleton().saveDocument(
        mDoc, mDocToken, [weak, saved = std::move(saved), afterEdit, change](bool ok) mutable {
            if (auto self = weak.lock()) {
                self->mSavesInFlight = std::max(0, self->mSavesInFlight - 1);
                if (ok)
                    self->mKeptCopyChange = std::max(self->mKeptCopyChange, change);
                if (afterEdit)
                    self->markDocumentChange();
                if (ok && self->mDoc) {
                    QVariantMap info;
                    info.insert(QStringLiteral("docIdentifier"), self->mDoc->docIdentifier());
                    info.insert(QStringLiteral("document"), qulonglong(quintptr(self->mDoc.get())));
                    NotificationCenter::defaultCenter().post(SavedByScreenNotification, self.get(), info);
                }
                if (ok)
                    self->mFiles->saveSucceeded();
                else
                    self->mFiles->saveFailed();
                self->closeForcedOnceSaved();
            }
            saved(ok);
        });
}

void SolarSystemViewController::ideaTreeEdited(const IdeaEditSummary& summary)
{
    // The planets of the idea shown move as the tree did, then all show the model again.
    if (mSolarSystem && mRealIdea && summary.kind != IdeaEditSummary::Kind::ApplyValues) {
        const bool left = summary.fromContainer == mRealIdea && summary.fromIndex != IdeaEditSummary::NoIndex;
        const bool arrived = summary.toContainer == mRealIdea;
        if (left && arrived) {
            const std::int64_t slot =
                summary.fromIndex <= summary.toIndex ? summary.toIndex + 1 : summary.toIndex;
            mSolarSystem->moveIdea(summary.idea, summary.fromIndex, slot);
        } else if (arrived) {
            mSolarSystem->insertIdea(summary.idea, summary.toIndex - 1);
        } else if (left) {
            mSolarSystem->removeIdeaAtIndex(summary.fromIndex);
        }
    }
    redrawFromModel();
    // A cloud document's window is named by its root, which the edit may have renamed.
    if (mDoc && mDoc->isCloudDocument())
        if (Window* window = myWindow())
            window->setTitle(mDoc->documentWindowName());
}

// ---- Operations

void SolarSystemViewController::addNewIdeaAfterIndex(std::int64_t afterIndex, const IdeaPtr& idea,
                                                     EditCompletion completion)
{
    mEditing.insertIdea(mRealIdea, idea, indexAfter(afterIndex), std::move(completion));
}

void SolarSystemViewController::moveIdeaAfter(const IdeaPtr& idea, const QString& docIdentifier,
                                              std::int64_t afterIndex, EditCompletion completion)
{
    mEditing.moveIdea(idea, docIdentifier, mRealIdea, indexAfter(afterIndex), std::move(completion));
}

void SolarSystemViewController::moveIdeaInside(const IdeaPtr& idea, const QString& docIdentifier,
                                               std::int64_t index, EditCompletion completion)
{
    mEditing.moveIdea(idea, docIdentifier, ideaAtIndex(index), IdeaEditingService::AtEnd,
                      std::move(completion));
}

void SolarSystemViewController::moveToParentTheIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                                    EditCompletion completion)
{
    mEditing.moveIdea(idea, docIdentifier, mOwnIdea ? mOwnIdea->parent() : nullptr, IdeaEditingService::AtEnd,
                      std::move(completion));
}

void SolarSystemViewController::copyIdeaAfter(const IdeaPtr& idea, std::int64_t afterIndex,
                                              EditCompletion completion)
{
    mEditing.copyIdea(idea, mRealIdea, indexAfter(afterIndex), std::move(completion));
}

void SolarSystemViewController::copyIdeaInside(const IdeaPtr& idea, std::int64_t index,
                                               EditCompletion completion)
{
    mEditing.copyIdea(idea, ideaAtIndex(index), IdeaEditingService::AtEnd, std::move(completion));
}

void SolarSystemViewController::copyToParentTheIdea(const IdeaPtr& idea, EditCompletion completion)
{
    mEditing.copyIdea(idea, mOwnIdea ? mOwnIdea->parent() : nullptr, IdeaEditingService::AtEnd,
                      std::move(completion));
}

void SolarSystemViewController::createLinkToIdea(const IdeaPtr& idea, std::int64_t afterIndex,
                                                 EditCompletion completion)
{
    mEditing.linkToIdea(idea, mRealIdea, indexAfter(afterIndex), std::move(completion));
}

bool SolarSystemViewController::deleteIdeaWithIdentifier(const QString& identifier, EditCompletion completion)
{
    const std::int64_t index = indexOfIdeaWithIdentifier(identifier);
    if (index == NotFound || !mDoc)
        return false;
    if (!Globals::app()->canWeSafelyDeleteIdea(identifier, mDoc->docIdentifier())) {
        showNonblockingAlertViewWithTitle(
            QString(),
            Globals::normalLocalizedStringForKey(
                QString(), QStringLiteral("Document is open in other window. Please close the window "
                                          "before deleting document.")));
        return false;
    }
    mEditing.deleteIdea(identifier, std::move(completion));
    return true;
}

void SolarSystemViewController::applyIdeaValues(const QString& identifier,
                                                const std::function<void(Idea& idea)>& apply,
                                                EditCompletion completion)
{
    mEditing.applyValues(identifier, apply, std::move(completion));
}

SolarSystemViewController::EditCompletion
SolarSystemViewController::holdScreenUntilAnswered(EditCompletion completion)
{
    const bool held = !screenOccupied();
    occupyScreen(EditUnderWayOperation);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    return [weak, held, completion = std::move(completion)](const IdeaEditResult& result) mutable {
        if (auto self = weak.lock(); self && held)
            self->releaseEditHold();
        if (completion)
            completion(result);
    };
}

void SolarSystemViewController::deleteChosenIdea(const QString& identifier)
{
    if (!deleteIdeaWithIdentifier(identifier, holdScreenUntilAnswered({})))
        releaseEditHold();
}

void SolarSystemViewController::releaseEditHold()
{
    if (currentOccupyingOperation() != EditUnderWayOperation)
        return;
    liberateScreen(EditUnderWayOperation);
    // A close asked for while the edit was under way goes ahead now that it is answered.
    if (std::exchange(mCloseWhenEditAnswered, false))
        mFiles->closeWindowLater();
}

bool SolarSystemViewController::canWeSafelyDeleteIdea(const QString& ideaIdentifier,
                                                      const QString& docIdentifier)
{
    const QString shownDocument = shownDocIdentifier();
    if (shownDocument.isEmpty() || docIdentifier != shownDocument)
        return true;
    if (ideaIdentifier.isNull() || !mDoc)
        return false;
    for (IdeaPtr idea = mOwnIdea; idea; idea = idea->parent())
        if (idea->identifier() == ideaIdentifier)
            return false;
    return true;
}

// ---- Drilling

void SolarSystemViewController::onDrillDownTo(const QString& ideaIdentifier)
{
    if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || screenOccupied() || mDrillingUpOrDown)
        return;
    if (isOurCentralIdea(ideaIdentifier))
        return;
    // A stale planet or menu item may name an idea that is gone.
    const IdeaPtr idea = ideaForIdea(ideaIdentifier);
    if (!idea)
        return;
    if (idea->isLink() && !idea->linkedIdea()) {
        if (DocumentWindowServices* window = windowServices())
            window->showShortNotificationToUser(QStringLiteral("Failed to open link"));
        return;
    }
    switchToIdea(idea, true);
}

void SolarSystemViewController::onDrillUp()
{
    if (!mSolarSystem || !mSolarSystem->userInteractionEnabled() || screenOccupied() || mDrillingUpOrDown)
        return;
    const IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
    if (parent)
        switchToIdea(parent, true);
}

// ---- Context menu

std::shared_ptr<MenuItem>
SolarSystemViewController::menuItemForIdea(const QString& identifier, const QString& title,
                                           void (SolarSystemViewController::*action)(const MenuItem&))
{
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    auto item = MenuItem::create(title, [weak, action](MenuItem& chosen) {
        if (auto self = weak.lock())
            ((*self).*action)(chosen);
    });
    item->setKeyEquivalent(QString());
    item->setRepresentedObject(identifier);
    return item;
}

std::shared_ptr<Menu> SolarSystemViewController::onRightClickAtIdea(const QString& ideaIdentifier)
{
    if (!mRealIdea || !mDoc)
        return nullptr;
    const QString identifier = ideaIdentifier.isEmpty() ? mRealIdea->identifier() : ideaIdentifier;
    const bool centre = isOurCentralIdea(identifier);
    const bool parent = isOurParentIdea(identifier);
    auto menu = Menu::create(QString());
    if (!centre) {
        menu->addItem(
            menuItemForIdea(identifier, QStringLiteral("Open"), &SolarSystemViewController::onOpenItem));
        if (mDoc->isCloudDocument())
            menu->addItem(menuItemForIdea(identifier, QStringLiteral("Open in New Window"),
                                          &SolarSystemViewController::onOpenItemInNewWindow));
        menu->addItem(MenuItem::separator());
    }
    if (!parent) {
        menu->addItem(
            menuItemForIdea(identifier, QStringLiteral("Edit"), &SolarSystemViewController::onEditItem));
        menu->addItem(MenuItem::separator());
    }
    if (!centre && !parent) {
        menu->addItem(
            menuItemForIdea(identifier, QStringLiteral("Delete"), &SolarSystemViewController::onDeleteItem));
        menu->addItem(MenuItem::separator());
    }
    const IdeaPtr idea = ideaForIdea(identifier);
    if (idea && idea->ideaType() == IdeaTypeURL)
        menu->addItem(menuItemForIdea(identifier, QStringLiteral("Open in Browser"),
                                      &SolarSystemViewController::onOpenItemInBrowser));
    return menu;
}

void SolarSystemViewController::onOpenItem(const MenuItem& item)
{
    // The menu may outlive the moment it was made for: an animation or an editor may run.
    if (screenOccupied())
        return;
    const QString identifier = identifierOfItem(item);
    if (isOurParentIdea(identifier))
        onDrillUp();
    else if (isOurChildIdea(identifier))
        onDrillDownTo(identifier);
}

void SolarSystemViewController::onOpenItemInNewWindow(const MenuItem& item)
{
    if (mDoc)
        Globals::app()->openDocumentInNewWindow(mDoc->docIdentifier(), identifierOfItem(item));
}

void SolarSystemViewController::onEditItem(const MenuItem& item)
{
    if (screenOccupied())
        return;
    onEditIdea(identifierOfItem(item));
}

void SolarSystemViewController::onOpenItemInBrowser(const MenuItem& item)
{
    const IdeaPtr idea = ideaForIdea(identifierOfItem(item));
    if (!idea || idea->ideaType() != IdeaTypeURL)
        return;
    const QUrl url(idea->URL());
    if (!url.isValid() || !UrlOpener::current()->open(url))
        Log::warning(
            QStringLiteral("SolarSystemViewController: not opened in a browser: %1").arg(idea->URL()));
}

void SolarSystemViewController::onDeleteItem(const MenuItem& item)
{
    if (screenOccupied() || mDrillingUpOrDown)
        return;
    const QString identifier = identifierOfItem(item);
    const IdeaPtr child = childIdeaWithIdentifier(identifier);
    if (!child)
        return;
    QString text;
    if (child->isLink())
        text = QString();
    else if (!child->ideas().empty())
        // The count leaves out the element itself.
        text = Globals::normalLocalizedStringForKey(
                   QString(), QStringLiteral("Element contains %d sub-elements. Are you sure?"))
                   .replace(QStringLiteral("%d"), QString::number(child->calculateWholeTreeSize() - 1));
    else if (child->ideaType() == IdeaTypeImage)
        text = Globals::normalLocalizedStringForKey(
            QString(), QStringLiteral("Element contains an image. Are you sure?"));
    else if (child->hasNote())
        text = Globals::normalLocalizedStringForKey(QString(),
                                                    QStringLiteral("Element contains a note. Are you sure?"));
    if (text.isEmpty()) {
        deleteChosenIdea(identifier);
        return;
    }
    occupyScreen(kDeleteConfirmation);
    CustomAlertView alert(QStringLiteral("Delete"), text);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Delete"), QString()),
                    CAVButton::DestructiveType, [weak, identifier] {
                        if (auto self = weak.lock()) {
                            self->liberateScreen(kDeleteConfirmation);
                            self->deleteChosenIdea(identifier);
                        }
                    });
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Cancel"), QString()),
                    CAVButton::CancelType, [weak] {
                        if (auto self = weak.lock())
                            self->liberateScreen(kDeleteConfirmation);
                    });
    alert.showFromWindow(myWindow());
}

} // namespace corvex
