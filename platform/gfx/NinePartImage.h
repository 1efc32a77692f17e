#pragma once

#include "platform/gfx/BlendMode.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"

namespace corvex {

class GraphicsContext;

// The platform's nine-part drawing: four corners at their own size in the frame's corners,
// the four edges stretched along their edge between the corners (keeping their own
// thickness), the centre stretched both ways to fill the rest. "Top" is the top on screen:
// every part is drawn upright in flipped and y-up contexts alike. Null parts are left out.
class NinePartImage
{
public:
    static void draw(GraphicsContext& context, const Rect& frame, const PlatformImage& topLeft,
                     const PlatformImage& top, const PlatformImage& topRight, const PlatformImage& left,
                     const PlatformImage& center, const PlatformImage& right, const PlatformImage& bottomLeft,
                     const PlatformImage& bottom, const PlatformImage& bottomRight,
                     BlendMode mode = BlendMode::Normal, double fraction = 1.0);
};

} // namespace corvex
