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
#include "storage/PersistenceController.h"
#include "toolkit/CustomAlertView.h"

#include <algorithm>
#include <any>

namespace corvex {

namespace {

const QString kDeleteConfirmation = QStringLiteral("DeleteConfirmationForContextMenu");

QString identifierOfItem(const MenuItem& item)
{
    const QString* identifier = std::any_cast<QString>(&item.representedObject());
    return identifier ? *identifier : QString();
}

} // namespace

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

void SolarSystemViewController::updateSolarSystemAndSaveDocument(BoolCompletion saved)
{
    if (mSolarSystem && mRealIdea) {
        // The view's interim indices may differ from the model's (a move towards the front):
        // refill every planet from the model by index.
        mSolarSystem->startUpdate();
        mSolarSystem->setCentralIdea(mRealIdea);
        std::int64_t index = 0;
        for (const IdeaPtr& child : mRealIdea->ideas())
            mSolarSystem->modifyIdea(child, index++);
        mSolarSystem->endUpdate();
    }
    if (!mDoc) {
        Log::assertionFailure(__LINE__, "-[SolarSystemViewController updateSolarSystemAndSaveDocument]");
        if (saved)
            saved(false);
        return;
    }
    ++mSavesInFlight;
    mDoc->setIdea(mRootIdea);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    PersistenceController::singleton().saveDocument(mDoc, mDocToken, [weak, saved](bool ok) {
        if (auto self = weak.lock()) {
            self->mSavesInFlight = std::max(0, self->mSavesInFlight - 1);
            self->markDocumentChange();
            if (ok && self->mDoc) {
                QVariantMap info;
                info.insert(QStringLiteral("docIdentifier"), self->mDoc->docIdentifier());
                info.insert(QStringLiteral("document"), qulonglong(quintptr(self->mDoc.get())));
                NotificationCenter::defaultCenter().post(SavedByScreenNotification, self.get(), info);
            }
            if (ok)
                self->saveSucceeded();
            else
                self->saveFailed();
        }
        if (saved)
            saved(ok);
    });
}

// ---- Operations

void SolarSystemViewController::addNewIdeaAfterIndex(std::int64_t afterIndex, const IdeaPtr& idea,
                                                     BoolCompletion completion)
{
    if (!mRealIdea || !idea || !mRealIdea->insertIdea(idea, quint64(indexAfter(afterIndex)))) {
        if (completion)
            completion(false);
        return;
    }
    if (mSolarSystem)
        mSolarSystem->insertIdea(idea, afterIndex);
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

void SolarSystemViewController::removeExternalIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                                   BoolCompletion completion)
{
    if (!idea) {
        if (completion)
            completion(false);
        return;
    }
    PersistenceController::singleton().deleteIdea(idea->identifier(), docIdentifier, [completion](bool ok) {
        if (completion)
            completion(ok);
    });
}

namespace {

// The source loses the idea only once the copy is stored.
SolarSystemViewController::BoolCompletion
removeSourceAfterSave(const std::weak_ptr<SolarSystemViewController>& weak, const IdeaPtr& idea,
                      const QString& docIdentifier, SolarSystemViewController::BoolCompletion completion)
{
    return [weak, idea, docIdentifier, completion](bool saved) {
        auto self = weak.lock();
        if (!saved || !self) {
            if (completion)
                completion(false);
            return;
        }
        self->removeExternalIdea(idea, docIdentifier, completion);
    };
}

} // namespace

void SolarSystemViewController::addCopyFromOtherDocument(const IdeaPtr& idea, const QString& docIdentifier,
                                                         const IdeaPtr& target, BoolCompletion completion)
{
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
    if (!copy || !target->addIdea(copy)) {
        if (completion)
            completion(false);
        return;
    }
    updateSolarSystemAndSaveDocument(removeSourceAfterSave(sharedSelf(), idea, docIdentifier, completion));
}

void SolarSystemViewController::detachFromItsPlace(const IdeaPtr& moved)
{
    const std::int64_t k = indexOfIdeaWithIdentifier(moved->identifier());
    if (k != NotFound) {
        mRealIdea->detachIdea(moved->identifier());
        if (mSolarSystem)
            mSolarSystem->removeIdeaAtIndex(k);
    } else if (const IdeaPtr parent = moved->parent()) {
        parent->detachIdea(moved->identifier());
    }
}

void SolarSystemViewController::moveIdeaAfter(const IdeaPtr& idea, const QString& docIdentifier,
                                              std::int64_t afterIndex, BoolCompletion completion)
{
    if (!idea || !mRealIdea || !mRootIdea || !mDoc) {
        if (completion)
            completion(false);
        return;
    }
    const std::int64_t n = indexAfter(afterIndex);
    if (docIdentifier != mDoc->docIdentifier()) {
        const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
        if (!copy || !mRealIdea->insertIdea(copy, quint64(n))) {
            if (completion)
                completion(false);
            return;
        }
        if (mSolarSystem)
            mSolarSystem->insertIdea(copy, afterIndex);
        updateSolarSystemAndSaveDocument(
            removeSourceAfterSave(sharedSelf(), idea, docIdentifier, completion));
        return;
    }
    const IdeaPtr moved = mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier());
    if (!moved || moved == mRootIdea || !mRealIdea->canInsertIdea(moved)) {
        Log::assertionFailure(__LINE__,
                              "-[SolarSystemViewController moveIdea:fromDocument:after:completion:]");
        if (completion)
            completion(false);
        return;
    }
    const std::int64_t k = indexOfIdeaWithIdentifier(moved->identifier());
    if (k == NotFound) {
        const IdeaPtr parent = moved->parent();
        if (parent)
            parent->detachIdea(moved->identifier());
        if (mSolarSystem)
            mSolarSystem->insertIdea(moved, afterIndex);
        (void)mRealIdea->insertIdea(moved, quint64(n));
    } else {
        mRealIdea->detachIdea(moved->identifier());
        if (mSolarSystem)
            mSolarSystem->moveIdea(moved, k, n);
        (void)mRealIdea->insertIdea(moved, quint64(k < n ? n - 1 : n));
    }
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

void SolarSystemViewController::moveIdeaInside(const IdeaPtr& idea, const QString& docIdentifier,
                                               std::int64_t index, BoolCompletion completion)
{
    moveIdeaInto(idea, docIdentifier, ideaAtIndex(index),
                 "-[SolarSystemViewController moveIdea:fromDocument:inside:completion:]",
                 std::move(completion));
}

void SolarSystemViewController::moveToParentTheIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                                    BoolCompletion completion)
{
    moveIdeaInto(idea, docIdentifier, mOwnIdea ? mOwnIdea->parent() : nullptr, nullptr,
                 std::move(completion));
}

