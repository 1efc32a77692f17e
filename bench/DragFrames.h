#pragma once

#include "bench/FrameTimes.h"
#include "bench/WindowFramePainter.h"
#include "platform/ui/DragSessionRunner.h"
#include "shell/DragSupportWindow.h"

#include <benchmark/benchmark.h>
#include <functional>
#include <memory>
#include <utility>

namespace corvex::bench {

// Runs a benchmark's measured drag movements in place of Qt's drag loop: a window's own
// drag then goes through its real start and end around them.
class InPlaceDragRunner final : public DragSessionRunner
{
public:
    explicit InPlaceDragRunner(std::function<void()> moves) : mMoves(std::move(moves)) {}
    bool runDrag(Request) override
    {
        mMoves();
        return false;
    }

private:
    std::function<void()> mMoves;
};

// A window's own drag measured frame by frame: `startDrag` starts it (through the window or
// its screen); the pointer enters at `start`, then moves to `locationAt(step)` once a
// benchmark iteration (step 1, 2, ...), each movement a frame painted by `frames` and timed
// by `times`, and leaves.
inline void measureDragFrames(benchmark::State& state, DragSupportWindow& window, WindowFramePainter& frames,
                              FrameTimes& times, Point start, const std::function<Point(int)>& locationAt,
                              const std::function<void()>& startDrag)
{
    auto runner = std::make_shared<InPlaceDragRunner>([&] {
        DragDestination::Drag drag;
        drag.sequenceNumber = DragSessionRegistry::runningSessionNumber();
        drag.hasDraggingSource = true;
        drag.location = start;
        window.draggingEntered(drag);
        frames.paint();
        int step = 0;
        for (auto _ : state) {
            drag.location = locationAt(++step);
            times.start();
            window.draggingUpdated(drag);
            frames.paint();
            state.SetIterationTime(times.stop());
        }
        window.draggingExited(drag);
    });
    const auto previous = DragSessionRunner::install(runner);
    startDrag();
    DragSessionRunner::install(previous);
}

} // namespace corvex::bench
