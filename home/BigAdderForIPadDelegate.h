#pragma once

namespace corvex {

// Told when the big adder was clicked. Main thread only.
class BigAdderForIPadDelegate
{
public:
    virtual ~BigAdderForIPadDelegate();
    virtual void pleaseCreateNewIdea() = 0;
};

} // namespace corvex
