#pragma once

#include <functional>

namespace corvex {

// The application main: the application object over Qt, the one AppDelegate as its handler
// and as Globals::app(), then the launch (or, when another instance runs, the hand-over of
// the arguments) and the event loop. Returns the exit code.
// `registerScreens` plugs the libraries above the shell (home screen, editors, overview) into
// their seams when the launch begins, with the application object made: some of them start
// work that needs it (fonts on worker threads). A launch that hands its files over skips it.
int applicationMain(int argc, char** argv, const std::function<void()>& registerScreens = {});

} // namespace corvex
