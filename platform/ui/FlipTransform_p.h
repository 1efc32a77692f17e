#pragma once

// The transform between a flipped layer's own space and its bounds space (both ways: it is
// its own inverse): y mirrored within the bounds.

#include "platform/gfx/Rect.h"

#include <QRectF>
#include <QTransform>

namespace corvex {

inline QTransform flipWithin(const QRectF& bounds)
{
    return QTransform(1, 0, 0, -1, 0, bounds.top() + bounds.bottom());
}

inline QTransform flipWithin(const Rect& bounds)
{
    const Rect b = bounds.standardized();
    return QTransform(1, 0, 0, -1, 0, 2 * b.origin.y + b.size.height);
}

} // namespace corvex
