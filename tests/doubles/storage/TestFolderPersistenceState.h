#pragma once

#include "model/Idea.h"
#include "platform/core/UniqueFunction.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

class IndexDocument;
class IndexJSONDocument;

// An in-process storage back end for tests and benchmarks: a cloud location (2 or 3) over a
// local folder, with no network and no other process. It does what a real back end does
// with real files, and lets a test script what a real one meets: slow answers, failures,
// status changes, documents found, index lists, and documents changed or deleted by another
// device.
//
// Layout of the folder:
//   <folder>/documents/<path of the identifier>   the documents (IdeaDocument files)
//   <folder>/attachments/<attachment name>        the attachments
//   <folder>/corvex.index                         the index file: keyed archive for
//                                                 location 2, JSON for location 3
//
// Completions: each is called exactly once. Document operations go to the document
// handle (createAtURL, openFromURL, updateWithToken, closeWithToken), so tokens are the
// handle's; deletion and attachments work on the persistence queue and answer on the main
// queue. A scripted failure answers the failure (token 0, NO, null bytes) without touching
// any file, on the main queue. A scripted delay holds the answer back that many seconds on
// the current Scheduler (virtual time in tests). Operations under way still complete after
// leaveState.
//
// Events: the report* operations call the delegate on the main queue, after the delay given
// (0: the next turn); an event due after leaveState is dropped, as a real back end sends
// nothing once it has left its state.
//
// Main thread only.
class TestFolderPersistenceState final : public PersistenceState
{
public:
    enum class Operation
    {
        Create,
        Open,
        Update,
        Close,
        Delete,
        StoreAttachment,
        ProvideAttachment,
        HandleConflict,
        // A search read handed out (searchRead): counted and failed when handed out, on
        // the main thread; its delay is never scripted, as it answers from the thread
        // that runs it (holdSearchReads holds it there instead).
        SearchRead,
    };
    static constexpr std::size_t OperationCount = 9;

    // Makes the folder and its subfolders.
    static std::shared_ptr<TestFolderPersistenceState> create(const QString& folder,
                                                              StorageLocation location);
    ~TestFolderPersistenceState() override;

    StorageLocation location() const { return mLocation; }
    const QString& folder() const { return mFolder; }
    QString documentsFolder() const;
    QString attachmentsFolder() const;
    QString indexFilePath() const;
    // The file of a document of this location; empty for an identifier of another location
    // or whose path is not one plain file name.
    QString documentPath(const QString& docIdentifier) const;
    QUrl documentURL(const QString& docIdentifier) const;
    // The identifier of a document file name in this location.
    QString docIdentifierForFileName(const QString& fileName) const;

    // ---- Scripting the answers

    // The operation's answers come `seconds` later (0: as the work finishes).
    void setDelay(Operation operation, double seconds);
    void setDelayForAll(double seconds);
    // The next `count` calls of the operation fail.
    void failNext(Operation operation, int count = 1);
    // Every call fails until switched off.
    void setFailing(Operation operation, bool failing);
    // Calls of the operation so far, failed ones included.
    int callCount(Operation operation) const;

    // Whether searchRead hands out reads of the document files (on by default). Off, the
    // back end is one that reads documents only through openDocument.
    void setServesSearchReads(bool serves) { mServesSearchReads = serves; }
    // While held, the search reads handed out wait on the threads that run them, with the
    // file read, until released: what they answer is the file as it was before the wait.
    // Any number of holds end with one release.
    void holdSearchReads(bool hold);
    // The search reads waiting in a hold now. Any thread.
    int heldSearchReads() const;

    // Whether saveProxyList writes the index file (on by default).
    void setWritesIndexFile(bool writes) { mWritesIndexFile = writes; }
    int savedProxyListCount() const { return mSavedProxyListCount; }
    // The identifiers of the list last handed to saveProxyList, in order.
    const QStringList& lastSavedProxyList() const { return mLastSavedProxyList; }
    // Index file writes finished so far, and whether the last one succeeded. The JSON form
    // finishes on the main queue, the keyed archive inside saveProxyList.
    int indexWriteCount() const { return mIndexWriteCount; }
    bool lastIndexWriteSucceeded() const { return mLastIndexWriteSucceeded; }
    // The list in the index file now (an empty list without a readable one).
    std::vector<IdeaProxyPtr> readIndexFile() const;

