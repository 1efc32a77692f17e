#pragma once

// Private to platform/core: the process-wide table of file presenters, shared by
// FileCoordinator (whom to tell about a coordinated access) and FileChangeWatcher (which
// folders to watch, and which file states this process wrote itself).

#include "platform/core/FileState.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {
class FilePresenter;
}

namespace corvex::detail {

struct PresenterRegistration
{
    std::weak_ptr<FilePresenter> presenter;
    const FilePresenter* address = nullptr; // identity only, never dereferenced
    QString path;                           // normalised
    std::atomic<bool> active{true};         // false once removed
};
using RegistrationPtr = std::shared_ptr<PresenterRegistration>;

// A registration whose presenter is kept alive for as long as this is held.
struct LivePresenter
{
    RegistrationPtr registration;
    std::shared_ptr<FilePresenter> presenter;
};

class FilePresenterRegistry
{
public:
    enum class Check
    {
        Unchanged, // as recorded (or the path is not presented)
        Changed,   // differs from the record; the new state is now the record
        Busy       // a coordinated write of this process is under way: look again later
    };

    enum class When
    {
        Later,         // always queued on the presenter's queue
        HereIfCurrent, // at once when the caller already runs on the presenter's queue
    };

    // Never destroyed: presenters may be released during static destruction.
    static FilePresenterRegistry& instance();

    // Registers the presenter under `path` (normalised); a presenter added again moves to
    // the new path. The first presenter of a path records the file's state as the base
    // that later changes are measured against.
    void add(const std::shared_ptr<FilePresenter>& presenter, const QString& path);
    // False when it was not registered.
    bool remove(const FilePresenter* presenter);

    std::vector<LivePresenter> presentersOf(const QString& path, const FilePresenter* except);
    std::vector<std::shared_ptr<FilePresenter>> all();
    QStringList presentedPaths();

    // Around the accessor of a coordinated write: the watcher must not take the file's
    // state for somebody else's while we write it, and afterwards the state is our own.
    void beginOwnWrite(const QString& path);
    void endOwnWrite(const QString& path);
    // For the watcher: compares the file's state `now` with the record.
    Check takeChange(const QString& path, const FileState& now);

    // Runs `call` with the presenter on its queue (the main queue for none), unless by then
    // it has been destroyed, or removed and `evenIfRemoved` is false; `dropped` (optional)
    // runs instead in that case, on the same thread.
    static void deliver(const LivePresenter& target, When when, bool evenIfRemoved,
                        std::function<void(FilePresenter&)> call, std::function<void()> dropped = {});
    // True when the calling thread runs the presenter's queue (the main thread for none).
    static bool isOnPresenterQueue(FilePresenter& presenter);

private:
    FilePresenterRegistry() = default;

    // Needs the mutex. Drops the registrations of `path` whose presenter has expired (a
    // registration holds it weakly, so nothing is destroyed under the lock) and answers
    // whether any remain; forgets the path when none do.
    bool pruneLocked(const QString& path);

    std::mutex mMutex;
    QHash<QString, std::vector<RegistrationPtr>> mByPath;
    QHash<QString, FileState> mStates;     // recorded state of every presented path
    QHash<QString, int> mWritesInProgress; // coordinated writes under way, by path
};

} // namespace corvex::detail
