#include "platform/core/AfterFirstFrame.h"

#include "platform/core/MainQueue.h"
#include "platform/core/StartupTrace.h"

#include <vector>

namespace corvex {

namespace {

struct HoldState
{
    bool holding = false;
    MainQueue::TaskId timer = 0;
    std::vector<std::function<void()>> waiting;
};

HoldState& holdState()
{
    static HoldState state;
    return state;
}

} // namespace

void AfterFirstFrame::hold()
{
    HoldState& state = holdState();
    if (state.holding)
        return;
    state.holding = true;
    state.timer = MainQueue::postAfter(MaxHoldSeconds, [] {
        holdState().timer = 0;
        release();
    });
}

void AfterFirstFrame::post(std::function<void()> block)
{
    if (!block)
        return;
    HoldState& state = holdState();
    if (state.holding)
        state.waiting.push_back(std::move(block));
    else
        block();
}

void AfterFirstFrame::release()
{
    HoldState& state = holdState();
    if (!state.holding)
        return;
    state.holding = false;
    if (state.timer != 0)
        MainQueue::cancel(state.timer);
    state.timer = 0;
    StartupTrace::mark("held work released");
    std::vector<std::function<void()>> waiting = std::move(state.waiting);
    state.waiting.clear();
    for (auto& block : waiting)
        MainQueue::post(std::move(block));
}

bool AfterFirstFrame::holding()
{
    return holdState().holding;
}

} // namespace corvex
