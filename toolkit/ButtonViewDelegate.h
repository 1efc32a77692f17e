#pragma once

namespace corvex {

class ButtonView;

// Told of the presses of a ButtonView: a toggle button reports on press, a plain button
// 100 ms after release. The delegate decides the toggle state (ButtonView::setToggled).
// Main thread only.
class ButtonViewDelegate
{
public:
    virtual ~ButtonViewDelegate();

    virtual void buttonPressed(ButtonView& button) = 0;
};

} // namespace corvex
