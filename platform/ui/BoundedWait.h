#pragma once

#include <functional>

namespace corvex {

// Waits inside the main thread for something other work will finish, at most a given time
// measured on the current scheduler: the pump runs the event loop (Qt's, unless a test
// installs one that also moves virtual time) until `done` answers true or the time is up.
// Main thread only.
class BoundedWait
{
public:
    // True when `done` answered true in time.
    static bool until(const std::function<bool()>& done, double seconds);
    // The step the wait repeats; an empty one goes back to Qt's event loop.
    static void setPump(std::function<void()> pump);
};

} // namespace corvex
