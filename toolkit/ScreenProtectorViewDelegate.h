#pragma once

namespace corvex {

// Told of clicks on a ScreenProtectorView: usually the presented controller of a partial
// presentation, which decides what a click on the backdrop means. Main thread only.
class ScreenProtectorViewDelegate
{
public:
    virtual ~ScreenProtectorViewDelegate();

    // A mouse-down anywhere on the protector.
    virtual void screenProtectorWasClicked() = 0;
};

} // namespace corvex
