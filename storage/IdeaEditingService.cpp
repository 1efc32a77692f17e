#include "storage/IdeaEditingService.h"

#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditObserver.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceController.h"

#include <algorithm>

namespace corvex {

namespace {

using Kind = IdeaEditSummary::Kind;

quint64 slotIn(const Idea& container, std::int64_t position)
{
    const auto count = std::int64_t(container.ideas().size());
    return quint64(position < 0 || position > count ? count : position);
}

std::int64_t indexIn(const IdeaPtr& container, const QString& identifier)
{
    if (!container)
        return IdeaEditSummary::NoIndex;
    const quint64 index = container->indexOfIdeaWithIdentifier(identifier);
    return index == Idea::NotFound ? IdeaEditSummary::NoIndex : std::int64_t(index);
}

// The services that edit an open document's tree, in the order made.
std::vector<IdeaEditingService*>& servicesOfOpenTrees()
{
    static std::vector<IdeaEditingService*> services;
    return services;
}

} // namespace

IdeaEditingService::IdeaEditingService(DocumentSource document, Saver saver, Remover remover)
    : mDocument(std::move(document)), mSaver(std::move(saver)), mRemover(std::move(remover))
{
    if (!mRemover)
        mRemover = &IdeaEditingService::removeFromDocument;
    if (mDocument)
        servicesOfOpenTrees().push_back(this);
}

IdeaEditingService::~IdeaEditingService()
{
    auto& services = servicesOfOpenTrees();
    services.erase(std::remove(services.begin(), services.end(), this), services.end());
}

IdeaEditingService* IdeaEditingService::editing(const QString& docIdentifier,
                                                const QString& ideaIdentifierOrNull)
{
    for (IdeaEditingService* service : servicesOfOpenTrees()) {
        const std::shared_ptr<IdeaDocument> document = service->mDocument();
        if (!document || !document->idea() || document->docIdentifier() != docIdentifier)
            continue;
        if (ideaIdentifierOrNull.isNull())
            return service;
        const IdeaPtr idea = service->ideaOfTree(ideaIdentifierOrNull);
        if (idea && idea->parent())
            return service;
    }
    return nullptr;
}

void IdeaEditingService::removeFromDocument(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                            BoolCompletion done)
{
    // Storage would change an open tree behind its screen: the window would not learn that
    // its document changed, nor save it, nor tell when that save fails.
    IdeaEditingService* service =
        ideaIdentifierOrNull.isNull() ? nullptr : editing(docIdentifier, ideaIdentifierOrNull);
    if (!service)
        return PersistenceController::singleton().deleteIdea(ideaIdentifierOrNull, docIdentifier,
                                                             std::move(done));
    service->deleteIdea(ideaIdentifierOrNull, [done = std::move(done)](const IdeaEditResult& result) mutable {
        if (done)
            done(result.made());
    });
}

IdeaPtr IdeaEditingService::ideaOfOpenTree(const QString& ideaIdentifierOrNull, const QString& docIdentifier)
{
    for (IdeaEditingService* service : servicesOfOpenTrees()) {
        const std::shared_ptr<IdeaDocument> document = service->mDocument();
        if (!document || !document->idea() || document->docIdentifier() != docIdentifier)
            continue;
        if (IdeaPtr idea =
                ideaIdentifierOrNull.isNull() ? document->idea() : service->ideaOfTree(ideaIdentifierOrNull))
            return idea;
    }
    return nullptr;
}

void IdeaEditingService::addObserver(IdeaEditObserver* observer)
{
    if (observer && std::find(mObservers.begin(), mObservers.end(), observer) == mObservers.end())
        mObservers.push_back(observer);
}

void IdeaEditingService::removeObserver(IdeaEditObserver* observer)
{
    mObservers.erase(std::remove(mObservers.begin(), mObservers.end(), observer), mObservers.end());
}

void IdeaEditingService::answerLater(EditCompletion completion, IdeaEditResult result)
{
    if (!result.made())
        Log::info(QStringLiteral("IdeaEditingService: edit refused: %1").arg(result.reason));
    completion(result);
}

IdeaPtr IdeaEditingService::ideaOfTree(const QString& identifier) const
{
    const std::shared_ptr<IdeaDocument> document = mDocument ? mDocument() : nullptr;
    const IdeaPtr root = document ? document->idea() : nullptr;
    return root && !identifier.isNull() ? root->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
}

bool IdeaEditingService::inTree(const IdeaPtr& container) const
{
    return container && ideaOfTree(container->identifier()) == container;
}

void IdeaEditingService::commit(IdeaEditSummary summary, BoolCompletion saved)
{
    const std::shared_ptr<IdeaDocument> document = mDocument();
    summary.docIdentifier = document->docIdentifier();
    summary.changeCount = document->raiseChangeCount();
    // A copy: an observer may remove itself while told.
    const std::vector<IdeaEditObserver*> observers = mObservers;
    for (IdeaEditObserver* observer : observers)
        observer->ideaTreeEdited(summary);
    if (mSaver)
        mSaver(std::move(saved));
    else if (saved)
        saved(false);
}

void IdeaEditingService::insertIdea(const IdeaPtr& container, const IdeaPtr& idea, std::int64_t position,
                                    EditCompletion completion)
{
    if (!idea || !inTree(container))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("no place in this tree")));
    const quint64 slot = slotIn(*container, position);
    if (!container->insertIdea(idea, slot))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("the place takes no idea")));
    commit({Kind::Insert, {}, idea, nullptr, IdeaEditSummary::NoIndex, container, std::int64_t(slot)}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Changed, {}});
}