void SolarSystemViewController::moveIdeaInto(const IdeaPtr& idea, const QString& docIdentifier,
                                             const IdeaPtr& target, const char* refusalAssertion,
                                             BoolCompletion completion)
{
    if (!idea || !target || !mRootIdea || !mDoc) {
        if (completion)
            completion(false);
        return;
    }
    if (docIdentifier != mDoc->docIdentifier()) {
        addCopyFromOtherDocument(idea, docIdentifier, target, std::move(completion));
        return;
    }
    // The idea handed in may be a copy read from storage: move the tree's own idea.
    const IdeaPtr moved = mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier());
    if (!moved || moved == mRootIdea || moved == target || !target->canInsertIdea(moved)) {
        if (refusalAssertion != nullptr)
            Log::assertionFailure(__LINE__, refusalAssertion);
        if (completion)
            completion(false);
        return;
    }
    detachFromItsPlace(moved);
    (void)target->addIdea(moved);
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

namespace {

IdeaPtr copyForTree(const IdeaPtr& idea, const IdeaPtr& rootIdea)
{
    const IdeaPtr root = idea->root();
    const bool sameTree = root && rootIdea && root->identifier() == rootIdea->identifier();
    return idea->deepCopyWithNewIdentifiersPreservingExternalLinks(sameTree);
}

} // namespace

void SolarSystemViewController::copyIdeaAfter(const IdeaPtr& idea, std::int64_t afterIndex,
                                              BoolCompletion completion)
{
    const IdeaPtr copy = idea && mRealIdea ? copyForTree(idea, mRootIdea) : nullptr;
    if (!copy || !mRealIdea->insertIdea(copy, quint64(indexAfter(afterIndex)))) {
        if (completion)
            completion(false);
        return;
    }
    if (mSolarSystem)
        mSolarSystem->insertIdea(copy, afterIndex);
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

void SolarSystemViewController::copyIdeaInside(const IdeaPtr& idea, std::int64_t index,
                                               BoolCompletion completion)
{
    const IdeaPtr target = ideaAtIndex(index);
    const IdeaPtr copy = idea && target ? copyForTree(idea, mRootIdea) : nullptr;
    if (!copy || !target->addIdea(copy)) {
        if (completion)
            completion(false);
        return;
    }
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

void SolarSystemViewController::copyToParentTheIdea(const IdeaPtr& idea, BoolCompletion completion)
{
    const IdeaPtr parent = mOwnIdea ? mOwnIdea->parent() : nullptr;
    const IdeaPtr copy = idea && parent ? copyForTree(idea, mRootIdea) : nullptr;
    if (!copy || !parent->addIdea(copy)) {
        if (completion)
            completion(false);
        return;
    }
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

void SolarSystemViewController::createLinkToIdea(const IdeaPtr& idea, std::int64_t afterIndex,
                                                 BoolCompletion completion)
{
    if (!idea || !mRealIdea || !mRootIdea ||
        !mRootIdea->findIdeaInSubTreeWithIdentifier(idea->identifier())) {
        // A link must point into this tree: one to another document's idea would dangle.
        if (completion)
            completion(false);
        return;
    }
    const IdeaPtr link =
        Idea::initWithLinkToIdea(idea->isLink() ? idea->linkedIdentifier() : idea->identifier());
    if (!link || !mRealIdea->insertIdea(link, quint64(indexAfter(afterIndex)))) {
        if (completion)
            completion(false);
        return;
    }
    if (mSolarSystem)
        mSolarSystem->insertIdea(link, afterIndex);
    updateSolarSystemAndSaveDocument();
    if (completion)
        completion(true);
}

bool SolarSystemViewController::deleteIdeaWithIdentifier(const QString& identifier)
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
    mRealIdea->detachIdea(identifier);
    if (mSolarSystem)
        mSolarSystem->removeIdeaAtIndex(index);
    updateSolarSystemAndSaveDocument();
    return true;
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
        deleteIdeaWithIdentifier(identifier);
        return;
    }
    occupyScreen(kDeleteConfirmation);
    CustomAlertView alert(QStringLiteral("Delete"), text);
    std::weak_ptr<SolarSystemViewController> weak = sharedSelf();
    alert.addButton(Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Delete"), QString()),
                    CAVButton::DestructiveType, [weak, identifier] {
                        if (auto self = weak.lock()) {
                            self->liberateScreen(kDeleteConfirmation);
                            self->deleteIdeaWithIdentifier(identifier);
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
