#pragma once

#include "platform/gfx/Rect.h"

#include <QtGlobal>

namespace corvex {

// Where a dragged idea would land, or goes back to when the drop fails: the record a screen
// answers for a drag over its window and gives as the return target of a drag it starts.
// Coordinates are the window's base coordinates (y up, origin at the bottom left).
//
// `object` is the kind of target; 0 is no target at all, every other value belongs to the
// screen that answers (both screens: 2 their dock, 3 their delete area; the mind map 1 a
// planet or slot of the map and 4 its own planet as the place a drag goes back to). The
// window only tells 0 from the rest. Within `gravityRadius` of the centre of `area` the
// dragged planet shrinks towards the area's size; 0 or less switches that off. A zero
// record stands for no target. Passed by value.
struct DragTarget
{
    // Kinds shared by both screens.
    static constexpr quint64 None = 0;
    static constexpr quint64 Dock = 2;
    static constexpr quint64 DeleteArea = 3;

    quint64 object = None;
    Rect area;
    double gravityRadius = 0.0;

    friend bool operator==(const DragTarget& a, const DragTarget& b)
    {
        return a.object == b.object && a.area == b.area && a.gravityRadius == b.gravityRadius;
    }
};

// The outcome of a drop, passed from the screen under the drop to the screen where the drag
// began. The numbers are the ones the drag trace logs.
enum class DragResult : quint64
{
    NotAccepted = 0, // nothing was done: the planet flies back
    Moved = 1,       // moved, or deleted
    Copied = 2,      // copied, linked, docked or dropped back onto itself
};

// The number a result is logged with.
constexpr quint64 dragResultCode(DragResult result)
{
    return static_cast<quint64>(result);
}

} // namespace corvex
