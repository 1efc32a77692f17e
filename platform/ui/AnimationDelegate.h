#pragma once

namespace corvex {

class Animation;

// Told when an animation that names it starts and stops. Held weakly by the animation. Calls
// come on the main thread, after the driver's frame step (never from inside a layer call).
class AnimationDelegate
{
public:
    virtual ~AnimationDelegate();

    // The animation was added to a layer.
    virtual void animationDidStart(const Animation& animation);
    // The animation ended: `finished` is true when it ran its full duration, false when it was
    // removed or replaced before that.
    virtual void animationDidStop(const Animation& animation, bool finished);
};

} // namespace corvex
