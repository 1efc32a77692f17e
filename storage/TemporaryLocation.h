#pragma once

#include "storage/DocumentLocation.h"

#include <QUrl>
#include <memory>
#include <vector>

namespace corvex {

class TempLocationManager;

// The temporary location (0) behind the persistence controller's one road: documents are
// IdeaDocument files in TempLocationManager's folder, attachments TempLocationManager's. It
// keeps no list; instead it registers every handle that was created or opened successfully
// (once more for each open), and only a delete unregisters them. It has no status, search
// or conflicts: those answer "unavailable", nothing and NO.
//
// A generated name taken, by a registered handle or by a file (another launch in the same
// second made it), gives way to the next generated name.
// Completions, all on the main queue on a later turn: a create of a registered identifier
// the caller chose answers 0 on the next turn; a delete of an identifier that is not
// registered answers NO, any other delete YES (the file stays on disk). The rest is the
// document handles' (IdeaDocument): file work answers once done, a close on the next turn.
class TemporaryLocation final : public DocumentLocation,
                                public std::enable_shared_from_this<TemporaryLocation>
{
public:
    TemporaryLocation();
    ~TemporaryLocation() override;
    TemporaryLocation(const TemporaryLocation&) = delete;
    TemporaryLocation& operator=(const TemporaryLocation&) = delete;

    // The file of a temporary-location document: TempLocationManager::documentURL of the
    // identifier's path (empty for a path that is not one plain file name).
    static QUrl documentURL(const QString& docIdentifier);

    // The registered handles, in the order they were registered.
    const std::vector<std::shared_ptr<IdeaDocument>>& registeredDocuments() const
    {
        return mRegisteredDocuments;
    }
    // A registered handle has the identifier.
    bool documentKnown(const QString& docIdentifier) const;
    // The copy of a document whose window has closed, unless another registered handle of it
    // may still need it: the handle is unregistered and its file removed on the persistence
    // queue, after the saves queued before.
    void removeClosedCopy(const std::shared_ptr<IdeaDocument>& document);

    // How often a create takes the next generated name when the file of one exists.
    static constexpr int FreeNameAttempts = 100;

    // DocumentLocation
    void createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                        TokenCompletion completion) override;
    // Registers the handle and opens it at once (IdeaDocument::createAtURLOpeningFirst) under
    // the first generated name without a file; a failed store unregisters it.
    void createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document, TokenCompletion opened,
                                    BoolCompletion stored) override;
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                        BoolCompletion completion) override;
    void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       Completion completion) override;
    void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
    void fetchRootIdea(const QString& docIdentifier, IdeaCompletion completion) override;
    std::shared_ptr<IdeaDocument> heldDocument(const QString& docIdentifier) const override;
    bool mayTakeIdeasFrom(const QString&) const override { return true; }
    bool isReadyForUse() const override { return true; }
    std::shared_ptr<AttachmentManager> attachmentManager() override;
    bool takesBackEnd() const override { return false; }

private:
    // Makes the document's file; a generated name whose file another process made meanwhile
    // gives way to the next name, up to `attemptsLeft` times.
    void createUnderFreeName(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion,
                             int attemptsLeft);
    // A generated name a registered handle has (a document another launch made in the same
    // second, opened again here), or with `filesToo` one whose file exists, gives way to the
    // next name; a name the caller chose stays.
    void stepOverTakenNames(IdeaDocument& document, bool filesToo) const;
    // Every registration of this handle goes.
    void unregister(const std::shared_ptr<IdeaDocument>& document);
    // The completion of a create or open: registers the handle when it succeeded.
    TokenCompletion registeringOnSuccess(const std::shared_ptr<IdeaDocument>& document,
                                         TokenCompletion completion);

    std::shared_ptr<TempLocationManager> mAttachments;
    std::vector<std::shared_ptr<IdeaDocument>> mRegisteredDocuments;
};

} // namespace corvex
