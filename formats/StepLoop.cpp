#include "formats/StepLoop.h"

#include "platform/core/Log.h"

#include <atomic>
#include <mutex>

namespace corvex {

struct StepLoop::State
{
    enum class Phase
    {
        Idle,          // no step runs; a resume starts the next one
        InStep,        // a step is running on some thread
        ResumedInStep, // the running step's resume was called before the step returned
        Finished
    };

    Step step;
    Finish finish;
    std::mutex mutex;
    Phase phase = Phase::Idle;
    bool resumeOk = false;
};

// One step's resume block: counts once, and reports failure when dropped uncalled.
class StepLoop::Ticket
{
public:
    explicit Ticket(std::shared_ptr<StepLoop> loop) : mLoop(std::move(loop)) {}
    ~Ticket()
    {
        if (!mCalled.exchange(true))
            mLoop->resumed(false);
    }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;

    void call(bool ok)
    {
        if (mCalled.exchange(true)) {
            Log::warning(QStringLiteral(
                "StepLoop: a continuation was called more than once; the later call is ignored"));
            return;
        }
        mLoop->resumed(ok);
    }

private:
    std::shared_ptr<StepLoop> mLoop;
    std::atomic<bool> mCalled{false};
};

StepLoop::StepLoop(Step step, Finish finish) : mState(std::make_unique<State>())
{
    mState->step = std::move(step);
    mState->finish = std::move(finish);
}

StepLoop::~StepLoop() = default;

void StepLoop::run(Step step, Finish finish)
{
    std::make_shared<StepLoop>(std::move(step), std::move(finish))->pump();
}

void StepLoop::pump()
{
    for (;;) {
        {
            std::lock_guard lock(mState->mutex);
            mState->phase = State::Phase::InStep;
        }
        std::optional<bool> outcome;
        {
            auto ticket = std::make_shared<Ticket>(shared_from_this());
            Resume resume = [ticket](bool ok) { ticket->call(ok); };
            outcome = mState->step(resume);
            // The step's own copy of the ticket goes here; a dropped resume reports failure now.
        }
        if (outcome) {
            // The step ended the chain; a resume it may have called as well is meaningless.
            end(*outcome);
            return;
        }
        bool ok = false;
        {
            std::lock_guard lock(mState->mutex);
            if (mState->phase != State::Phase::ResumedInStep) {
                mState->phase = State::Phase::Idle;
                return; // the resume comes later and runs the next step itself
            }
            ok = mState->resumeOk;
        }
        if (!ok) {
            end(false);
            return;
        }
    }
}

void StepLoop::resumed(bool ok)
{
    {
        std::lock_guard lock(mState->mutex);
        switch (mState->phase) {
        case State::Phase::InStep:
            mState->phase = State::Phase::ResumedInStep;
            mState->resumeOk = ok;
            return;
        case State::Phase::ResumedInStep:
        case State::Phase::Finished:
            return;
        case State::Phase::Idle:
            break;
        }
    }
    if (ok)
        pump();
    else
        end(false);
}

void StepLoop::end(bool ok)
{
    Finish finish;
    {
        std::lock_guard lock(mState->mutex);
        if (mState->phase == State::Phase::Finished)
            return;
        mState->phase = State::Phase::Finished;
        finish = std::move(mState->finish);
        // The step holds the stream or file of the chain: release it before reporting.
        mState->step = nullptr;
    }
    if (finish)
        finish(ok);
}

} // namespace corvex
