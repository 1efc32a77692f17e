#pragma once

#include "platform/core/Completion.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceState.h"
#include "storage/WorkspaceDelegate.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class AttachmentManager;

// What serves one storage location for the persistence controller: the temporary location's
// TemporaryLocation (0), a cloud location's Workspace (2, 3), or an UnservedLocation where
// nothing serves the number (1, a cloud location without a workspace). The controller picks
// the object once per operation (PersistenceController::locationFor) and forwards to it, so
// every operation takes one road whatever the location.
//
// The controller has dealt with what every location shares before it forwards: the document
// is not null, the index is not negative, and a save has stamped the modification date.
// Completions follow the controller's rule: exactly once, on the main thread, never inside
// the call (failures found before any work answer on the next turn).
//
// Threads: main thread only.
class DocumentLocation
{
public:
    using TokenCompletion = IdeaDocument::TokenCompletion;
    using BoolCompletion = IdeaDocument::BoolCompletion;
    using Completion = IdeaDocument::Completion;
    using IdeaCompletion = corvex::Completion<const IdeaPtr&>;

    virtual ~DocumentLocation();

    // ---- Documents

    // Stores a new document and opens it: a token above 0, or 0. A location with a list
    // puts it there at the index (clamped to the list).
    virtual void createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                                TokenCompletion completion) = 0;
    // The same, with the token first: `opened` as soon as the document may be shown and
    // edited, `stored` once its file is made (or not). Here the token waits for the store; a
    // location that can open before it stores says so.
    virtual void createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document,
                                            TokenCompletion opened, BoolCompletion stored);
    virtual void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) = 0;
    virtual void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                BoolCompletion completion) = 0;
    virtual void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                               Completion completion) = 0;
    virtual void deleteDocument(const QString& docIdentifier, BoolCompletion completion) = 0;
    // The document's root idea, read without opening it (or null).
    virtual void fetchRootIdea(const QString& docIdentifier, IdeaCompletion completion) = 0;
    // The handle the location holds for the identifier: a registered one (location 0), the
    // one of its summary in a complete list (2, 3); null otherwise.
    virtual std::shared_ptr<IdeaDocument> heldDocument(const QString& docIdentifier) const = 0;
    // Whether ideas may be moved out of the document (copied elsewhere, then deleted here)
    // without first reading it; NO answers such a move at once.
    virtual bool mayTakeIdeasFrom(const QString& docIdentifier) const = 0;

    // ---- The document list
    // The defaults are those of a location that keeps no list (only a workspace keeps one).

    // Ready for the screens: the location keeps no list, or its list is complete.
    virtual bool isReadyForUse() const = 0;
    // WorkspaceStatus::Unavailable where no workspace serves the location.
    virtual WorkspaceStatus status() const { return WorkspaceStatus::Unavailable; }
    // The complete list; nothing while it is not complete or where there is none.
    virtual std::optional<std::vector<IdeaProxyPtr>> proxyListOrNilIfNotReady() const { return std::nullopt; }
    // The first summary with the identifier in the complete list, or null.
    virtual IdeaProxyPtr listedProxy(const QString&) const { return nullptr; }
    // Runs `ready` once listedProxy and heldDocument can answer for good: on the next turn
    // where the list is complete or there is none to wait for; a workspace whose list is
    // not complete yet runs it once it is (or once the workspace closes).
    virtual void whenListComplete(Completion ready) { ready(); }

    // ---- Attachments, search, conflicts

    // Where the location keeps attachments; null where it keeps none.
    virtual std::shared_ptr<AttachmentManager> attachmentManager() = 0;
    // Whether the location searches its list (only a workspace does).
    virtual bool answersSearches() const { return false; }
    virtual void startSearch(const QString&, qint64, bool) {}
    virtual void killSearch(qint64) {}
    virtual DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr&) { return nullptr; }
    // Without conflicting versions: NO, on the main queue.
    virtual void handleConflictForProxy(const IdeaProxyPtr&, BoolCompletion completion);

    // ---- Kind

    // A cloud location, served by a workspace over a storage back end whether or not one is
    // there now: its documents are only ever handed out from its list.
    virtual bool takesBackEnd() const = 0;
};

} // namespace corvex
