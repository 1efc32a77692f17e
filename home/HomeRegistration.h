#pragma once

namespace corvex {

// Plugs the home screen in: "HomeViewController" with ScreenFactory, so that windows, their
// restoration and the mind-map screen going home make it. Call once at start-up.
void registerHomeScreen();

} // namespace corvex
