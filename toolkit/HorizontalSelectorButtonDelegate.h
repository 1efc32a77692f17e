#pragma once

namespace corvex {

class HorizontalSelectorButton;

// Told at once when a HorizontalSelectorButton is pressed (its selector). Main thread only.
class HorizontalSelectorButtonDelegate
{
public:
    virtual ~HorizontalSelectorButtonDelegate();

    virtual void selectorButtonPressed(HorizontalSelectorButton& button) = 0;
};

} // namespace corvex
