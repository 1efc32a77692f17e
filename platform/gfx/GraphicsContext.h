#pragma once

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/BlendMode.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"

#include <QImage>
#include <memory>
#include <vector>

class QPainter;
class QPaintDevice;

namespace corvex {

enum class LineCap
{
    Butt,
    Round,
    Square
};
enum class LineJoin
{
    Miter,
    Round,
    Bevel
};
enum class PathDrawingMode
{
    Fill,
    EvenOddFill,
    Stroke,
    FillStroke,
    EvenOddFillStroke
};

// A drawing context with user-space semantics over a QPainter: a graphics-state stack, a
// current transform (CTM) that operations pre-multiply, a current path, fill and stroke
// colours, line attributes and dashes in user units, global alpha, blend modes and
// clipping. The CTM a caller sees excludes the device's base transform: a bitmap context's
// user space is y-up with one unit per pixel, a context over a flipped (y-down) device
// reports isFlipped().
//
// Image drawing rule (drawImage): the image's top row lands at the rectangle's maximum y
// in user space, so an image is upright in a y-up space and upside down in a flipped one.
//
// Colour management is not modelled: every colour is sRGB. Not thread-safe; one context is
// used by one thread at a time.
class GraphicsContext
{
public:
    // How a bitmap context keeps its premultiplied pixels.
    enum class PixelLayout
    {
        Rgba, // the bytes R, G, B, A in that order
        // One 32-bit word 0xAARRGGBB a pixel, its bytes in the machine's order: QPainter
        // blends into it without handing small fills to its thread pool, several times
        // faster for many thin lines. For pictures only drawn again, never read as bytes.
        Word,
    };

    // A bitmap context: width x height pixels (truncated; a size below 1, non-finite or
    // above 16384 x 16384 pixels in all fails and answers nullptr), premultiplied pixels of
    // the layout (by default the bytes R, G, B, A), rows of exactly 4 x width bytes,
    // zero-filled, user space y-up.
    static std::unique_ptr<GraphicsContext> createBitmap(double width, double height,
                                                         PixelLayout layout = PixelLayout::Rgba);
    // A context over a painter that is already active on a device. `flipped` tells that the
    // user space the caller works in is y-down (the painter's transform at this point maps
    // user space to the device). The painter must outlive the context, which hands it back
    // in the state it found it in.
    GraphicsContext(QPainter* painter, bool flipped);
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext&) = delete;
    GraphicsContext& operator=(const GraphicsContext&) = delete;

    // Bitmap access (bitmap contexts only; null/0 otherwise). Drawing reaches the memory at
    // once: the bytes are current after every call.
    uchar* bitmapData();
    int bitmapWidth() const;
    int bitmapHeight() const;
    int bytesPerRow() const;
    // A copy of the pixels as an image (QImage::Format_RGBA8888_Premultiplied), as the
    // platform's "create image from bitmap context".
    QImage makeImage();

    bool isFlipped() const;
    // Device pixels per user unit (the square root of the full transform's area scale), for
    // choosing an image representation.
    double userSpaceScale() const;
    // Pixels per user unit for a picture drawn here: userSpaceScale on a bitmap or a screen;
    // on a PDF or a printer, whose pictures go out whole, what 300 dots an inch take, so that
    // a picture prints sharp without being kept larger than paper shows.
    double imagePixelScale() const;
    static constexpr double PrintImageDotsPerInch = 300;

    void saveGState();
    void restoreGState(); // unbalanced calls are ignored

