#include "platform/core/DeadlineQueue.h"

namespace corvex {

std::pair<Scheduler::TaskId, bool> DeadlineQueue::push(double deadline, Scheduler::Task task)
{
    std::lock_guard lock(mMutex);
    const Scheduler::TaskId id = mNextId++;
    const Key key{deadline, id};
    mTasks.emplace(key, std::move(task));
    mDeadlines.emplace(id, deadline);
    return {id, mTasks.begin()->first == key};
}

void DeadlineQueue::cancel(Scheduler::TaskId id)
{
    // The task is destroyed after the lock is released: what it captured may schedule or
    // cancel work from its destructor.
    Scheduler::Task dropped;
    {
        std::lock_guard lock(mMutex);
        auto it = mDeadlines.find(id);
        if (it == mDeadlines.end())
            return;
        auto node = mTasks.extract(Key{it->second, id});
        if (!node.empty())
            dropped = std::move(node.mapped());
        mDeadlines.erase(it);
    }
}

std::optional<DeadlineQueue::Entry> DeadlineQueue::popDue(double limit)
{
    std::lock_guard lock(mMutex);
    if (mTasks.empty() || mTasks.begin()->first.first > limit)
        return std::nullopt;
    auto node = mTasks.extract(mTasks.begin());
    mDeadlines.erase(node.key().second);
    return Entry{node.key().second, node.key().first, std::move(node.mapped())};
}

std::optional<double> DeadlineQueue::earliestDeadline() const
{
    std::lock_guard lock(mMutex);
    if (mTasks.empty())
        return std::nullopt;
    return mTasks.begin()->first.first;
}

bool DeadlineQueue::empty() const
{
    std::lock_guard lock(mMutex);
    return mTasks.empty();
}

std::size_t DeadlineQueue::size() const
{
    std::lock_guard lock(mMutex);
    return mTasks.size();
}

} // namespace corvex
