#pragma once

namespace corvex {

class RoundedTextButton;

// Told of a RoundedTextButton's press, 100 ms after its release. Main thread only.
class RoundedTextButtonDelegate
{
public:
    virtual ~RoundedTextButtonDelegate();

    virtual void roundedTextButtonPressed(RoundedTextButton& button) = 0;
};

} // namespace corvex
