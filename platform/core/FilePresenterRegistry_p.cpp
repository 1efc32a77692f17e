#include "platform/core/FilePresenterRegistry_p.h"

#include "platform/core/FilePresenter.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

#include <algorithm>

namespace corvex::detail {

FilePresenterRegistry& FilePresenterRegistry::instance()
{
    static FilePresenterRegistry* registry = new FilePresenterRegistry;
    return *registry;
}

bool FilePresenterRegistry::pruneLocked(const QString& path)
{
    auto it = mByPath.find(path);
    if (it == mByPath.end()) {
        mStates.remove(path);
        return false;
    }
    std::vector<RegistrationPtr>& list = it.value();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [](const RegistrationPtr& entry) {
                                  return !entry->active.load() || entry->presenter.expired();
                              }),
               list.end());
    if (!list.empty())
        return true;
    mByPath.erase(it);
    mStates.remove(path);
    return false;
}

void FilePresenterRegistry::add(const std::shared_ptr<FilePresenter>& presenter, const QString& path)
{
    auto registration = std::make_shared<PresenterRegistration>();
    registration->presenter = presenter;
    registration->address = presenter.get();
    registration->path = path;
    // Taken before the lock: a stat may be slow, and a base a hair early is harmless.
    const FileState base = FileState::of(path);

    std::lock_guard lock(mMutex);
    for (auto it = mByPath.begin(); it != mByPath.end(); ++it) {
        for (const RegistrationPtr& entry : it.value()) {
            if (entry->address == presenter.get())
                entry->active.store(false);
        }
    }
    const bool presented = pruneLocked(path);
    mByPath[path].push_back(std::move(registration));
    if (!presented)
        mStates.insert(path, base);
}

bool FilePresenterRegistry::remove(const FilePresenter* presenter)
{
    std::lock_guard lock(mMutex);
    QStringList touched;
    for (auto it = mByPath.begin(); it != mByPath.end(); ++it) {
        for (const RegistrationPtr& entry : it.value()) {
            if (entry->address == presenter && entry->active.exchange(false))
                touched.push_back(it.key());
        }
    }
    for (const QString& path : touched)
        pruneLocked(path);
    return !touched.isEmpty();
}

std::vector<LivePresenter> FilePresenterRegistry::presentersOf(const QString& path,
                                                               const FilePresenter* except)
{
    // Declared before the lock: if a presenter's last owner lets go meanwhile, our
    // reference is the last, and its destructor (which unregisters) must run unlocked.
    std::vector<LivePresenter> result;
    std::lock_guard lock(mMutex);
    if (!pruneLocked(path))
        return result;
    for (const RegistrationPtr& entry : mByPath.value(path)) {
        if (entry->address == except)
            continue;
        if (std::shared_ptr<FilePresenter> presenter = entry->presenter.lock())
            result.push_back(LivePresenter{entry, std::move(presenter)});
    }
    return result;
}

std::vector<std::shared_ptr<FilePresenter>> FilePresenterRegistry::all()
{
    std::vector<std::shared_ptr<FilePresenter>> result; // before the lock, as above
    std::lock_guard lock(mMutex);
    const QStringList paths = mByPath.keys();
    for (const QString& path : paths) {
        if (!pruneLocked(path))
            continue;
        for (const RegistrationPtr& entry : mByPath.value(path)) {
            if (std::shared_ptr<FilePresenter> presenter = entry->presenter.lock())
                result.push_back(std::move(presenter));
        }
    }
    return result;
}

QStringList FilePresenterRegistry::presentedPaths()
{
    std::lock_guard lock(mMutex);
    QStringList result;
    const QStringList paths = mByPath.keys();
    for (const QString& path : paths) {
        if (pruneLocked(path))
            result.push_back(path);
    }
    result.sort();
    return result;
}

void FilePresenterRegistry::beginOwnWrite(const QString& path)
{
    std::lock_guard lock(mMutex);
    ++mWritesInProgress[path];
}

void FilePresenterRegistry::endOwnWrite(const QString& path)
{
    const FileState state = FileState::of(path);
    std::lock_guard lock(mMutex);
    if (--mWritesInProgress[path] <= 0)
        mWritesInProgress.remove(path);
    if (pruneLocked(path))
        mStates.insert(path, state);
}

FilePresenterRegistry::Check FilePresenterRegistry::takeChange(const QString& path, const FileState& now)
{
    std::lock_guard lock(mMutex);
    if (!pruneLocked(path))
        return Check::Unchanged;
    if (mWritesInProgress.value(path) > 0)
        return Check::Busy;
    auto it = mStates.find(path);
    if (it != mStates.end() && it.value() == now)
        return Check::Unchanged;
    const bool hadRecord = it != mStates.end();
    mStates.insert(path, now);
    return hadRecord ? Check::Changed : Check::Unchanged;
}

bool FilePresenterRegistry::isOnPresenterQueue(FilePresenter& presenter)
{
    SerialQueue* queue = presenter.presentedItemQueue();
    return queue ? queue->isCurrent() : MainQueue::isMainThread();
}

void FilePresenterRegistry::deliver(const LivePresenter& target, When when, bool evenIfRemoved,
                                    std::function<void(FilePresenter&)> call, std::function<void()> dropped)
{
    if (when == When::HereIfCurrent && isOnPresenterQueue(*target.presenter)) {
        call(*target.presenter);
        return;
    }
    auto task = [registration = target.registration, evenIfRemoved, call = std::move(call),
                 dropped = std::move(dropped)] {
        std::shared_ptr<FilePresenter> presenter;
        if (evenIfRemoved || registration->active.load())
            presenter = registration->presenter.lock();
        if (presenter)
            call(*presenter);
        else if (dropped)
            dropped();
    };
    if (SerialQueue* queue = target.presenter->presentedItemQueue())
        queue->async(std::move(task));
    else
        MainQueue::post(std::move(task));
}

} // namespace corvex::detail
