#pragma once

namespace corvex {

class ParentIdeaView;

// Told when the user taps the parent planet (the solar-system view decides what a tap is).
// Main thread only.
class ParentIdeaViewDelegate
{
public:
    virtual ~ParentIdeaViewDelegate();

    virtual void handleTapOnParentIdeaView(ParentIdeaView& view) = 0;
};

} // namespace corvex