void IdeaEditingService::moveIdea(const IdeaPtr& idea, const QString& fromDocIdentifier,
                                  const IdeaPtr& container, std::int64_t position, EditCompletion completion)
{
    const std::shared_ptr<IdeaDocument> document = mDocument ? mDocument() : nullptr;
    if (!idea || !document || !inTree(container))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("no place in this tree")));
    if (fromDocIdentifier != document->docIdentifier())
        return moveFromOtherDocument(idea, fromDocIdentifier, container, position, std::move(completion));
    // The idea handed in may be a copy read from storage: the tree's own idea moves.
    const IdeaPtr moved = ideaOfTree(idea->identifier());
    if (!moved || moved == document->idea() || moved == container || !container->canInsertIdea(moved))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("the idea cannot go there")));
    const IdeaPtr from = moved->parent();
    const std::int64_t fromIndex = indexIn(from, moved->identifier());
    quint64 slot = slotIn(*container, position);
    if (from == container && fromIndex != IdeaEditSummary::NoIndex && quint64(fromIndex) < slot)
        --slot;
    if (from)
        from->detachIdea(moved->identifier());
    (void)container->insertIdea(moved, slot);
    commit({Kind::Move, {}, moved, from, fromIndex, container, std::int64_t(slot)}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Moved, {}});
}

void IdeaEditingService::moveFromOtherDocument(const IdeaPtr& idea, const QString& fromDocIdentifier,
                                               const IdeaPtr& container, std::int64_t position,
                                               EditCompletion completion)
{
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
    const quint64 slot = slotIn(*container, position);
    if (!copy || !container->insertIdea(copy, slot))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("the place takes no idea")));
    const Remover remover = mRemover;
    const QString identifier = idea->identifier();
    commit({Kind::Move, {}, copy, nullptr, IdeaEditSummary::NoIndex, container, std::int64_t(slot)},
           [remover, identifier, fromDocIdentifier, completion = std::move(completion)](bool saved) mutable {
               // The source loses the idea only once the copy is stored; either failing keeps both.
               if (!saved)
                   return answerLater(std::move(completion),
                                      {IdeaEditOutcome::Copied, QStringLiteral("the copy was not saved")});
               remover(identifier, fromDocIdentifier,
                       [completion = std::move(completion)](bool removed) mutable {
                           answerLater(std::move(completion),
                                       removed ? IdeaEditResult{IdeaEditOutcome::Moved, {}}
                                               : IdeaEditResult{IdeaEditOutcome::Copied,
                                                                QStringLiteral("the source kept the idea")});
                       });
           });
}

