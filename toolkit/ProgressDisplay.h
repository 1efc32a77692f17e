#pragma once

namespace corvex {

// A view that shows a share of work done, 0 to 1: what the progress HUD hands its progress
// to (a custom indicator view may take it too by implementing this). Main thread only.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay();

    virtual float progress() const = 0;
    virtual void setProgress(float progress) = 0;
};

} // namespace corvex
