#include "platform/core/FileCoordinator.h"

#include "platform/core/CrossProcessLock.h"
#include "platform/core/FileChangeWatcher.h"
#include "platform/core/FilePresenter.h"
#include "platform/core/FilePresenterRegistry_p.h"
#include "platform/core/Log.h"

#include <QDir>
#include <QHash>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>

namespace corvex {

const QString FileCoordinator::ErrorDomain = QStringLiteral("com.tallowfen.corvex.filecoordination");

namespace {

using detail::FilePresenterRegistry;
using detail::LivePresenter;
using detail::RegistrationPtr;

std::atomic<double> gLockTimeout{CrossProcessLock::DefaultTimeout};
std::atomic<double> gRelinquishTimeout{2.0};

double sanitisedSeconds(double seconds)
{
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

// Real time on purpose, for both waits: they are for other threads and processes, and a
// virtual clock installed by a test would never move while this thread blocks.
std::chrono::steady_clock::duration realDuration(double seconds)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

// Readers together, writers alone, granted in the order they asked: readers that come
// after a waiting writer wait behind it, and consecutive readers go in together. Neither a
// stream of reads nor a stream of writes can starve the other side (the system's
// reader/writer locks prefer readers, which starves saves).
class PathLock
{
public:
    bool lockShared(std::chrono::steady_clock::duration timeout) { return acquire(false, timeout); }
    bool lock(std::chrono::steady_clock::duration timeout) { return acquire(true, timeout); }

    void unlockShared()
    {
        std::lock_guard lock(mMutex);
        --mReaders;
        grantLocked();
    }

    void unlock()
    {
        std::lock_guard lock(mMutex);
        mWriter = false;
        grantLocked();
    }

private:
    struct Waiter
    {
        bool writer;
        bool granted = false;
    };

    bool acquire(bool writer, std::chrono::steady_clock::duration timeout)
    {
        std::unique_lock lock(mMutex);
        Waiter me{writer};
        mQueue.push_back(&me);
        grantLocked();
        if (mCondition.wait_for(lock, timeout, [&me] { return me.granted; }))
            return true;
        mQueue.remove(&me);
        grantLocked(); // a writer that gives up may have held back readers
        return false;
    }

    // Needs the mutex.
    void grantLocked()
    {
        bool granted = false;
        while (!mQueue.empty()) {
            Waiter* next = mQueue.front();
            if (next->writer) {
                if (mWriter || mReaders > 0)
                    break;
                mWriter = true;
            } else {
                if (mWriter)
                    break;
                ++mReaders;
            }
            next->granted = true;
            granted = true;
            mQueue.pop_front();
            if (next->writer)
                break;
        }
        if (granted)
            mCondition.notify_all();
    }

    std::mutex mMutex;
    std::condition_variable mCondition;
    std::list<Waiter*> mQueue; // waiting, in order of arrival
    int mReaders = 0;
    bool mWriter = false;
};

// The in-process locks, one per path while anyone uses it.
class PathLocks
{
public:
    static PathLocks& instance()
    {
        static PathLocks* locks = new PathLocks; // used until the very end of the process
        return *locks;
    }

    std::shared_ptr<PathLock> get(const QString& path)
    {
        std::lock_guard lock(mMutex);
        std::weak_ptr<PathLock>& slot = mLocks[path];
        std::shared_ptr<PathLock> pathLock = slot.lock();
        if (!pathLock) {
            pathLock = std::make_shared<PathLock>();
            slot = pathLock;
        }
        if (mLocks.size() > mSweepAt) {
            for (auto it = mLocks.begin(); it != mLocks.end();)
                it = it.value().expired() ? mLocks.erase(it) : std::next(it);
            mSweepAt = std::max<qsizetype>(64, mLocks.size() * 2);
        }
        return pathLock;
    }

private:
    std::mutex mMutex;
    QHash<QString, std::weak_ptr<PathLock>> mLocks;
    qsizetype mSweepAt = 64;
};

// The paths this thread holds, for nested coordination.
struct HeldPath
{
    QString path;
    bool exclusive;
};
thread_local std::vector<HeldPath> tHeldPaths;

// One round of asking the other presenters of a path to let go of it.
struct RelinquishRound
{
    struct Slot
    {
        RegistrationPtr registration;
        bool answered = false;
        FilePresenter::Reacquirer reacquirer;
    };

    std::mutex mutex;
    std::condition_variable condition;
    std::vector<Slot> slots;
    std::size_t waiting = 0;
    bool finished = false; // the access is over: late answers reacquire at once
};

void runReacquirer(const RegistrationPtr& registration, FilePresenter::Reacquirer reacquirer)
{
    // A presenter that is gone must not be handed its closure back: it may point into it.
    std::shared_ptr<FilePresenter> presenter = registration->presenter.lock();
    if (!presenter)
        return;
    FilePresenterRegistry::deliver(LivePresenter{registration, std::move(presenter)},
                                   FilePresenterRegistry::When::HereIfCurrent, true,
                                   [reacquirer = std::move(reacquirer)](FilePresenter&) { reacquirer(); });
}

// Asks every presenter of `path` but `except` to relinquish, waits a bounded time for the
// answers and answers the round (null when there was nobody to ask).
std::shared_ptr<RelinquishRound> relinquish(bool write, const QString& path, const FilePresenter* except)
{
    std::vector<LivePresenter> others = FilePresenterRegistry::instance().presentersOf(path, except);
    if (others.empty())
        return nullptr;
    auto round = std::make_shared<RelinquishRound>();
    round->slots.resize(others.size());
    for (std::size_t i = 0; i < others.size(); ++i)
        round->slots[i].registration = others[i].registration;
    round->waiting = others.size();

    for (std::size_t i = 0; i < others.size(); ++i) {
        FilePresenter::RelinquishBlock block = [round, i, path](FilePresenter::Reacquirer reacquirer) {
            std::unique_lock lock(round->mutex);
            RelinquishRound::Slot& slot = round->slots[i];
            if (slot.answered) {
                lock.unlock();
                Log::assertionFailure(
                    QStringLiteral("a file presenter of %1 answered a relinquish twice").arg(path));
                return;
            }
            slot.answered = true;
            if (round->finished) {
                const RegistrationPtr registration = slot.registration;
                lock.unlock();
                if (reacquirer)
                    runReacquirer(registration, std::move(reacquirer));
                return;
            }
            slot.reacquirer = std::move(reacquirer);
            --round->waiting;
            round->condition.notify_all();
        };
        FilePresenterRegistry::deliver(
            others[i], FilePresenterRegistry::When::HereIfCurrent, false,
            [block, write](FilePresenter& presenter) {
                if (write)
                    presenter.relinquishPresentedItemToWriter(block);
                else
                    presenter.relinquishPresentedItemToReader(block);
            },
            [block] { block(FilePresenter::Reacquirer()); });
    }
    // Our references go now: a presenter released meanwhile is not kept alive by a wait.
    others.clear();

    std::unique_lock lock(round->mutex);
    const bool answered = round->condition.wait_for(lock, realDuration(FileCoordinator::relinquishTimeout()),
                                                    [&round] { return round->waiting == 0; });
    if (!answered)
        Log::warning(
            QStringLiteral("%1 of the presenters of %2 did not relinquish it in time; going on without them")
                .arg(round->waiting)
                .arg(path));
    return round;
}

void finishRound(const std::shared_ptr<RelinquishRound>& round)
{
    if (!round)
        return;
    std::vector<std::pair<RegistrationPtr, FilePresenter::Reacquirer>> reacquirers;
    {
        std::lock_guard lock(round->mutex);
        round->finished = true;
        for (RelinquishRound::Slot& slot : round->slots) {
            if (slot.reacquirer)
                reacquirers.emplace_back(slot.registration, std::move(slot.reacquirer));
        }
    }
    for (auto& [registration, reacquirer] : reacquirers)
        runReacquirer(registration, std::move(reacquirer));
}

// Undoes what an access took, also when the accessor throws.
struct AccessScope
{
    std::shared_ptr<PathLock> pathLock;
    bool exclusive = false;
    bool locked = false;
    bool held = false;
    bool writing = false;
    QString path;
    std::unique_ptr<CrossProcessLock> crossProcess;

    void endWrite()
    {
        if (!writing)
            return;
        writing = false;
        FilePresenterRegistry::instance().endOwnWrite(path);
    }

    ~AccessScope()
    {
        endWrite(); // before the cross-process lock goes: nobody else can have written since
        if (held)
            tHeldPaths.pop_back();
        crossProcess.reset();
        if (locked) {
            if (exclusive)
                pathLock->unlock();
            else
                pathLock->unlockShared();
        }
    }
};

} // namespace

FileCoordinator::FileCoordinator(const FilePresenter* presenterOrNull) : mPresenter(presenterOrNull) {}

bool FileCoordinator::coordinateReading(const QString& path, int options,
                                        const std::function<void(const QString& path)>& accessor,
                                        Error* error) const
{
    Q_UNUSED(options); // ReadingWithoutChanges only: see the header
    return coordinate(false, path, accessor, error);
}

bool FileCoordinator::coordinateWriting(const QString& path, int options,
                                        const std::function<void(const QString& path)>& accessor,
                                        Error* error) const
{
    Q_UNUSED(options); // every write is treated alike: see the header
    return coordinate(true, path, accessor, error);
}

bool FileCoordinator::coordinate(bool write, const QString& path,
                                 const std::function<void(const QString& path)>& accessor, Error* error) const
{
    auto failed = [error](Error problem) {
        Log::debug(QStringLiteral("File coordination failed: %1").arg(problem.toString()));
        if (error)
            *error = std::move(problem);
        return false;
    };
    const QString normalised = normalisedPath(path);
    if (normalised.isEmpty())
        return failed(Error(ErrorDomain, InvalidPath, QStringLiteral("No file was given to coordinate.")));

    for (const HeldPath& held : tHeldPaths) {
        if (held.path != normalised)
            continue;
        if (write && !held.exclusive)
            return failed(
                Error(ErrorDomain, NestedWriteInRead,
                      QStringLiteral("%1 cannot be written inside a coordinated read of it.").arg(normalised),
                      {{Error::FilePathKey, normalised}}));
        accessor(normalised);
        return true;
    }

    Error problem;
    {
        // Presenters get the file back also when the access fails or the accessor throws.
        struct RoundEnd
        {
            std::shared_ptr<RelinquishRound> round;
            ~RoundEnd() { finishRound(round); }
        } roundEnd{relinquish(write, normalised, mPresenter)};
        AccessScope scope;
        scope.path = normalised;
        scope.exclusive = write;
        scope.pathLock = PathLocks::instance().get(normalised);
        const double timeout = lockTimeout();
        const auto wait = realDuration(timeout);
        scope.locked = write ? scope.pathLock->lock(wait) : scope.pathLock->lockShared(wait);
        if (!scope.locked) {
            problem = Error(ErrorDomain, Busy,
                            QStringLiteral("%1 is in use in this program for longer than %2 s.")
                                .arg(normalised)
                                .arg(timeout),
                            {{Error::FilePathKey, normalised}});
        } else {
            scope.crossProcess =
                std::make_unique<CrossProcessLock>(CrossProcessLock::lockFilePathFor(normalised), normalised);
            if (!scope.crossProcess->lock(
                    write ? CrossProcessLock::Mode::Exclusive : CrossProcessLock::Mode::Shared, timeout)) {
                problem = scope.crossProcess->error();
            } else {
                tHeldPaths.push_back(HeldPath{normalised, write});
                scope.held = true;
                if (write) {
                    FilePresenterRegistry::instance().beginOwnWrite(normalised);
                    scope.writing = true;
                }
                accessor(normalised);
                scope.endWrite();
            }
        }
    }
    if (!problem.isNull())
        return failed(std::move(problem));

    if (write) {
        for (const LivePresenter& other :
             FilePresenterRegistry::instance().presentersOf(normalised, mPresenter))
            FilePresenterRegistry::deliver(
                other, FilePresenterRegistry::When::Later, false,
                [](FilePresenter& presenter) { presenter.presentedItemDidChange(); });
    }
    return true;
}

void FileCoordinator::addFilePresenter(const std::shared_ptr<FilePresenter>& presenter)
{
    if (!presenter)
        return;
    const QString path = normalisedPath(presenter->presentedItemPath());
    if (path.isEmpty()) {
        Log::warning(QStringLiteral("A file presenter without a path is not registered"));
        return;
    }
    FilePresenterRegistry::instance().add(presenter, path);
    FileChangeWatcher::presentersChanged();
}

void FileCoordinator::removeFilePresenter(const FilePresenter* presenter)
{
    if (presenter && FilePresenterRegistry::instance().remove(presenter))
        FileChangeWatcher::presentersChanged();
}

std::vector<std::shared_ptr<FilePresenter>> FileCoordinator::filePresenters()
{
    return FilePresenterRegistry::instance().all();
}

QString FileCoordinator::normalisedPath(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

double FileCoordinator::lockTimeout() const
{
    return mLockTimeout < 0 ? defaultLockTimeout() : mLockTimeout;
}

void FileCoordinator::setLockTimeout(double seconds)
{
    mLockTimeout = sanitisedSeconds(seconds);
}

double FileCoordinator::defaultLockTimeout()
{
    return gLockTimeout.load();
}

void FileCoordinator::setDefaultLockTimeout(double seconds)
{
    gLockTimeout.store(sanitisedSeconds(seconds));
}

double FileCoordinator::relinquishTimeout()
{
    return gRelinquishTimeout.load();
}

void FileCoordinator::setRelinquishTimeout(double seconds)
{
    gRelinquishTimeout.store(sanitisedSeconds(seconds));
}

} // namespace corvex
