#include "platform/core/QuitHold.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

namespace {

// One waiter's answer, given once whichever comes first: the last release or the bound.
struct Waiter
{
    Completion<bool> then;
    std::atomic<bool> answered{false};

    void answer(bool released)
    {
        if (!answered.exchange(true))
            then(released);
    }
};

struct Holds
{
    std::mutex mutex;
    QStringList reasons; // one per hold
    std::vector<std::shared_ptr<Waiter>> waiters;
};

Holds& holds()
{
    static Holds* const all = new Holds; // lives to the process's end: holds may end at exit
    return *all;
}

} // namespace

QuitHold::QuitHold(QString reason) : mReason(std::move(reason))
{
    std::lock_guard lock(holds().mutex);
    holds().reasons.append(mReason);
}

QuitHold::~QuitHold()
{
    std::vector<std::shared_ptr<Waiter>> released;
    {
        std::lock_guard lock(holds().mutex);
        holds().reasons.removeOne(mReason);
        if (holds().reasons.isEmpty())
            released.swap(holds().waiters);
    }
    for (const auto& waiter : released)
        waiter->answer(true);
}

int QuitHold::held()
{
    std::lock_guard lock(holds().mutex);
    return int(holds().reasons.size());
}

void QuitHold::whenReleased(double seconds, Completion<bool> then)
{
    auto waiter = std::make_shared<Waiter>();
    waiter->then = std::move(then);
    {
        std::lock_guard lock(holds().mutex);
        if (!holds().reasons.isEmpty()) {
            holds().waiters.push_back(waiter);
            MainQueue::postAfter(seconds, [waiter] {
                QStringList left;
                {
                    std::lock_guard lock(holds().mutex);
                    // Not among the waiters any more: the last release has answered it.
                    if (std::erase(holds().waiters, waiter) == 0)
                        return;
                    left = holds().reasons;
                }
                Log::warning(
                    QStringLiteral("Not waiting any longer for: %1").arg(left.join(QStringLiteral("; "))));
                waiter->answer(false);
            });
            return;
        }
    }
    waiter->answer(true);
}

} // namespace corvex
