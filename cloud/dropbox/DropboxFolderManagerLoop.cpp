// The synchronisation loop of the Dropbox mode: the turn, the reachability check, the task
// runner, the start-up load with its clean-up, and the saving of the status file.

#include "cloud/dropbox/DropboxFolderManager.h"

#include "cloud/dropbox/DropboxFolderManagerTask.h"
#include "model/Globals.h"
#include "platform/core/AsyncFutureRunnable.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/ProcessActivity.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SerialQueue.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/StorageQueues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvex {

namespace {

QString loopLastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

bool isFileReferred(const QString& fileName, const DocumentInfo::Ref& record)
{
    return record &&
           (QVFileInfo::refers(record->current(), fileName) ||
            QVFileInfo::refers(record->input(), fileName) || QVFileInfo::refers(record->output(), fileName));
}

} // namespace

void DropboxFolderManager::ensureRunnable()
{
    if (mRunnablesPosted >= 2)
        return;
    ++mRunnablesPosted;
    const auto weak = weakSelf();
    MainQueue::post([weak] {
        if (auto self = weak.lock())
            self->run();
    });
}

void DropboxFolderManager::run()
{
    --mRunnablesPosted;
    if (!isActive()) {
        Log::info(QStringLiteral("last state: %1 records, %2 tasks")
                      .arg(mState->docs.size())
                      .arg(mState->tasksToExecute.size()));
        return;
    }
    static constexpr Action actions[] = {
        &DropboxFolderManager::action_ensureDropboxConnectionStatus,
        &DropboxFolderManager::action_uploadDropboxChanges,
        &DropboxFolderManager::action_downloadDropboxFiles,
        &DropboxFolderManager::action_resolveDocumentStates,
        &DropboxFolderManager::action_loadMissingProxies,
        &DropboxFolderManager::action_resolveIndexFileState,
        &DropboxFolderManager::action_downloadIndexFileFromDropbox,
        &DropboxFolderManager::action_uploadIndexFileToDropbox,
        &DropboxFolderManager::action_listDropboxContents,
        &DropboxFolderManager::action_adoptSetAsideCopies,
        &DropboxFolderManager::action_realFileCleanup,
        &DropboxFolderManager::action_ensureIndexDocumentAvailability,
        &DropboxFolderManager::action_initializeFolderStatus,
        &DropboxFolderManager::action_performUserTask,
        &DropboxFolderManager::action_ensureAttachmentFolder,
        &DropboxFolderManager::action_listDropboxAttachments,
        &DropboxFolderManager::action_downloadDropboxAttachments,
        &DropboxFolderManager::action_uploadDropboxAttachments,
    };
    bool did = false;
    for (const Action action : actions)
        if ((this->*action)()) {
            did = true;
            break;
        }
    mDidSomethingLastTime = did;
    if (mRunnablesPosted > 0)
        return;
    ++mRunnablesPosted;
    const auto weak = weakSelf();
    auto turn = [weak] {
        if (auto self = weak.lock())
            self->run();
    };
    if (did) {
        MainQueue::post(turn);
        return;
    }
    if (double(Globals::currentTimeMillis()) - mTimeOfLastPoll > double(PollIntervalMillis))
        mState->pollFolderASAP = true;
    MainQueue::postAfter(IdleTurnSeconds, turn);
}

bool DropboxFolderManager::idle() const
{
    return !mState->hasPendingGeneralOperation && !mState->hasPendingDropboxOperation;
}

bool DropboxFolderManager::connected() const
{
    return mState->perhapsDropboxConnection && !mAuthStopped;
}

bool DropboxFolderManager::loadedAndConnected() const
{
    return mState->isLocalStatusFileLoaded && connected();
}

bool DropboxFolderManager::mayAsk(const QString& step) const
{
    return connected() && mBackoff.mayStart(step, Scheduler::current().now());
}

void DropboxFolderManager::asking(const QString& step)
{
    mBackoff.started(step, Scheduler::current().now());
}

void DropboxFolderManager::answered(const QString& step, bool ok)
{
    if (ok)
        mBackoff.succeeded(step);
    else
        mBackoff.failed(step, Scheduler::current().now());
}

// ---- Reachability

bool DropboxFolderManager::action_ensureDropboxConnectionStatus()
{
    if (!idle() || mState->networkCheckPending || !mState->isLocalStatusFileLoaded || mAuthStopped)
        return false;
    // Connected, the check only notices a network gone quiet; without connection it is what
    // brings the connection back, and so waits as long as the next request would.
    const double now = Scheduler::current().now();
    if (now < (mState->perhapsDropboxConnection ? mNextProbeAt : mBackoff.allowedAt()))
        return false;
    mNextProbeAt = now + ConnectedProbeSeconds;
    mState->networkCheckPending = true;
    const auto weak = weakSelf();
    MainQueue::postAfter(ProbeDelaySeconds, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        if (!self->mServices.reachability) {
            self->answerReachability(false);
            return;
        }
        self->mServices.reachability->probe([weak](bool reachable) {
            if (auto again = weak.lock())
                again->answerReachability(reachable);
        });
    });
    return false;
}

