#pragma once

#include "platform/gfx/Rect.h"

namespace corvex {

// Something placed on screen with a frame in its parent's coordinates: BaseView and
// BaseLayer. The centre is the frame's centre (ViewExtensions / LayerExtensions::center).
class VisualObject
{
public:
    virtual ~VisualObject() = default;

    virtual Point center() const = 0;
    virtual Rect frame() const = 0;
};

} // namespace corvex
