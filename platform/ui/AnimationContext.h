#pragma once

#include "platform/core/Completion.h"
#include "platform/ui/TimingFunction.h"

#include <functional>
#include <optional>

namespace corvex {

// Grouped animation in the form views use: runAnimationGroup opens a transaction with the
// duration and timing function, runs `changes` (animator-proxy setters and implicit layer
// changes inside it share them), commits, and answers `completion` once, on its queue, when
// every animation started in `changes` has ended (in the next turn when none was).
class AnimationContext
{
public:
    // The changes made inside the group, run once, at once.
    using Changes = std::function<void()>;

    static void runAnimationGroup(double duration, std::optional<TimingFunction> timing,
                                  const Changes& changes, Completion<> completion = nullptr);

    // The values in force for changes made now (inside a group: the group's).
    static double duration();
    static std::optional<TimingFunction> timingFunction();
};

} // namespace corvex
