#pragma once

namespace corvex {

class IdeaAdderView;

// Told when the user clicks an adder (press and release inside it): the owner adds a new
// idea in the adder's gap. Main thread only.
class IdeaAdderViewDelegate
{
public:
    virtual ~IdeaAdderViewDelegate();

    virtual void handleTapOnIdeaAdderView(IdeaAdderView& adder) = 0;
};

} // namespace corvex
