#include "platform/gfx/NinePartImage.h"

#include "platform/gfx/GraphicsContext.h"

namespace corvex {

void NinePartImage::draw(GraphicsContext& context, const Rect& frame, const PlatformImage& topLeft,
                         const PlatformImage& top, const PlatformImage& topRight, const PlatformImage& left,
                         const PlatformImage& center, const PlatformImage& right,
                         const PlatformImage& bottomLeft, const PlatformImage& bottom,
                         const PlatformImage& bottomRight, BlendMode mode, double fraction)
{
    if (frame.isEmpty())
        return;
    const Rect f = frame.standardized();
    const bool flipped = context.isFlipped();
    // A part placed by its distance from the frame's left and top edges on screen.
    auto place = [&](const PlatformImage& image, double fromLeft, double fromTop, double width,
                     double height) {
        if (image.isNull() || !(width > 0) || !(height > 0))
            return;
        const double y = flipped ? f.minY() + fromTop : f.maxY() - fromTop - height;
        image.drawInRect(context, Rect(f.minX() + fromLeft, y, width, height), Rect(), mode, fraction);
    };
    const double w = f.width();
    const double h = f.height();
    const Size tl = topLeft.size(), tr = topRight.size(), bl = bottomLeft.size(), br = bottomRight.size();

    place(center, left.size().width, top.size().height, w - left.size().width - right.size().width,
          h - top.size().height - bottom.size().height);
    place(top, tl.width, 0, w - tl.width - tr.width, top.size().height);
    place(bottom, bl.width, h - bottom.size().height, w - bl.width - br.width, bottom.size().height);
    place(left, 0, tl.height, left.size().width, h - tl.height - bl.height);
    place(right, w - right.size().width, tr.height, right.size().width, h - tr.height - br.height);
    place(topLeft, 0, 0, tl.width, tl.height);
    place(topRight, w - tr.width, 0, tr.width, tr.height);
    place(bottomLeft, 0, h - bl.height, bl.width, bl.height);
    place(bottomRight, w - br.width, h - br.height, br.width, br.height);
}

} // namespace corvex
