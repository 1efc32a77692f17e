#pragma once

#include <functional>

namespace corvex::test {

// Pumps Qt's event loop (and, when a virtual scheduler is installed, whatever is due on it
// now, or at its next deadline when it auto-advances) until the predicate holds or `timeoutSeconds` of real
// time have passed. Returns the predicate's last value. For waiting on other threads, never for testing
// timing.
bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10.0);

// Pumps the event loop once, without waiting.
void processEvents();

} // namespace corvex::test
