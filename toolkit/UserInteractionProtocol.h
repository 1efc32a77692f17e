#pragma once

namespace corvex {

// A view whose reaction to the pointer can be switched off by its owner: while disabled it
// takes events but does nothing with them. Buttons and several views of other screens adopt
// it. Main thread only.
class UserInteractionProtocol
{
public:
    virtual ~UserInteractionProtocol();

    virtual bool userInteractionEnabled() const = 0;
    virtual void setUserInteractionEnabled(bool enabled) = 0;
};

} // namespace corvex
