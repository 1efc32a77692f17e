#include "platform/ui/Transaction.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/AnimationDriver.h"

#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

namespace corvex {

namespace {

// Counts the animations still running for one transaction; the block runs once they have all
// ended and the transaction has been committed.
struct CompletionGroup
{
    int pending = 0;
    bool sealed = false;
    bool fired = false;
    Completion<> block;

    // Through the animation driver, so that the block is answered after the completions of
    // the animations that ended in the same step.
    void fireIfDone()
    {
        if (!sealed || pending > 0 || fired)
            return;
        fired = true;
        if (block)
            AnimationDriver::deliver([block = std::move(block)]() mutable { block(); });
    }
};

struct State
{
    bool implicit = false;
    // The implicit transaction commits as soon as the explicit ones above it are closed.
    bool commitWhenUncovered = false;
    std::optional<bool> disableActions;
    std::optional<double> duration;
    std::optional<TimingFunction> timing;
    std::shared_ptr<CompletionGroup> group = std::make_shared<CompletionGroup>();
    // Alive while the implicit transaction's commit task is queued; a scheduler that goes
    // away (a test's virtual time) drops the task and with it this token.
    std::weak_ptr<void> commitTask;
    // The scheduler the commit task went to: once another one is installed, it would run
    // only when that one comes back.
    const Scheduler* commitScheduler = nullptr;
};

thread_local std::vector<State> tStack;
std::atomic<std::uint64_t> gCommitted{0};

bool hasImplicit()
{
    return !tStack.empty() && tStack.front().implicit;
}

// Seals and drops the transaction on top of the stack.
void closeTop()
{
    std::shared_ptr<CompletionGroup> group = tStack.back().group;
    tStack.pop_back();
    if (tStack.empty())
        gCommitted.fetch_add(1, std::memory_order_acq_rel);
    group->sealed = true;
    group->fireIfDone();
}

void commitImplicit()
{
    if (!hasImplicit())
        return;
    if (tStack.size() > 1) {
        tStack.front().commitWhenUncovered = true;
        return;
    }
    closeTop();
}

// An implicit transaction whose commit task was dropped with its scheduler commits now.
void commitStaleImplicit()
{
    if (!hasImplicit() || tStack.front().commitWhenUncovered)
        return;
    const State& implicit = tStack.front();
    if (implicit.commitTask.expired() || implicit.commitScheduler != &Scheduler::current())
        commitImplicit();
}

State* top()
{
    commitStaleImplicit();
    return tStack.empty() ? nullptr : &tStack.back();
}

template <class T> std::optional<T> innermost(std::optional<T> State::*field)
{
    commitStaleImplicit();
    for (auto it = tStack.rbegin(); it != tStack.rend(); ++it) {
        if ((*it).*field)
            return (*it).*field;
    }
    return std::nullopt;
}

} // namespace

void Transaction::begin()
{
    commitStaleImplicit();
    tStack.emplace_back();
}

void Transaction::commit()
{
    commitStaleImplicit();
    if (tStack.empty() || tStack.back().implicit) {
        Log::warning(QStringLiteral("Transaction::commit without a matching begin"));
        return;
    }
    closeTop();
    if (tStack.size() == 1 && tStack.front().commitWhenUncovered)
        closeTop();
}

void Transaction::flush()
{
    commitImplicit();
}

int Transaction::depth()
{
    commitStaleImplicit();
    return int(tStack.size()) - (hasImplicit() ? 1 : 0);
}

bool Transaction::disableActions()
{
    return innermost(&State::disableActions).value_or(false);
}

void Transaction::setDisableActions(bool disable)
{
    if (ensureOpen())
        top()->disableActions = disable;
}

double Transaction::animationDuration()
{
    return innermost(&State::duration).value_or(DefaultAnimationDuration);
}

void Transaction::setAnimationDuration(double seconds)
{
    if (ensureOpen())
        top()->duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
}

std::optional<TimingFunction> Transaction::animationTimingFunction()
{
    return innermost(&State::timing);
}

void Transaction::setAnimationTimingFunction(std::optional<TimingFunction> function)
{
    if (ensureOpen())
        top()->timing = std::move(function);
}

void Transaction::setCompletionBlock(Completion<> block)
{
    if (ensureOpen())
        top()->group->block = std::move(block);
}

bool Transaction::ensureOpen()
{
    commitStaleImplicit();
    if (!tStack.empty())
        return true;
    if (!MainQueue::isMainThread())
        return false;
    State state;
    state.implicit = true;
    auto token = std::make_shared<int>(0);
    state.commitTask = token;
    state.commitScheduler = &Scheduler::current();
    tStack.push_back(std::move(state));
    MainQueue::post([token] {
        // Only the implicit transaction this task was posted for (flush may have committed
        // it and a newer one may have opened since).
        if (hasImplicit() && tStack.front().commitTask.lock() == token)
            commitImplicit();
    });
    return true;
}

std::uint64_t Transaction::openGeneration()
{
    return gCommitted.load(std::memory_order_acquire) + 1;
}

std::uint64_t Transaction::committedGeneration()
{
    return gCommitted.load(std::memory_order_acquire);
}

std::function<void()> Transaction::trackAnimation()
{
    if (!ensureOpen())
        return [] {};
    std::vector<std::shared_ptr<CompletionGroup>> groups;
    groups.reserve(tStack.size());
    for (State& state : tStack) {
        ++state.group->pending;
        groups.push_back(state.group);
    }
    auto ended = std::make_shared<bool>(false);
    return [groups = std::move(groups), ended] {
        if (*ended)
            return;
        *ended = true;
        // Innermost first: a nested transaction's completion runs before its outer one's.
        for (auto it = groups.rbegin(); it != groups.rend(); ++it) {
            --(*it)->pending;
            (*it)->fireIfDone();
        }
    };
}

} // namespace corvex