    // Conflicts: when set, the back end keeps versions (as the iCloud mode does),
    // findConflictingVersion answers `version`, and handleConflictForProxy answers YES
    // unless scripted to fail.
    void setKeepsConflictingVersions(bool keeps, DocumentVersionPtr version = nullptr);
    // Scripts whether the document counts as in conflict (documentInConflict).
    void setDocumentInConflict(const QString& docIdentifier, bool inConflict);

    // ---- Scripting the events

    void reportStatus(PersistenceStateStatus status, double delay = 0);
    void reportFoundDocument(const QString& docIdentifier, double delay = 0);
    void reportProxyList(const std::vector<IdeaProxyPtr>& proxies, double delay = 0);
    void reportProxy(const IdeaProxyPtr& proxy, double delay = 0);
    void reportDeleted(const QString& docIdentifier, double delay = 0);
    void reportConflict(const QString& docIdentifier, double delay = 0);
    // Discovery as the real back ends do it: each document file of the folder, in name
    // order, reported found; then the list read from the index file (an empty list when
    // there is no readable index file). Events `delay` seconds from now.
    void discover(double delay = 0);

    // ---- The location's files, as another device changes them

    // Writes the document file of the identifier now, as another instance of the program
    // would (its payload names another instance), and answers a proxy of it (without a
    // document handle of its own tree); null when it cannot be written. Nothing is reported.
    IdeaProxyPtr writeDocumentFile(const QString& docIdentifier, const IdeaPtr& root,
                                   const QDateTime& created = QDateTime(),
                                   const QDateTime& modified = QDateTime());
    // writeDocumentFile, then reportProxy with its proxy.
    IdeaProxyPtr replaceDocumentRemotely(const QString& docIdentifier, const IdeaPtr& root, double delay = 0);
    // Removes the file now, then reportDeleted.
    void deleteDocumentRemotely(const QString& docIdentifier, double delay = 0);
    // The identifiers of the document files in the folder, in name order.
    QStringList storedDocuments() const;
    // The tree stored for the identifier; null when it cannot be read.
    IdeaPtr storedTree(const QString& docIdentifier) const;

    // The instance name in payloads written by writeDocumentFile.
    static const QString RemoteInstance; // "REMOTE_DEVICE"

    // ---- PersistenceState

    void leaveState() override;
    void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       Completion completion) override;
    void createDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                        BoolCompletion completion) override;
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    // The document's file, read whole; a scripted failure answers EIO without reading.
    SearchRead searchRead(const QString& docIdentifier) override;
    void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
    void saveProxyList(const std::vector<IdeaProxyPtr>& proxies) override;
    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override;
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override;
    bool keepsConflictingVersions() const override { return mKeepsConflictingVersions; }
    DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr& proxy) override;
    void handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion) override;
    bool documentInConflict(const QString& docIdentifier) const override;
    QString description() const override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    TestFolderPersistenceState(Private, QString folder, StorageLocation location);

private:
    struct Script
    {
        double delay = 0;
        int failNext = 0;
        bool failing = false;
        int calls = 0;
    };

    // Counts the call and answers whether it is scripted to fail.
    bool takeCall(Operation operation);
    double delayOf(Operation operation) const;
    // Runs `answer` after the operation's delay: at once (on the calling thread) without
    // one and when `now` is set, else on the main queue.
    void answer(Operation operation, UniqueFunction<void()> answer, bool now);
    // Calls `event` with the delegate on the main queue after `delay`, unless dead by then.
    void post(double delay, std::function<void(PersistenceStateDelegate&, PersistenceState*)> event);
    void indexWritten(bool ok);

    // Where held search reads wait.
    struct SearchReadGate
    {
        mutable std::mutex mutex;
        std::condition_variable released;
        bool held = false;
        int waiting = 0;

        void pass();
    };

    QString mFolder;
    StorageLocation mLocation;
    std::array<Script, OperationCount> mScripts;
    bool mServesSearchReads = true;
    std::shared_ptr<SearchReadGate> mSearchReadGate = std::make_shared<SearchReadGate>();
    bool mWritesIndexFile = true;
    int mSavedProxyListCount = 0;
    QStringList mLastSavedProxyList;
    int mIndexWriteCount = 0;
    bool mLastIndexWriteSucceeded = false;
    bool mKeepsConflictingVersions = false;
    DocumentVersionPtr mConflictingVersion;
    QStringList mDocumentsInConflict;
    std::shared_ptr<IndexDocument> mIndexDocument;
    std::shared_ptr<IndexJSONDocument> mIndexJSONDocument;
};

} // namespace corvex
