#pragma once

namespace corvex {

// The application main: the application object over Qt, the one AppDelegate as its handler
// and as Globals::app(), then the launch (or, when another instance runs, the hand-over of
// the arguments) and the event loop. Returns the exit code.
int applicationMain(int argc, char** argv);

} // namespace corvex
