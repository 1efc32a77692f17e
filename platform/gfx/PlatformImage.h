#pragma once

#include "platform/gfx/BlendMode.h"
#include "platform/gfx/Rect.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace corvex {

class GraphicsContext;

// The stand-in for the platform's image class: a size in points and one or more bitmap
// representations of it (a 2x representation has twice the pixels each way). A value type:
// copies share pixels but not their size. Drawing goes into the thread's current context
// (GraphicsContext::current()) unless a context is given.
class PlatformImage
{
public:
    PlatformImage() = default; // the null image
    // One representation; the size in points is its size in pixels.
    explicit PlatformImage(const QImage& image);
    PlatformImage(const QImage& image, Size size);

    // The compiled-in image ":/images/<name>.png", with "<name>@2x.png" as a second
    // representation when it exists (an image with only the 2x file is half its pixel size).
    // A missing name answers the null image and logs nothing. Cached per name; safe from any
    // thread.
    static PlatformImage imageNamed(const QString& name);
    // Decodes PNG or JPEG bytes (ImageCodec); the null image when that fails.
    static PlatformImage fromData(const QByteArray& bytes);

    bool isNull() const { return mRepresentations.empty(); }
    Size size() const { return mSize; }
    void setSize(Size size) { mSize = size; }
    const QString& name() const { return mName; }

    const std::vector<QImage>& representations() const { return mRepresentations; }
    void addRepresentation(const QImage& image);

    // The platform's "image for proposed rect": the representation that best fits the
    // rectangle (points; an empty one stands for the image's size) at `scale` device pixels
    // per point: the smallest that is at least as large, else the largest. Null for a null
    // image.
    QImage bestRepresentation(const Rect& proposedRect, double scale = 1.0) const;

    // Draws the part `fromRect` (points, y-up from the image's bottom-left; an empty
    // rectangle is the whole image) scaled into `rect`, upright whether the context is
    // flipped or not, with the blend mode and `fraction` times the context's alpha. Without a
    // current context nothing is drawn.
    void drawInRect(const Rect& rect, const Rect& fromRect = Rect(), BlendMode mode = BlendMode::Normal,
                    double fraction = 1.0) const;
    void drawInRect(GraphicsContext& context, const Rect& rect, const Rect& fromRect = Rect(),
                    BlendMode mode = BlendMode::Normal, double fraction = 1.0) const;
    // Draws the part `fromRect` at its size with its origin at `point`, by the image drawing
    // rule (upright in a y-up context, upside down in a flipped one), as the platform's
    // draw-at-point does.
    void drawAtPoint(Point point, const Rect& fromRect = Rect(), BlendMode mode = BlendMode::Normal,
                     double fraction = 1.0) const;
    void drawAtPoint(GraphicsContext& context, Point point, const Rect& fromRect = Rect(),
                     BlendMode mode = BlendMode::Normal, double fraction = 1.0) const;

private:
    // The pixels of `fromRect` cut from the best representation for drawing into `target`.
    QImage pixelsFor(const GraphicsContext& context, const Rect& target, const Rect& fromRect) const;

    Size mSize;
    std::vector<QImage> mRepresentations;
    QString mName;
};

} // namespace corvex
