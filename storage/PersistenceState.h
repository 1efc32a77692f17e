#pragma once

#include "platform/core/Result.h"
#include "storage/AttachmentManager.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class PersistenceStateDelegate;

// The status codes a back end reports with PersistenceStateDelegate::statusChange. The
// workspace turns them into its WorkspaceStatus (Workspace.h); codes above 5 mean nothing.
using PersistenceStateStatus = unsigned;
inline constexpr PersistenceStateStatus PersistenceStateStatusInitial = 0;   // never sent
inline constexpr PersistenceStateStatus PersistenceStateStatusError = 1;     // account changed, no connection
inline constexpr PersistenceStateStatus PersistenceStateStatusNoAccount = 2; // no account, token refused
inline constexpr PersistenceStateStatus PersistenceStateStatusDataReceived = 3; // data received
inline constexpr PersistenceStateStatus PersistenceStateStatusSyncing = 4;  // container ready, upload starts
inline constexpr PersistenceStateStatus PersistenceStateStatusAllFound = 5; // everything found / received

// A file version of a document in conflict. The back end that keeps versions (the iCloud
// mode) defines what it holds; screens ask it only what the conflict dialog shows.
class DocumentVersion
{
public:
    virtual ~DocumentVersion();

    // When the version was saved; invalid when the back end does not know.
    virtual QDateTime modificationDate() const;
    // The device that saved the version; "" when the back end does not know.
    virtual QString localizedNameOfSavingComputer() const;
};
using DocumentVersionPtr = std::shared_ptr<DocumentVersion>;

// The storage back end of one cloud location (2 iCloud, 3 Dropbox): where its documents,
// its index file and its attachments live. A Workspace owns exactly one and is its delegate.
//
// Every storage operation is pure virtual: a back end must answer each completion exactly
// once, with a failure (token 0, NO, null bytes) when it cannot do the work. Tokens come from
// the document handles (IdeaDocument); a back end that only knows success answers 1 or 0.
//
// Threads: called on the main thread. Completions and delegate calls arrive on the main
// queue, never inside the call (a failure found before any work answers on the next turn).
//
// Life: leaveState() stops the back end's queries, observers and loops and marks it dead;
// no delegate call follows it (completions of operations already under way are still
// answered). A subclass's leaveState stops its own work, then calls the base. The
// destructor calls the base leaveState only (C++ cannot reach an override from there):
// subclasses that have work to stop call their own leaveState in their destructor.
class PersistenceState : public AttachmentManager, public std::enable_shared_from_this<PersistenceState>
{
public:
    using TokenCompletion = IdeaDocument::TokenCompletion;
    using BoolCompletion = IdeaDocument::BoolCompletion;
    using Completion = IdeaDocument::Completion;

    PersistenceState() = default;
    ~PersistenceState() override;
    PersistenceState(const PersistenceState&) = delete;
    PersistenceState& operator=(const PersistenceState&) = delete;

    bool isDead() const { return mDead; }
    virtual void leaveState();

    // The owner that hears the back end's events (held weakly).
    std::shared_ptr<PersistenceStateDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::weak_ptr<PersistenceStateDelegate>& delegate) { mDelegate = delegate; }

    // Hands the token back; the completion (may be empty) runs once it is released.
    virtual void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                               Completion completion) = 0;
    // Stores a new document (root idea and dates set) and opens it: a token above 0, or 0.
    virtual void createDocument(const std::shared_ptr<IdeaDocument>& document,
                                TokenCompletion completion) = 0;
    // Writes the open document.
    virtual void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                BoolCompletion completion) = 0;
    // Reads the document into the handle and opens it: a token above 0, or 0.
    virtual void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) = 0;
    // Removes the document with that identifier.
    virtual void deleteDocument(const QString& docIdentifier, BoolCompletion completion) = 0;
    // Writes the location's index file with the list (in display order). Nothing is
    // answered; a back end keeps its own record of failures.
    virtual void saveProxyList(const std::vector<IdeaProxyPtr>& proxies) = 0;
    // AttachmentManager: storeAttachment and provideAttachment, answered as it says.

    // What reads one stored document's bytes for the search cache, away from the main
    // thread: the file as it is stored (a compressed or plain payload), read outside file
    // coordination. Only a back end whose document files are replaced whole and never
    // written in place (each save writes a new file and renames it over the old one), so
    // that such a read always sees one complete version, hands one out; the job may run on
    // any thread and touches nothing of the back end. The base hands out none (an empty
    // job): the search then reads the document through openDocument and closeDocument.
    using SearchRead = std::function<Result<QByteArray>()>;
    virtual SearchRead searchRead(const QString& docIdentifier);

    // Back ends that keep conflicting versions of a document (the iCloud mode) answer true
    // and override the two operations below; the workspace asks the others nothing.
    virtual bool keepsConflictingVersions() const { return false; }
    // The unresolved conflicting version with the latest modification date, or null.
    virtual DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr& proxy);
    // Keeps both contents of the conflict (see the back end). The base answers NO at once.
    virtual void handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion);
    // Whether the document is in conflict now; the base knows of no conflict of an open
    // document and answers false.
    virtual bool documentInConflict(const QString& docIdentifier) const;

    // "<class name>(<address>)" for the workspace's description.
    virtual QString description() const;

protected:
    // A search read of the file at `path`, read whole as a document file is opened (at most
    // Zlib::DefaultInflateLimit bytes); an empty job for an empty path.
    static SearchRead fileSearchRead(const QString& path);

private:
    std::weak_ptr<PersistenceStateDelegate> mDelegate;
    bool mDead = false;
};

using PersistenceStatePtr = std::shared_ptr<PersistenceState>;

} // namespace corvex
