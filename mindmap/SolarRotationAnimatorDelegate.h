#pragma once

namespace corvex {

// Told of every angle a SolarRotationAnimator shows and of the end of a run with inertia:
// the solar-system view, which applies the angle as its rotation offset. Main thread only.
class SolarRotationAnimatorDelegate
{
public:
    virtual ~SolarRotationAnimatorDelegate();

    // The orbit's rotation offset for this frame (radians, not normalised).
    virtual void angleUpdate(float angle) = 0;
    // A run with inertia has come to a stop (also after a release without speed).
    virtual void rotationEnded() = 0;
};

} // namespace corvex
