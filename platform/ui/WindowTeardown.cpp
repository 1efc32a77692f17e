#include "platform/ui/WindowTeardown.h"

#include "platform/core/MainQueue.h"

#include <QPointer>
#include <QWidget>
#include <utility>
#include <vector>

namespace corvex {

namespace {

struct PendingClose
{
    std::weak_ptr<const int> life;
    std::function<void()> close;
};

struct TeardownState
{
    int deliveries = 0;
    int modalLoops = 0;
    bool turnRequested = false;
    std::vector<PendingClose> closes;
    std::vector<QPointer<QWidget>> hosts;
    std::vector<std::function<void()>> afterCloses;
};

TeardownState& state()
{
    static TeardownState teardown;
    return teardown;
}

} // namespace

WindowTeardown::Delivery::Delivery()
{
    ++state().deliveries;
}

WindowTeardown::Delivery::~Delivery()
{
    --state().deliveries;
    depthDropped();
}

WindowTeardown::ModalLoop::ModalLoop()
{
    ++state().modalLoops;
}

WindowTeardown::ModalLoop::~ModalLoop()
{
    --state().modalLoops;
    depthDropped();
}

bool WindowTeardown::isSafeNow()
{
    return state().deliveries == 0 && state().modalLoops == 0;
}

void WindowTeardown::closeLater(std::weak_ptr<const int> life, std::function<void()> close)
{
    state().closes.push_back({std::move(life), std::move(close)});
    requestTurn();
}

void WindowTeardown::dispose(QWidget* host)
{
    if (!host)
        return;
    if (isSafeNow()) {
        delete host;
        return;
    }
    state().hosts.emplace_back(host);
    requestTurn();
}

void WindowTeardown::afterCloses(std::function<void()> work)
{
    state().afterCloses.push_back(std::move(work));
    requestTurn();
}

int WindowTeardown::pendingCount()
{
    return int(state().closes.size() + state().hosts.size() + state().afterCloses.size());
}

void WindowTeardown::depthDropped()
{
    // The turn that came while something was under way did nothing: one more, now that it
    // has ended.
    if (isSafeNow() && pendingCount() > 0)
        requestTurn();
}

void WindowTeardown::requestTurn()
{
    if (state().turnRequested)
        return;
    state().turnRequested = true;
    MainQueue::post([] { runTurn(); });
}

void WindowTeardown::runTurn()
{
    state().turnRequested = false;
    // Posted tasks also run inside nested loops and deliveries that pump events: the turn
    // waits for them to end.
    if (!isSafeNow())
        return;
    const std::vector<PendingClose> closes = std::exchange(state().closes, {});
    for (const PendingClose& pending : closes) {
        if (!pending.life.expired())
            pending.close();
    }
    const std::vector<QPointer<QWidget>> hosts = std::exchange(state().hosts, {});
    for (const QPointer<QWidget>& host : hosts) {
        if (host) {
            host->hide();
            delete host.data();
        }
    }
    // One at a time: the work may run a nested loop, and what it leaves waiting goes
    // on a turn of its own once that loop has ended.
    if (!state().afterCloses.empty()) {
        const std::function<void()> work = std::move(state().afterCloses.front());
        state().afterCloses.erase(state().afterCloses.begin());
        if (!state().afterCloses.empty())
            requestTurn();
        work();
    }
}

} // namespace corvex
