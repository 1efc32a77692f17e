#pragma once

#include <functional>

namespace corvex {

// Work of the launch that the first window does not need waits until that window's first
// frame is drawn, so that it takes nothing from the road to it. The application's launch
// holds such work (hold()); the interface lets it go when a window's first frame was drawn
// (release()), and so does a timer when no frame comes within MaxHoldSeconds (an alert over
// the launch, a window that never shows). Outside a hold, post() runs the block at once: a
// process without a launch (tests, tools) waits for nothing. Main thread only.
class AfterFirstFrame
{
public:
    static constexpr double MaxHoldSeconds = 3.0;

    // From now on posted work waits; the timer starts. Again while holding: nothing.
    static void hold();
    // Held: the block waits for the release. Otherwise: it runs now, inside this call.
    static void post(std::function<void()> block);
    // Ends the hold: what waits runs in the order posted, each in a main-queue turn of its own
    // (the frame's turn ends first). Without a hold: nothing.
    static void release();
    static bool holding();
};

} // namespace corvex
