#pragma once

#include "platform/core/Completion.h"
#include "platform/ui/TimingFunction.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace corvex {

// Layer transactions. Each thread has a stack of explicit transactions (begin/commit, which
// nest); on the main thread a change made outside them opens the turn's implicit transaction,
// committed at the end of the turn (a task posted to the main queue) or by flush(). A
// transaction carries disableActions, the animation duration and timing function, and a
// completion block; getters answer the innermost value set in any open transaction, else
// the default. The completion is answered once, on its queue, when every animation added
// while the transaction was open (also inside nested ones) has ended, or in the next turn
// when there were none. Layers and transactions belong to the main thread; on another
// thread only explicit transactions exist, and changes outside them do not animate.
class Transaction
{
public:
    static constexpr double DefaultAnimationDuration = 0.25;

    static void begin();
    // Closes the innermost explicit transaction; without one it logs and does nothing.
    static void commit();
    // Commits the implicit transaction now, or when the explicit ones open over it close.
    static void flush();
    // The number of explicit transactions open on this thread.
    static int depth();

    static bool disableActions();
    static void setDisableActions(bool disable);
    static double animationDuration();
    static void setAnimationDuration(double seconds);
    static std::optional<TimingFunction> animationTimingFunction();
    static void setAnimationTimingFunction(std::optional<TimingFunction> function);
    // The innermost open transaction's completion; one set before in the same transaction
    // is let go unanswered.
    static void setCompletionBlock(Completion<> block);

    // For layers. Opens the implicit transaction when none is open (main thread only) and
    // returns whether a transaction is open now.
    static bool ensureOpen();
    // Commit generations: each commit of an outermost transaction completes one. What a layer
    // does while generation g is open is committed once committedGeneration() >= g.
    static std::uint64_t openGeneration();
    static std::uint64_t committedGeneration();
    // Ties an animation added now to every open transaction. The answer must be called once
    // when the animation ends (finished, removed or replaced).
    static std::function<void()> trackAnimation();
};

} // namespace corvex
