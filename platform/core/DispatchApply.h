#pragma once

#include <cstddef>
#include <functional>

namespace corvex {

// Runs the iterations of a loop at once on the calling thread and on helper threads, and
// returns when every iteration has run. The helpers are the process's own: made at the first
// call, as many as the usable cores less one (at most MaxHelpers), they live as long as the
// process, so what a thread keeps (its glyph and font caches) stays warm from call to call.
// Iterations are taken one at a time in index order by whichever thread is free; the calling
// thread always takes part, so a call never waits for a helper to wake before work starts.
//
// Any thread; calls from several threads take turns. An iteration must not call perform
// itself (it would run serially). An iteration that throws ends the process, on every road.
class DispatchApply
{
public:
    static constexpr int MaxHelpers = 7;

    static void perform(std::size_t iterations, const std::function<void(std::size_t)>& iteration);

    // The helper threads a call uses now (0 on one core: the caller runs every iteration).
    static int helperCount();
    // For tests: at most `helpers` helpers take part from now on (-1: as many as the cores
    // allow). Helpers already made stay and sleep.
    static void setHelperLimit(int helpers);
};

} // namespace corvex
