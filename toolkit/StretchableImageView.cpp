#include "toolkit/StretchableImageView.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/NinePartImage.h"

#include <QImage>
#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

// A cap brought into [0, room].
double limitCap(double cap, double room)
{
    return std::clamp(finiteOrZero(cap), 0.0, std::max(room, 0.0));
}

} // namespace

StretchableImageView::StretchableImageView(const PlatformImage& image, Point scaleTopLeft,
                                           Point scaleBottomRight)
    : mImage(image), mTopLeft(scaleTopLeft), mBottomRight(scaleBottomRight)
{
    const Size size = image.size();
    // An image without a height has no aspect ratio; it draws nothing.
    if (size.height > 0 && std::isfinite(size.width / size.height))
        mAspectRatio = size.width / size.height;
}

StretchableImageView::~StretchableImageView() = default;

std::shared_ptr<StretchableImageView> StretchableImageView::create(const PlatformImage& image,
                                                                   Point scaleTopLeft, Point scaleBottomRight)
{
    auto view = BaseView::make<StretchableImageView>(image, scaleTopLeft, scaleBottomRight);
    view->setNeedsDisplay(true);
    return view;
}

void StretchableImageView::setFrame(const Rect& frame)
{
    BaseView::setFrame(frame);
    setNeedsDisplay(true);
}

StretchableImageView::Geometry StretchableImageView::geometryForBounds() const
{
    Geometry g;
    const double height = bounds().size.height;
    g.imageSize = Size(height * mAspectRatio, height);
    g.side = std::trunc(std::max(g.imageSize.width, g.imageSize.height));
    g.topLeftCaps = Point(mTopLeft.x * g.side, mTopLeft.y * g.side);
    g.bottomRightCaps = Point(mBottomRight.x * g.side, mBottomRight.y * g.side);
    return g;
}

void StretchableImageView::drawRect(const Rect&, GraphicsContext& context)
{
    if (mImage.isNull())
        return;
    const Geometry g = geometryForBounds();
    mImage.setSize(g.imageSize);
    drawScalableImage(context, mImage, g.topLeftCaps, g.bottomRightCaps, bounds());
}

StretchableImageView::NineParts StretchableImageView::cutNineParts(const PlatformImage& image,
                                                                   Point topLeftCaps, Point bottomRightCaps,
                                                                   double scale)
{
    NineParts parts;
    const double W = image.size().width;
    const double H = image.size().height;
    if (image.isNull() || !(W > 0) || !(H > 0) || !std::isfinite(W) || !std::isfinite(H))
        return parts;
    const double l = limitCap(topLeftCaps.x, W);
    const double r = limitCap(bottomRightCaps.x, W - l);
    const double t = limitCap(topLeftCaps.y, H);
    const double b = limitCap(bottomRightCaps.y, H - t);
    const double mw = W - l - r;
    const double mh = H - t - b;

    const QImage rep = image.bestRepresentation(Rect(0, 0, W, H), scale);
    if (rep.isNull())
        return parts;
    const double sx = rep.width() / W;
    const double sy = rep.height() / H;
    // Pixel edges of the columns (left to right) and rows (top to bottom on screen).
    const int xs[4] = {0, int(std::lround(l * sx)), int(std::lround((W - r) * sx)), rep.width()};
    const int ys[4] = {0, int(std::lround(t * sy)), int(std::lround((H - b) * sy)), rep.height()};
    const double widths[3] = {l, mw, r};
    const double heights[3] = {t, mh, b};

    auto tile = [&](int column, int row) {
        if (!(widths[column] > 0) || !(heights[row] > 0))
            return PlatformImage();
        const QRect pixels(QPoint(xs[column], ys[row]), QPoint(xs[column + 1] - 1, ys[row + 1] - 1));
        if (pixels.isEmpty())
            return PlatformImage();
        return PlatformImage(rep.copy(pixels), Size(widths[column], heights[row]));
    };
    parts.topLeft = tile(0, 0);
    parts.top = tile(1, 0);
    parts.topRight = tile(2, 0);
    parts.left = tile(0, 1);
    parts.center = tile(1, 1);
    parts.right = tile(2, 1);
    parts.bottomLeft = tile(0, 2);
    parts.bottom = tile(1, 2);
    parts.bottomRight = tile(2, 2);
    return parts;
}

void StretchableImageView::drawScalableImage(GraphicsContext& context, const PlatformImage& image,
                                             Point topLeftCaps, Point bottomRightCaps, const Rect& frame)
{
    if (frame.isEmpty())
        return;
    const NineParts p = cutNineParts(image, topLeftCaps, bottomRightCaps, context.userSpaceScale());
    NinePartImage::draw(context, frame, p.topLeft, p.top, p.topRight, p.left, p.center, p.right, p.bottomLeft,
                        p.bottom, p.bottomRight, BlendMode::Normal, 1.0);
}

void StretchableImageView::drawScalableImage(const PlatformImage& image, Point topLeftCaps,
                                             Point bottomRightCaps, const Rect& frame)
{
    if (GraphicsContext* context = GraphicsContext::current())
        drawScalableImage(*context, image, topLeftCaps, bottomRightCaps, frame);
}

} // namespace corvex
