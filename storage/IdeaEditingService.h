#pragma once

#include "platform/core/Completion.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaEditResult.h"
#include "storage/IdeaEditSummary.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class Idea;
class IdeaDocument;
class IdeaEditObserver;
using IdeaPtr = std::shared_ptr<Idea>;

// The one way the screens change a document's tree: add, insert, move, copy, link, delete,
// new values for an idea, and moves and copies from other documents. Every edit that is made
// raises the document's change count, tells each observer once with one summary and asks for
// the save; its outcome comes to the completion once, on a later turn of the main queue,
// whichever way it went, refusals found at once included. A move from another document puts
// a copy here, saves, and only then removes the source idea: when the save or that removal
// fails the copy stays and the answer is Copied. An idea leaves a document whose tree a
// screen has open through that screen's service, as one of its own edits (its screen is told,
// marks and saves its document by its own rules and tells a failed save); storage removes it
// from a document nobody has open. Main thread only.
class IdeaEditingService
{
public:
    using EditCompletion = corvex::Completion<const IdeaEditResult&>;
    using BoolCompletion = corvex::Completion<bool>;
    using DocumentSource = std::function<std::shared_ptr<IdeaDocument>()>;
    // Writes the document after an edit; the answer may come later.
    using Saver = std::function<void(BoolCompletion saved)>;
    // Takes an idea (a null identifier: the whole document) out of a stored document.
    using Remover = std::function<void(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                       BoolCompletion)>;
    // A position past every child.
    static constexpr std::int64_t AtEnd = -1;

    // The document edited is the one `document` answers at the time of each edit (none: the
    // service edits only stored documents). Without a remover, removeFromDocument removes.
    IdeaEditingService(DocumentSource document, Saver saver, Remover remover = {});
    ~IdeaEditingService();
    IdeaEditingService(const IdeaEditingService&) = delete;
    IdeaEditingService& operator=(const IdeaEditingService&) = delete;

    // Takes an idea out of its stored document: through the service whose open tree holds
    // it below the root, as that service's edit; else (a root: the whole document) through
    // storage's PersistenceController.
    static void removeFromDocument(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                   BoolCompletion done);
    // The idea (a null identifier: the root) as the screen with the document open shows it,
    // edits not stored yet included; null when no screen has the document open.
    static IdeaPtr ideaOfOpenTree(const QString& ideaIdentifierOrNull, const QString& docIdentifier);

    void addObserver(IdeaEditObserver* observer);
    void removeObserver(IdeaEditObserver* observer);

    // A new idea into `container` (of this document's tree) at `position`.
    void insertIdea(const IdeaPtr& container, const IdeaPtr& idea, std::int64_t position,
                    EditCompletion completion);
    // The idea into `container` at `position`, counted among the children before the idea
    // leaves a place in that same container. From another document (`fromDocIdentifier` not
    // this one's): a copy without outside links comes, and the source loses it once saved.
    void moveIdea(const IdeaPtr& idea, const QString& fromDocIdentifier, const IdeaPtr& container,
                  std::int64_t position, EditCompletion completion);
    // A copy with fresh identifiers; links inside this tree are kept only when the idea is of it.
    void copyIdea(const IdeaPtr& idea, const IdeaPtr& container, std::int64_t position,
                  EditCompletion completion);
    // A link to the idea (to its target when it is a link itself), which must be of this tree.
    void linkToIdea(const IdeaPtr& idea, const IdeaPtr& container, std::int64_t position,
                    EditCompletion completion);
    // Takes the idea (not the root) out of this document's tree.
    void deleteIdea(const QString& identifier, EditCompletion completion);
    // Runs `apply` on the idea of this tree: the editor's values, a picture, an address.
    void applyValues(const QString& identifier, const std::function<void(Idea& idea)>& apply,
                     EditCompletion completion);
    // Takes an idea (a null identifier: the whole document) out of a stored document, open
    // here or not; observers hear of it once storage has done it.
    void deleteStoredIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                          EditCompletion completion);
    // Between the stored documents of a location's list: Before puts a copy as a new document
    // at `index`, Inside as the first child of the root of the document at `index`.
    enum class StoredPlace
    {
        Before,
        Inside,
    };
    void copyStoredIdea(const IdeaPtr& idea, const QString& fromDocIdentifier, StorageLocation location,
                        qint64 index, StoredPlace place, EditCompletion completion);
    // Copies the stored idea there, then removes it from its document (as the remover does):
    // Copied when the copy was stored but the removal failed.
    void moveStoredIdea(const QString& ideaIdentifier, const QString& fromDocIdentifier,
                        StorageLocation location, qint64 index, StoredPlace place, EditCompletion completion);

    // A refusal found before the service was asked, answered as the service answers.
    static void refuseLater(EditCompletion completion, const QString& reason);

private:
    // Raises the count, tells the observers, then saves; `saved` (may be empty) gets the answer.
    void commit(IdeaEditSummary summary, BoolCompletion saved);
    // The tree's own idea of that identifier, or null.
    IdeaPtr ideaOfTree(const QString& identifier) const;
    // The service with the document's tree open (holding that idea below its root, unless the
    // identifier is null), or null.
    static IdeaEditingService* editing(const QString& docIdentifier, const QString& ideaIdentifierOrNull);
    void moveFromOtherDocument(const IdeaPtr& idea, const QString& fromDocIdentifier,
                               const IdeaPtr& container, std::int64_t position, EditCompletion completion);
    bool inTree(const IdeaPtr& container) const;
    // Observers hear of an edit storage made (while this service lives).
    void tellStoredEdit(IdeaEditSummary::Kind kind, const QString& docIdentifier);
    static void answerLater(EditCompletion completion, IdeaEditResult result);

    DocumentSource mDocument;
    Saver mSaver;
    Remover mRemover;
    std::vector<IdeaEditObserver*> mObservers;
    // Gone with the service: storage's late answers look here first.
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

} // namespace corvex