    void translateCTM(double tx, double ty);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double radians);
    void concatCTM(const AffineTransform& transform);
    AffineTransform ctm() const;
    // The full transform from user space to the device's logical coordinates (CTM, then the
    // base transform).
    QTransform userToDevice() const;

    // The current path, in user space at the time each element is added.
    void beginPath();
    void moveToPoint(Point p);
    void addLineToPoint(Point p);
    void addCurveToPoint(Point c1, Point c2, Point end);
    void addQuadCurveToPoint(Point c, Point end);
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    void addArcToPoint(Point p1, Point p2, double radius);
    void addRect(const Rect& r);
    void addEllipseInRect(const Rect& r);
    void addPath(const Path& path);
    void closePath();
    bool isPathEmpty() const;
    // The current path in the current user space.
    Path currentPath() const;

    // Painting consumes the current path.
    void fillPath();
    void eoFillPath();
    void strokePath();
    void drawPath(PathDrawingMode mode);
    void fillRect(const Rect& r);
    void strokeRect(const Rect& r);
    void strokeRectWithWidth(const Rect& r, double width);
    void clearRect(const Rect& r); // to transparent, whatever the blend mode
    void fillEllipseInRect(const Rect& r);
    void strokeEllipseInRect(const Rect& r);
    // The same as stroking the ellipse in the circle's square, but drawn by RingRasterizer
    // when the target allows it (an image of 32-bit pixels, a plain scale without turning,
    // a rectangular clip on whole pixels, a solid colour without dashes, mask or blend mode,
    // a pen wider than a pixel): for rings redrawn on every animation frame.
    void strokeCircle(Point centre, double radius);
    void strokeLineSegments(const Point* points, int count);

    // Clipping intersects with the current clip; it is part of the graphics state.
    void clip(); // to the current path (consumed)
    void eoClip();
    void clipToRect(const Rect& r);
    // Whether clipping to r (user space) would leave no pixel to draw on, so that drawing
    // inside it can be skipped: QPainter clips a raster device to rectangles on whole pixels,
    // and r is certain to round to none (less than half a pixel across, both edges nearest
    // one pixel boundary, with room to spare). False whenever that is not sure: another
    // device, a path or mask clip, a turned user space, the painter handed out.
    bool clipToRectLeavesNoPixels(const Rect& r) const;
    // The square of `pixels` whole device pixels nearest around a user-space point, in user
    // space: a mark filled there covers whole pixels (the one holding the point among them)
    // whatever fractions the transform leaves. Around the point, without snapping, when the
    // user space is turned.
    Rect devicePixelSquare(Point center, int pixels) const;
    // A point and the opaque colour of its mark.
    struct PixelMark
    {
        Point center;
        QRgb color;
    };
    // Fills, in order, the devicePixelSquare of `pixels` around each mark's point with its
    // colour, under the context's clip, alpha and blend mode; far cheaper than filling the
    // squares one by one.
    void fillDevicePixelSquares(const std::vector<PixelMark>& marks, int pixels);
    // A soft clip: the mask's alpha (or, for an image without alpha, its grey level) is the
    // share of later drawing that reaches the device; everything outside r is masked out.
    // The mask is placed in r by the image drawing rule. While a mask is set, each drawing
    // operation renders into a transparent layer first.
    void clipToMask(const Rect& r, const QImage& mask);

    void setFillColor(const PlatformColor& color);
    void setStrokeColor(const PlatformColor& color);
    void setFillColor(double r, double g, double b, double a)
    {
        setFillColor(PlatformColor::deviceRGB(r, g, b, a));
    }
    void setStrokeColor(double r, double g, double b, double a)
    {
        setStrokeColor(PlatformColor::deviceRGB(r, g, b, a));
    }
    void setLineWidth(double width);
    void setLineCap(LineCap cap);
    void setLineJoin(LineJoin join);
    void setMiterLimit(double limit);
    // Dash lengths and phase in user units; an empty list draws solid lines.
    void setLineDash(double phase, const std::vector<double>& lengths);
    void setAlpha(double alpha);
    void setBlendMode(BlendMode mode);
    void setShouldAntialias(bool on);
    void setInterpolationQuality(bool smooth);

    // The graphics state as set.
    PlatformColor fillColor() const;
    PlatformColor strokeColor() const;
    double lineWidth() const;
    double alpha() const;
    BlendMode blendMode() const;
    bool shouldAntialias() const;
    int gStateDepth() const; // saves not yet restored

    // Draws by the image drawing rule, scaled into the rectangle.
    void drawImage(const Rect& r, const QImage& image);
    // Repeats the image over the clip, tiles of rectangle r's size anchored at r.
    void drawTiledImage(const Rect& r, const QImage& image);
    void drawLinearGradient(const std::vector<std::pair<double, PlatformColor>>& stops, Point start,
                            Point end, bool drawsBeforeStart = true, bool drawsAfterEnd = true);
    void drawRadialGradient(const std::vector<std::pair<double, PlatformColor>>& stops, Point startCenter,
                            double startRadius, Point endCenter, double endRadius,
                            bool drawsBeforeStart = true, bool drawsAfterEnd = true);

    // The painter, set up for the current state with the CTM applied (for text and other
    // drawing done with Qt directly): pen from the stroke colour and line attributes, brush
    // from the fill colour, opacity, composition mode, render hints and clip paths. A mask
    // clip does not apply to such drawing. Valid until the next call on this context.
    QPainter* painter();

    // The thread's current context (the platform's "current graphics context"), set around
    // view drawing, image focus and image builders. Not owned.
    static GraphicsContext* current();
    static void setCurrent(GraphicsContext* context);

private:
    struct Private;
    explicit GraphicsContext(std::unique_ptr<Private> data);
    std::unique_ptr<Private> d;
};

} // namespace corvex