void DropboxFolderManager::answerReachability(bool reachable)
{
    mState->networkCheckPending = false;
    if (!reachable) {
        // Counts as a failure: checks without a way to the service come less and less often.
        mBackoff.failed(QString(), Scheduler::current().now());
        if (mState->perhapsDropboxConnection) {
            mState->perhapsDropboxConnection = false;
            NotificationCenter::defaultCenter().post(QVDropboxClient::NoConnectionNotification, this);
        }
    } else if (!mState->perhapsDropboxConnection && !mAuthStopped) {
        const double now = double(Globals::currentTimeMillis());
        if (now - mTimeOfLastDataReceived > double(ReconnectQuietMillis) || mTimeOfLastDataReceived > now)
            reconnected();
    }
    ensureRunnable();
}

// ---- Tasks

bool DropboxFolderManager::action_performUserTask()
{
    if (mState->hasPendingGeneralOperation || !mState->isLocalStatusFileLoaded ||
        mState->tasksToExecute.empty())
        return false;
    const DropboxFolderManagerState::QueuedTask queued = mState->tasksToExecute.front();
    const auto task = std::static_pointer_cast<Task>(queued);
    if (!task->runnable->canExecute())
        return false;
    mState->hasPendingGeneralOperation = true;
    const auto weak = weakSelf();
    // Weak: the task owns its runnable, which owns this block.
    const std::weak_ptr<void> weakTask = queued;
    task->runnable->whenReady([weak, weakTask] {
        auto self = weak.lock();
        if (!self)
            return;
        self->saveOrCreateLocalStatus([weak, weakTask](bool ok) {
            auto again = weak.lock();
            const auto queued = weakTask.lock();
            if (!again) {
                if (const auto task = std::static_pointer_cast<Task>(queued); task && task->answer)
                    std::exchange(task->answer, nullptr)();
                return;
            }
            if (!ok) {
                Log::assertionFailure(TaskSaveAssertionLine,
                                      "-[DropboxFolderManager action_performUserTask]");
                Globals::raiseCorvexError(QStringLiteral("DropboxFolderManager could not save its status"));
            }
            again->mState->hasPendingGeneralOperation = false;
            auto& tasks = again->mState->tasksToExecute;
            tasks.erase(std::remove(tasks.begin(), tasks.end(), queued), tasks.end());
            if (const auto task = std::static_pointer_cast<Task>(queued); task && task->answer)
                std::exchange(task->answer, nullptr)();
        });
    });
    task->runnable->execute();
    return true;
}

// ---- Start-up load and clean-up

bool DropboxFolderManager::action_initializeFolderStatus()
{
    if (mState->hasPendingGeneralOperation || mState->isLocalStatusFileLoaded)
        return false;
    ensureLocalManagedFolder();
    mState->hasPendingGeneralOperation = true;
    const QString path = localManagedFile(StatusFileName);
    if (!QFileInfo::exists(path)) {
        startAsOnFirstRun();
        return true;
    }
    const auto weak = weakSelf();
    StorageQueues::persistenceQueue().async([weak, path] {
        auto read = std::make_shared<std::optional<DropboxFolderManagerState>>(
            DropboxFolderManagerState::readFrom(path));
        MainQueue::post([weak, read] {
            if (auto self = weak.lock())
                self->finishStatusLoad(std::move(*read), true);
        });
    });
    return true;
}

void DropboxFolderManager::finishStatusLoad(std::optional<DropboxFolderManagerState> read, bool existed)
{
    if (!read) {
        Log::assertionFailure(StatusReadAssertionLine,
                              "-[DropboxFolderManager action_initializeFolderStatus]");
        Globals::raiseCorvexError(QStringLiteral("DropboxFolderManager could not read corvex.local.status"));
        setAsideAndStartAfresh(existed);
        return;
    }
    mState->hasPendingGeneralOperation = false;
    mState->isLocalStatusFileLoaded = true;
    mSetAsideWaiting = true;
    mState->docs = filterOutDeletedDocuments(read->docs);
    if (read->indexDocumentInfo)
        mState->indexDocumentInfo = read->indexDocumentInfo->withInput(QVFileInfo::EMPTY());
    for (const QString& path : listFilePathsInFolder(localManagedFolder()))
        if (!shouldFileBeKept(loopLastComponent(path), *mState))
            mState->filesToReallyDelete.insert(path);
    if (auto owner = delegate())
        for (const auto& entry : mState->docs)
            owner->foundIdeaDocument(entry.first, this);
    ensureRunnable();
}

