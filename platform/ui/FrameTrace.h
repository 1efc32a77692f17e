#pragma once

#include <QString>
#include <functional>

class QEvent;

namespace corvex {

class Layer;

// A developer's trace of slow frames. With CORVEX_FRAME_TRACE set in the environment, every
// frame whose work took more than a 60 Hz frame (16.7 ms) is logged with where the time
// went: work run on the main queue (queued calls and timers) and other events while the
// frame was waiting, layout (the update cycle), drawing per layer class (contents redrawn,
// and layers drawn at composite time), and compositing (with the layers composited through
// an image of their own: group opacity, soft masks). Phases nest (drawing inside the
// composite, an update cycle inside a main-queue task): each is charged only its own time.
// Work after which no frame is waiting asked for none and is forgotten. Off, each hook is
// one test of a flag. Main thread only.
class FrameTrace
{
public:
    enum class Phase
    {
        MainQueue,
        Events,
        Layout,
        Drawing,
        Composite,
    };

    // 1 / 60 s.
    static constexpr double kBudgetSeconds = 1.0 / 60.0;

    static bool isOn() { return sOn; }
    // On from the start when CORVEX_FRAME_TRACE is set; tests switch it. Switching drops
    // what was measured.
    static void setOn(bool on);
    // The time source, seconds on a monotonic clock; null for the steady clock. For tests.
    static void setClock(std::function<double()> clock);

    // Times a phase while it lives; does nothing when the trace is off. A labelled phase is
    // itemised in the line by label.
    class Scope
    {
    public:
        explicit Scope(Phase phase, const QString& label = QString());
        // Work on the layer (its drawing, its composite through an image of its own), labelled
        // by its class (a view's backing layer by the view's).
        Scope(Phase phase, Layer& layer);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        bool mActive = false;
    };

    // An event about to be delivered, timed as main-queue work (queued calls and timers),
    // as part of compositing (paints) or as another event.
    static Phase phaseOfEvent(const QEvent& event);

    // A window asked for a frame.
    static void frameRequested();
    // A window's frame was painted: once the work under way ends, the frame is judged and
    // logged if it went over the budget.
    static void framePainted();

private:
    static bool sOn;
};

} // namespace corvex
