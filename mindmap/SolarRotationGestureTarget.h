#pragma once

#include "platform/gfx/Point.h"

#include <cstdint>

namespace corvex {

class SolarRotationGestureRecognizer;

// The view a SolarRotationGestureRecognizer turns mouse events into rotation steps for: the
// solar-system view. The recogniser holds it weakly and asks it for the orbit's geometry at
// each event. Angles are radians from the orbit centre, 0 pointing right, growing clockwise
// on screen. Main thread only.
class SolarRotationGestureTarget
{
public:
    virtual ~SolarRotationGestureTarget();

    // A rotation begins; `angle` is the pointer's angle at the step before.
    virtual void handleBeginRotationGesture(SolarRotationGestureRecognizer& recognizer, float angle) = 0;
    // One drag step: turn by `rotationAngle` (the signed shortest turn, radians).
    virtual void handleChangeRotationGesture(SolarRotationGestureRecognizer& recognizer,
                                             float rotationAngle) = 0;
    // A slow release: the rotation stops where it is.
    virtual void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer) = 0;
    // A flick: the orbit runs on at `angularVelocity` (radians a second) and slows to a stop.
    virtual void handleEndRotationGesture(SolarRotationGestureRecognizer& recognizer,
                                          float angularVelocity) = 0;
    // The orbit radius as drawn, and the radius a flick's speed is divided by (points).
    virtual float orbitVisualRadius() const = 0;
    virtual float orbitLogicalRadius() const = 0;
    // The orbit centre (the central planet's centre) in the target's own coordinates.
    virtual Point orbitVisualCenter() const = 0;
    virtual int64_t ideaViewCount() const = 0;
    // An event's window location in the target's own (flipped, y-down) coordinates.
    virtual Point convertPointFromWindow(Point windowPoint) const = 0;
};

} // namespace corvex
