#pragma once

#include <functional>
#include <memory>
#include <optional>

namespace corvex {

// Runs a chain of steps in which each step may end inside its own call or later, on any
// thread, through a resume block it handed to asynchronous work (an attachment handler, an
// attachment fetch). Steps that resume inside their own call are run in a loop rather than
// nested, so a file with a hundred thousand attachments does not grow the stack.
//
// A step returns true or false to end the chain at once, or nothing after it has handed
// `resume` on; resume(true) runs the next step, resume(false) ends the chain with failure.
// A resume block that is destroyed without being called ends the chain with failure too,
// so a handler that drops its continuation cannot leave the chain hanging. Calls of a
// resume block after the first are ignored (and logged).
//
// `finish` runs exactly once, on the thread that ends the chain. The chain keeps itself
// alive until then.
class StepLoop : public std::enable_shared_from_this<StepLoop>
{
public:
    using Resume = std::function<void(bool ok)>;
    using Step = std::function<std::optional<bool>(const Resume& resume)>;
    using Finish = std::function<void(bool ok)>;

    static void run(Step step, Finish finish);

    // Use run(); public only for std::make_shared.
    StepLoop(Step step, Finish finish);
    ~StepLoop();
    StepLoop(const StepLoop&) = delete;
    StepLoop& operator=(const StepLoop&) = delete;

private:
    class Ticket;

    void pump();
    void resumed(bool ok);
    void end(bool ok);

    struct State;
    std::unique_ptr<State> mState;
};

} // namespace corvex