void IdeaEditingService::copyIdea(const IdeaPtr& idea, const IdeaPtr& container, std::int64_t position,
                                  EditCompletion completion)
{
    const std::shared_ptr<IdeaDocument> document = mDocument ? mDocument() : nullptr;
    if (!idea || !document || !inTree(container))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("no place in this tree")));
    const IdeaPtr root = idea->root();
    const bool sameTree = root && root->identifier() == document->idea()->identifier();
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersPreservingExternalLinks(sameTree);
    const quint64 slot = slotIn(*container, position);
    if (!copy || !container->insertIdea(copy, slot))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("the place takes no idea")));
    commit({Kind::Copy, {}, copy, nullptr, IdeaEditSummary::NoIndex, container, std::int64_t(slot)}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Copied, {}});
}

void IdeaEditingService::linkToIdea(const IdeaPtr& idea, const IdeaPtr& container, std::int64_t position,
                                    EditCompletion completion)
{
    // A link must point into this tree: one to another document's idea would dangle.
    if (!idea || !inTree(container) || !ideaOfTree(idea->identifier()))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("a link needs both ends in this tree")));
    const IdeaPtr link =
        Idea::initWithLinkToIdea(idea->isLink() ? idea->linkedIdentifier() : idea->identifier());
    const quint64 slot = slotIn(*container, position);
    if (!link || !container->insertIdea(link, slot))
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("the place takes no idea")));
    commit({Kind::Link, {}, link, nullptr, IdeaEditSummary::NoIndex, container, std::int64_t(slot)}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Copied, {}});
}

void IdeaEditingService::deleteIdea(const QString& identifier, EditCompletion completion)
{
    const IdeaPtr idea = ideaOfTree(identifier);
    const IdeaPtr parent = idea ? idea->parent() : nullptr;
    if (!parent)
        return answerLater(std::move(completion),
                           IdeaEditResult::refused(QStringLiteral("no such idea below the root")));
    const std::int64_t index = indexIn(parent, identifier);
    parent->detachIdea(identifier);
    commit({Kind::Delete, {}, idea, parent, index, nullptr, IdeaEditSummary::NoIndex}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Changed, {}});
}

void IdeaEditingService::applyValues(const QString& identifier, const std::function<void(Idea&)>& apply,
                                     EditCompletion completion)
{
    const IdeaPtr idea = ideaOfTree(identifier);
    if (!idea || !apply)
        return answerLater(std::move(completion), IdeaEditResult::refused(QStringLiteral("no such idea")));
    apply(*idea);
    const IdeaPtr parent = idea->parent();
    const std::int64_t index = indexIn(parent, identifier);
    commit({Kind::ApplyValues, {}, idea, parent, index, parent, index}, {});
    answerLater(std::move(completion), {IdeaEditOutcome::Changed, {}});
}

void IdeaEditingService::refuseLater(EditCompletion completion, const QString& reason)
{
    answerLater(std::move(completion), IdeaEditResult::refused(reason));
}

void IdeaEditingService::tellStoredEdit(Kind kind, const QString& docIdentifier)
{
    IdeaEditSummary summary;
    summary.kind = kind;
    summary.docIdentifier = docIdentifier;
    // A document open in a service was counted by that service's own edit.
    const auto document = PersistenceController::singleton().findDocument(docIdentifier);
    if (document && !editing(docIdentifier, QString()))
        summary.changeCount = document->raiseChangeCount();
    else if (document)
        summary.changeCount = document->changeCount();
    const std::vector<IdeaEditObserver*> observers = mObservers;
    for (IdeaEditObserver* observer : observers)
        observer->ideaTreeEdited(summary);
}

