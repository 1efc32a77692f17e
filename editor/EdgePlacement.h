#pragma once

#include "platform/gfx/Rect.h"

namespace corvex {

// Frames placed by a named point of their edge, in the superview's y-down coordinates: the
// two full-window editors place their top-bar buttons this way.
class EdgePlacement
{
public:
    // The frame of `size` whose left edge's middle lies at `point`.
    static Rect leftMiddleAt(Size size, Point point)
    {
        return Rect(point.x, point.y - size.height / 2, size.width, size.height);
    }
    // The frame of `size` whose right edge's middle lies at `point`.
    static Rect rightMiddleAt(Size size, Point point)
    {
        return Rect(point.x - size.width, point.y - size.height / 2, size.width, size.height);
    }
    // The frame of `size` centred on `point`.
    static Rect centeredAt(Size size, Point point)
    {
        return Rect(point.x - size.width / 2, point.y - size.height / 2, size.width, size.height);
    }
};

} // namespace corvex
