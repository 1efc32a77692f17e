#pragma once

#include <memory>

namespace corvex {

class Event;
class SimpleIdeaView;

// Told when the user presses the mouse on the docked idea: the dock has already taken the
// idea view out and hands it over, with the mouse-down, to be dragged. Main thread only.
class DockAreaViewDelegate
{
public:
    virtual ~DockAreaViewDelegate();

    virtual void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                              const Event& event) = 0;
};

} // namespace corvex
