#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

namespace corvex {

class IdeaDocument;
class IdeaDocumentDataObject;
class SerialQueue;

// The presenter of one document file: every coordinated read and write of the file goes
// through it, and it hears when someone else changed the file.
//
// It keeps its owner (the IdeaDocument the payload is read into and written from) weakly,
// and has a serial queue of its own for the coordinator's callbacks. Made with
// initWithFileURL, which registers it with the file coordinator; close() (or destruction)
// unregisters it.
//
// Change notices: the coordinator never tells a presenter about writes coordinated for it,
// and the change watcher does not report this process's coordinated writes. For any other
// change the file is read again on the main thread's behalf; a payload written by this
// instance (its "appInstance" is Globals::appInstance()) is dropped, because the open tree
// is at least as new and may hold edits the file does not. A payload of another instance
// replaces the owner's tree and dates, and IdeaDocument::ChangedNotification is posted
// with the owner as sender.
//
// Threads: the operations are started on the main thread and answer there. Reads run on a
// global queue, writes on StorageQueues::persistenceQueue().
class IdeaFilePresenter final : public FilePresenter, public std::enable_shared_from_this<IdeaFilePresenter>
{
public:
    using BoolCompletion = corvex::Completion<bool>;
    // The read's outcome: the payload, or the reason it could not be read (the decoder's own,
    // e.g. the file format version it does not know).
    using PayloadResult = Result<std::shared_ptr<IdeaDocumentDataObject>>;
    using PayloadCompletion = corvex::Completion<const PayloadResult&>;

    enum class WriteMode
    {
        Replace,   // an existing file is replaced
        CreateNew, // an existing file is kept and the write fails
    };

    // Makes the presenter and adds it to the file coordinator. Main thread.
    static std::shared_ptr<IdeaFilePresenter> initWithFileURL(const QUrl& url,
                                                              const std::weak_ptr<IdeaDocument>& owner);
    ~IdeaFilePresenter() override;

    // Unregisters and drops the owner and the URL; callbacks already queued do nothing
    // more. Work under way (a queued save) still finishes. Main thread.
    void close();
    bool isClosed() const { return mClosed.load(); }

    // The presented file; empty once closed. Any thread.
    QUrl presentedItemURL() const;
    std::shared_ptr<IdeaDocument> owner() const; // main thread
    // True while another coordinated reader or writer has been handed the file.
    bool fileIsBlocked() const { return mFileIsBlocked.load(); }

    // Reads and decodes the file under coordination (reading, option 1) on a global queue;
    // on the main thread the payload goes to the owner's applyDataObject and the completion
    // answers YES; an unreadable file, a failed coordination or a closed presenter answer NO.
    // Stale temporaries of killed saves beside the file are removed while the file is held.
    void readWithCompletionHandler(BoolCompletion completion);
    // The same without applying anything: the payload or the reason, on the main thread.
    void readPayloadWithCompletionHandler(PayloadCompletion completion);
    // What a write stores, made where the write runs: the owner encodes its payload's text
    // on the main thread and hands over the job that turns it into the stored bytes
    // (IdeaDocument::storedBytesJob), so that this presenter only writes what it is given.
    // An empty job stores nothing and fails.
    using BytesJob = std::function<Result<QByteArray>()>;
    // On the persistence queue: runs the job, then writes its bytes under coordination
    // (writing for replacing, option 8, never over an existing file / writing for merging,
    // option 4); the completion answers on the main thread. Once a create has failed, every
    // later write of this presenter fails too: an update asked for before that failure was
    // known must not replace a file of the same name that someone else made.
    void createWithBytes(BytesJob bytes, BoolCompletion completion);
    void updateWithBytes(BytesJob bytes, BoolCompletion completion);
    // Why the last write that answered failed, for the user (empty after a success). Main
    // thread: it is set just before the write's completion runs.
    const QString& lastWriteError() const { return mLastWriteError; }

    // The stored form for a file: plain JSON for a file of the iCloud location (2) whose
    // name, lower-cased, ends with ".crvx"; zlib for everything else.
    static bool writesPlainJSON(const QUrl& url, unsigned location);
    // The write itself, for the persistence queue: replaces the file with `data` atomically
    // (a temporary file, synced and renamed). False, with the old file untouched, on any
    // failure; CreateNew also fails (EEXIST) when the file exists.
    [[nodiscard]] static bool doWriteToURL(const QUrl& url, const QByteArray& data, WriteMode mode,
                                           Error* error = nullptr);

    // The second half of a change notice: what the re-read found. Main thread: a call on
    // another thread logs the assertion line and is carried over to the main queue.
    void changeNoticeReadFinished(const std::shared_ptr<IdeaDocumentDataObject>& payload);

    // FilePresenter
    QString presentedItemPath() const override;
    SerialQueue* presentedItemQueue() override;
    void relinquishPresentedItemToReader(RelinquishBlock block) override;
    void relinquishPresentedItemToWriter(RelinquishBlock block) override;
    void presentedItemDidChange() override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use initWithFileURL; public only for std::make_shared.
    IdeaFilePresenter(Private, const QUrl& url, const std::weak_ptr<IdeaDocument>& owner);

private:
    void write(WriteMode mode, BytesJob bytes, BoolCompletion completion);
    void changeNoticed();
    Reacquirer blockedUntilReacquired();

    const QUrl mFileURL;
    const QString mPath;
    std::unique_ptr<SerialQueue> mPresentedItemQueue; // kept until destruction, as presenters must
    std::atomic<bool> mFileIsBlocked{false};
    std::atomic<bool> mClosed{false};
    bool mCreateFailed = false; // the persistence queue's
    std::weak_ptr<IdeaDocument> mOwner;
    QString mLastWriteError; // main thread
};

} // namespace corvex