void IdeaEditingService::deleteStoredIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                          EditCompletion completion)
{
    // Storage may answer after this service is gone: then only the completion hears.
    std::weak_ptr<bool> alive = mAlive;
    mRemover(ideaIdentifierOrNull, docIdentifier,
             [this, alive, docIdentifier, completion = std::move(completion)](bool ok) mutable {
                 if (!ok)
                     return answerLater(std::move(completion),
                                        IdeaEditResult::refused(QStringLiteral("storage kept it")));
                 if (alive.lock())
                     tellStoredEdit(Kind::Delete, docIdentifier);
                 answerLater(std::move(completion), {IdeaEditOutcome::Changed, {}});
             });
}

void IdeaEditingService::copyStoredIdea(const IdeaPtr& idea, const QString& fromDocIdentifier,
                                        StorageLocation location, qint64 index, StoredPlace place,
                                        EditCompletion completion)
{
    std::weak_ptr<bool> alive = mAlive;
    auto done = [this, alive, completion = std::move(completion)](bool ok) mutable {
        if (!ok)
            return answerLater(std::move(completion),
                               IdeaEditResult::refused(QStringLiteral("the copy was not stored")));
        if (alive.lock())
            tellStoredEdit(Kind::Copy, QString());
        answerLater(std::move(completion), {IdeaEditOutcome::Copied, {}});
    };
    PersistenceController& storage = PersistenceController::singleton();
    if (place == StoredPlace::Before)
        storage.copyIdeaBefore(idea, fromDocIdentifier, index, location, std::move(done));
    else
        storage.copyIdeaInside(idea, fromDocIdentifier, index, location, std::move(done));
}

void IdeaEditingService::moveStoredIdea(const QString& ideaIdentifier, const QString& fromDocIdentifier,
                                        StorageLocation location, qint64 index, StoredPlace place,
                                        EditCompletion completion)
{
    PersistenceController& storage = PersistenceController::singleton();
    // Whether the copy was stored: storage's one answer does not tell a failed removal apart.
    auto copied = std::make_shared<bool>(false);
    std::weak_ptr<bool> alive = mAlive;
    storage.consumeIdea(
        ideaIdentifier, fromDocIdentifier,
        [fromDocIdentifier, location, index, place, copied](const IdeaPtr& idea,
                                                            PersistenceController::NextBlock next) {
            PersistenceController& storage = PersistenceController::singleton();
            auto noted = [copied, next](bool ok) {
                *copied = ok;
                next(ok);
            };
            if (place == StoredPlace::Before)
                return storage.copyIdeaBefore(idea, fromDocIdentifier, index, location, std::move(noted));
            // A root moved into its own document would go with the whole document, copy included.
            const auto list = storage.proxyListForLocation(location);
            if (!idea->parent() && list && index >= 0 && index < qint64(list->size()) &&
                (*list)[std::size_t(index)]->docIdentifier() == fromDocIdentifier)
                return next(false);
            storage.copyIdeaInside(idea, fromDocIdentifier, index, location, std::move(noted));
        },
        [this, alive, copied, fromDocIdentifier, completion = std::move(completion)](bool moved) mutable {
            if (!moved && !*copied)
                return answerLater(std::move(completion),
                                   IdeaEditResult::refused(QStringLiteral("nothing was stored")));
            if (alive.lock())
                tellStoredEdit(moved ? Kind::Move : Kind::Copy, fromDocIdentifier);
            answerLater(
                std::move(completion),
                moved ? IdeaEditResult{IdeaEditOutcome::Moved, {}}
                      : IdeaEditResult{IdeaEditOutcome::Copied, QStringLiteral("the source kept the idea")});
        },
        mRemover);
}

} // namespace corvex
