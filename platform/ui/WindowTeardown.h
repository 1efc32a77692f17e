#pragma once

#include <functional>
#include <memory>

class QWidget;

namespace corvex {

// Where windows close and their host widgets die: never while Qt is in the middle of
// something that holds on to them. Qt keeps plain pointers to the top-level widgets while it
// delivers an event (activating one window deactivates the others in one loop over them), and
// a nested event loop (an alert, a pop-up menu, a print panel, a drag) runs on a stack object
// parented to a window's host. A close asked for inside either is carried out on a later
// turn of the outermost event loop, once every delivery and nested loop has ended; a host
// let go then is kept, hidden and deleted on that turn. Asked for at any other moment, both
// happen at once.
//
// Deliveries are marked by the application's event dispatch (ReportingApplication) and by
// every window host; nested loops by whatever runs one (the runners, BoundedWait). Main
// thread only.
class WindowTeardown
{
public:
    // Marks Qt's delivery of one event to a window or one of its widgets.
    class Delivery
    {
    public:
        Delivery();
        ~Delivery();
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;
    };

    // Marks a nested event loop run for a modal interaction.
    class ModalLoop
    {
    public:
        ModalLoop();
        ~ModalLoop();
        ModalLoop(const ModalLoop&) = delete;
        ModalLoop& operator=(const ModalLoop&) = delete;
    };

    // Whether a window may close or a host die now: no delivery and no nested loop under way.
    static bool isSafeNow();
    // Runs `close` on the first later turn that is safe, unless `life` has expired by then.
    // Closes run in the order they were asked for.
    static void closeLater(std::weak_ptr<const int> life, std::function<void()> close);
    // Deletes a host whose window is gone: at once when safe, else hidden and deleted on
    // that later turn. Null is ignored.
    static void dispose(QWidget* host);
    // Runs `work` on the first later turn that is safe, after the closes asked for before it
    // have taken effect: what follows a close (an alert about the window) then comes up
    // neither on the closing window nor inside a delivery or another nested loop.
    static void afterCloses(std::function<void()> work);
    // Closes, hosts and work waiting for their turn.
    static int pendingCount();

private:
    static void depthDropped();
    static void requestTurn();
    static void runTurn();
};

} // namespace corvex
