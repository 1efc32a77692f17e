#pragma once

namespace corvex {

class ScaledGraphView;

// Told on the main thread when an active tiled view shows every tile its visible rectangle
// needs.
class ScaledGraphViewDelegate
{
public:
    virtual ~ScaledGraphViewDelegate();
    virtual void handleScaledGraphViewReady(ScaledGraphView& view) = 0;
};

} // namespace corvex
