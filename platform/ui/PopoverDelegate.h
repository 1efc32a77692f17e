#pragma once

namespace corvex {

class Popover;

// Told of a popover's showing and closing. Main thread only.
class PopoverDelegate
{
public:
    virtual ~PopoverDelegate();
    virtual void popoverWillShow(Popover& popover);
    virtual void popoverDidShow(Popover& popover);
    // Once per showing, after the popover's window has gone.
    virtual void popoverDidClose(Popover& popover);
};

} // namespace corvex
