#pragma once

#include <QString>
#include <QVariant>
#include <functional>

namespace corvex {

class SerialQueue;

// An object that keeps a file open in memory (a document, an index, an attachment store)
// and wants to hear when the file is about to be used by someone else and when it changed.
// Register it with FileCoordinator::addFilePresenter; FileCoordinator.h describes who is
// told what, when and on which queue.
//
// Presenters are owned by std::shared_ptr; the coordinator holds them weakly and never
// calls one that has been destroyed or removed. Destroying a presenter removes it.
class FilePresenter
{
public:
    // The block a presenter calls once it has let go of the file; `reacquirer` (may be
    // empty) is run on the presenter's queue after the other party is done with it.
    using Reacquirer = std::function<void()>;
    using RelinquishBlock = std::function<void(Reacquirer reacquirer)>;

    FilePresenter() = default;
    virtual ~FilePresenter();
    FilePresenter(const FilePresenter&) = delete;
    FilePresenter& operator=(const FilePresenter&) = delete;

    // The absolute path of the presented file. Read once, when the presenter is added: to
    // present another path, remove the presenter and add it again.
    virtual QString presentedItemPath() const = 0;

    // The queue every callback below runs on; nullptr means the main queue. Asked from any
    // thread, it must answer the same queue every time, and the queue must live as long as
    // the presenter.
    virtual SerialQueue* presentedItemQueue();

    // Another coordinated reader or writer is about to use the file. Call `block` once (from
    // any thread) when the presenter is ready; the coordinator waits for it only a bounded
    // time (FileCoordinator::relinquishTimeout), then goes on. A presenter on the main queue
    // must not answer through the main queue (the coordination may be holding it). The
    // defaults answer at once with no reacquirer.
    virtual void relinquishPresentedItemToReader(RelinquishBlock block);
    virtual void relinquishPresentedItemToWriter(RelinquishBlock block);

    // The file was written by someone else: a coordinated write in this process made for
    // another presenter (or for none), or a change by another process. Never for a write
    // coordinated for this presenter itself.
    virtual void presentedItemDidChange();

    // Version events, kept for the cloud back ends; the coordinator sends none of them
    // today. The version is opaque to the coordinator.
    virtual void presentedItemDidGainVersion(const QVariant& version);
    virtual void presentedItemDidLoseVersion(const QVariant& version);
    virtual void presentedItemDidResolveConflictVersion(const QVariant& version);
    virtual void presentedSubitemDidGainVersion(const QString& subitemPath, const QVariant& version);
    virtual void presentedSubitemDidLoseVersion(const QString& subitemPath, const QVariant& version);
    virtual void presentedSubitemDidResolveConflictVersion(const QString& subitemPath,
                                                           const QVariant& version);
};

} // namespace corvex