void DropboxFolderManager::startAsOnFirstRun()
{
    mState->docs.clear();
    const auto weak = weakSelf();
    saveOrCreateLocalStatus([weak](bool ok) {
        auto self = weak.lock();
        if (!self)
            return;
        self->mState->hasPendingGeneralOperation = false;
        if (ok) {
            self->mState->isLocalStatusFileLoaded = true;
            self->mSetAsideWaiting = true;
            return;
        }
        // Not loaded: a later turn tries again instead of the loop standing still.
        Log::assertionFailure(StatusWriteAssertionLine,
                              "-[DropboxFolderManager action_initializeFolderStatus]");
        Globals::raiseCorvexError(QStringLiteral("DropboxFolderManager could not write corvex.local.status"));
    });
}

DropboxFolderManagerState::DocumentMap
DropboxFolderManager::filterOutDeletedDocuments(const DropboxFolderManagerState::DocumentMap& docs)
{
    DropboxFolderManagerState::DocumentMap kept;
    for (const auto& [identifier, record] : docs) {
        if (!record)
            continue;
        if (!record->input() && QVFileInfo::emptyOrNull(record->current()) && !record->output())
            continue;
        kept.emplace(identifier, record);
    }
    return kept;
}

bool DropboxFolderManager::shouldFileBeKept(const QString& fileName, const DropboxFolderManagerState& state)
{
    if (fileName.endsWith(QStringLiteral(".index")))
        return isFileReferred(fileName, state.indexDocumentInfo);
    if (fileName.endsWith(QStringLiteral(".crvx"))) {
        for (const auto& entry : state.docs)
            if (isFileReferred(fileName, entry.second))
                return true;
        return false;
    }
    return fileName.endsWith(QStringLiteral(".status")) || fileName.endsWith(QStringLiteral(".bak"));
}

bool DropboxFolderManager::action_realFileCleanup()
{
    if (!idle() || !mState->isLocalStatusFileLoaded || !mState->filesBeingAccessedByLoad.isEmpty() ||
        mState->filesToReallyDelete.isEmpty())
        return false;
    const QStringList paths(mState->filesToReallyDelete.begin(), mState->filesToReallyDelete.end());
    mState->filesToReallyDelete.clear();
    removeFilesAsync(paths);
    return true;
}

// ---- Status file

void DropboxFolderManager::saveStatusLater()
{
    // A save already due within 2 s takes its snapshot when it runs, so it covers this
    // change too; one per window keeps a long synchronisation from rewriting the file for
    // every record.
    if (mSavesScheduled > 0)
        return;
    ++mSavesScheduled;
    const auto weak = weakSelf();
    MainQueue::postAfter(SaveDelaySeconds, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        --self->mSavesScheduled;
        if (self->mState->statusSavePending) {
            self->mSaveAgain = true;
            return;
        }
        self->writeDelayedSave();
    });
}

void DropboxFolderManager::writeDelayedSave()
{
    mState->statusSavePending = true;
    const auto weak = weakSelf();
    saveOrCreateLocalStatus([weak](bool) {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->mSaveAgain) {
            // Changes made while the last snapshot was being written.
            self->mSaveAgain = false;
            self->writeDelayedSave();
            return;
        }
        self->mState->statusSavePending = false;
    });
}

void DropboxFolderManager::flushPendingSave()
{
    if (mSavesScheduled == 0 && !mSaveAgain)
        return;
    mSaveAgain = false;
    if (mState->isLocalStatusFileLoaded)
        saveOrCreateLocalStatus({});
}

void DropboxFolderManager::saveOrCreateLocalStatus(AfterStatusSave then)
{
    auto snapshot =
        std::make_shared<DropboxFolderManagerState>(DropboxFolderManagerState::copyForSaving(*mState));
    const QString path = localManagedFile(StatusFileName);
    const ProcessActivity::Token activity =
        ProcessActivity::beginActivity(0, QStringLiteral("Saving the Dropbox status file"));
    const auto weak = weakSelf();
    StorageQueues::persistenceQueue().async([weak, snapshot, path, activity, then = std::move(then)] {
        const bool ok = snapshot->writeAtomicallyToURL(path);
        ProcessActivity::endActivity(activity);
        MainQueue::post([weak, ok, then] {
            if (auto self = weak.lock())
                self->ensureRunnable();
            if (then)
                then(ok);
        });
    });
}

} // namespace corvex
