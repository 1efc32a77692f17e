#pragma once

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/Rect.h"

namespace corvex {

class GraphicsContext;

// The fixed page printing and PDF export lay out in, the platonic page: 826 x 1170 points
// upright, 1170 x 826 on its side, and inside it the inner rectangle, inset by 40 and moved
// to the origin (746 x 1090 or 1090 x 746). Pages of any real size show it scaled.
class PlatonicPage
{
public:
    PlatonicPage() = delete;

    static Rect page(bool landscape);
    static Rect innerRect(bool landscape);
    // Landscape unless the area is taller than wide.
    static bool isLandscapeFor(Size area);

    // The platonic-to-page transform (y up): content of `size` scaled uniformly into
    // `target`, centred horizontally and aligned with its top. Steps: translate to the
    // target's origin, scale by s = min(W / w, H / h), translate by ((W / s - w) / 2,
    // H / s - h).
    static AffineTransform transform(Size size, const Rect& target);
    // Applies it to the context's current transform.
    static void scaleContext(GraphicsContext& context, Size size, const Rect& target);
};

} // namespace corvex
