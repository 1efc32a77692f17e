#pragma once

#include "platform/gfx/BlendMode.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"

#include <QString>

namespace corvex {

class GraphicsContext;

// The drawing and scaling operations of QVImage for the platform image class, used with the
// named interface images (buttons, dock, delete area, icon cells).
class ImageExtensions
{
public:
    ImageExtensions() = delete;

    // The platform's named image, unchanged (the null image for an unknown name).
    static PlatformImage deviceImageNamed(const QString& name);
    static PlatformImage longImageNamed(const QString& name);

    // As QVImage::drawInRect(rect, context, flipped), with the representation that fits the
    // rectangle's size. A null context or image draws nothing.
    static void drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context,
                           bool flipped);
    static void drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context);
    // The same with the blend mode and alpha (0..1) set for this drawing only.
    static void drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context,
                           BlendMode mode, double alpha, bool flipped);
    // Into the current context, upright whether it is flipped or not. The blend mode and
    // alpha are accepted and not applied (source-over, fully opaque): nothing in the system
    // relies on either.
    static void drawInRect(const PlatformImage& image, const Rect& rect, BlendMode mode, double alpha);
    // The whole image at its size with its origin at the point, into the current context,
    // replacing what is there (copy); the blend mode and alpha are not applied either.
    static void drawAtPoint(const PlatformImage& image, Point point, BlendMode mode, double alpha);

    // A new image of the size in points over one bitmap of the size truncated to whole
    // pixels, the image drawn into (0, 0, width, height) with the bitmap's context current.
    // The null image when the bitmap cannot be made.
    static PlatformImage scaleToSize(const PlatformImage& image, Size size);
};

} // namespace corvex
