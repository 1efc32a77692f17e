#include "mindmap/PlanetDrawer.h"

#include "graphics/Geometry.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/gfx/TextFrame.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace corvex {

namespace {

// Whether the context's current user space has y pointing down on the device (the image
// drawing rule would show an image upside down there).
bool planetSpaceIsYDown(const GraphicsContext& context)
{
    // The device (a QImage's pixels) is y-down: a y-down user space keeps the orientation.
    return context.userToDevice().determinant() > 0;
}

// Draws an image upright into `rect` whatever the direction of the user space's y.
void drawPlanetImageUpright(GraphicsContext& context, const Rect& rect, const QImage& image)
{
    if (image.isNull() || rect.isEmpty())
        return;
    if (!planetSpaceIsYDown(context)) {
        context.drawImage(rect, image);
        return;
    }
    context.saveGState();
    context.translateCTM(0, rect.minY() + rect.maxY());
    context.scaleCTM(1, -1);
    context.drawImage(rect, image);
    context.restoreGState();
}

// The representation of a named image that suits drawing `rect` in this context.
QImage planetImagePixels(const GraphicsContext& context, const PlatformImage& image, const Rect& rect)
{
    if (image.isNull())
        return QImage();
    return image.bestRepresentation(Rect(Point(), rect.size), context.userSpaceScale());
}

// A named image at the width the planet wants; the height keeps the aspect (truncated to a
// whole number when asked). The null image when the artwork is missing or has no width.
PlatformImage planetIndicatorImage(const QString& name, double width, bool truncateHeight)
{
    PlatformImage image = PlatformImage::imageNamed(name);
    const Size natural = image.size();
    if (image.isNull() || !(natural.width > 0) || !(natural.height > 0)) {
        Log::warning(QStringLiteral("PlanetDrawer: no image named \"%1\"").arg(name));
        return PlatformImage();
    }
    double height = width * natural.height / natural.width;
    if (truncateHeight)
        height = std::trunc(height);
    image.setSize(Size(width, height));
    return image;
}

// Clamps a text size factor to the table's columns 3 to 7 (index 0 to 4).
int planetFontFactorIndex(qint64 factor)
{
    if (factor < 4)
        return 0;
    if (factor > 6)
        return 4;
    return int(factor - 3);
}

} // namespace

PlanetDrawer::PlanetDrawer(quint64 planetType)
    : mPlanetType(planetType), mRadius(radiusForPlanetType(planetType)), mSize(sizeForPlanetType(planetType)),
      mTextColor(PlatformColor::white())
{
    mSubPlanetIndicatorImage = planetIndicatorImage(QStringLiteral("3_dots"), 10, true);
    mNoteIndicatorImage = planetIndicatorImage(QStringLiteral("planet_note_indicator"), 8, false);
    updateAppearance();
}

PlanetDrawer::~PlanetDrawer() = default;

Size PlanetDrawer::sizeForPlanetType(quint64 planetType)
{
    const double side = double(2.5f * radiusForPlanetType(planetType));
    return Size(side, side);
}

float PlanetDrawer::radiusForPlanetType(quint64 planetType)
{
    switch (planetType) {
    case 1:
    case 4:
        return 76;
    case 2:
        return 35;
    case 3:
        return 12;
    case 6:
        return 93;
    case 0:
    case 5:
    default:
        return 56;
    }
}

float PlanetDrawer::fontSizeForPlanetType(quint64 planetType)
{
    return fontSizeForPlanetType(planetType, Globals::fontSizeFactor());
}

float PlanetDrawer::fontSizeForPlanetType(quint64 planetType, qint64 fontSizeFactor)
{
    static constexpr float kLarge[5] = {12, 13, 15, 16.5f, 19.5f};
    static constexpr float kExample[5] = {7, 8, 10, 11.5f, 14.5f};
    static constexpr float kHome[5] = {11, 12, 14, 15, 17.5f};
    static constexpr float kOrbit[5] = {9, 10, 11, 12.5f, 14.5f};
    const int column = planetFontFactorIndex(fontSizeFactor);
    switch (planetType) {
    case 1:
    case 4:
        return kLarge[column];
    case 2:
        return kExample[column];
    case 6:
        return kHome[column];
    default:
        return kOrbit[column];
    }
}

void PlanetDrawer::updateAppearance()
{
    mFontSize = fontSizeForPlanetType(mPlanetType);
    mTextColor = PlatformColor::white();
    if (Globals::highContrastText() && mBaseColor && mBaseColor->isBright())
        mTextColor = PlatformColor::deviceWhite(double(0.33f), 1.0);
}

void PlanetDrawer::setBaseColor(const std::shared_ptr<Color>& color)
{
    mBaseColor = color;
    if (color)
        mPlanetUserImage = QVImage();
    updateAppearance();
}

void PlanetDrawer::setImage(const QVImage& image)
{
    // Not the pixels: a stored picture decodes when the planet is first drawn.
    if (image.hasImage())
        mBaseColor.reset();
    mPlanetUserImage = image;
}

void PlanetDrawer::setShowWebLink(bool show)
{
    if (!show) {
        mWebLinkIndicatorImage = PlatformImage();
        return;
    }
    if (mWebLinkIndicatorImage.isNull())
        mWebLinkIndicatorImage = PlatformImage::imageNamed(QStringLiteral("web_link_icon"));
}

Size PlanetDrawer::scaledSize() const
{
    return Size(mSize.width * mScale, mSize.height * mScale);
}

float PlanetDrawer::scaledRadius() const
{
    return mRadius * mScale;
}

Point PlanetDrawer::scaledCenter() const
{
    const Size s = scaledSize();
    return Point(s.width / 2, s.height / 2);
}

Rect PlanetDrawer::discRect() const
{
    const Point m = scaledCenter();
    const double r = scaledRadius();
    return Rect(m.x - r, m.y - r, 2 * r, 2 * r);
}

void PlanetDrawer::drawInCurrentContext(GraphicsContext& context)
{
    if (!(mScale > 0) || !std::isfinite(mScale))
        return;
    // Titles and note numbers come from any document: whatever they hold stays inside the
    // planet's square.
    context.saveGState();
    context.clipToRect(Rect(Point(), scaledSize()));
    // The picture at the size its disc takes on the device: a large picture is never held
    // at full size for a planet.
    const QImage picture = mPlanetUserImage.pixelsDrawnIn(discRect(), context);
    if (picture.isNull())
        drawWithoutPicture(context);
    else
        drawWithPicture(context, picture);
    context.restoreGState();
}

void PlanetDrawer::drawWithoutPicture(GraphicsContext& context)
{
    const Rect disc = discRect();

    // The fill below covers the inner half of this stroke, leaving a thin white rim.
    context.saveGState();
    context.setStrokeColor(Globals::colorWhite());
    context.setLineWidth(1.0);
    context.strokeEllipseInRect(disc);
    context.restoreGState();

    const Rect fillRect = mScale > 0.5f ? disc.integral() : disc;
    if (mFade || mBaseColor) {
        context.saveGState();
        context.setFillColor(mFade ? PlatformColor::lightGray() : mBaseColor->uiColor());
        context.fillEllipseInRect(fillRect);
        context.restoreGState();
    }

    if (hasIcon())
        drawIcon(context);
    if (mShowOrbit)
        drawSubPlanetIndicator(context, mNoteNumber != 0);
    if (mNoteNumber != 0) {
        const Rect rect = noteRect();
        if (mNoteNumber > 0)
            drawNoteNumber(context, rect);
        else
            drawPlanetImageUpright(context, rect, planetImagePixels(context, mNoteIndicatorImage, rect));
    }
    if (mIsLink)
        drawLinkIndicator(context);
    if (!mText.isNull())
        drawText(context);
    if (mFade)
        drawFading(context);
}

void PlanetDrawer::drawWithPicture(GraphicsContext& context, const QImage& picture)
{
    const Point m = scaledCenter();
    const Rect disc = discRect();
    context.saveGState();
    context.setStrokeColor(Globals::colorLightGray());
    context.setLineWidth(1.0);
    context.strokeEllipseInRect(disc);
    context.addEllipseInRect(disc);
    context.clip();
    context.translateCTM(m.x, m.y);
    context.scaleCTM(mScale, mScale);
    const double r = mRadius;
    drawPlanetImageUpright(context, Geometry::makeIntegralCGRect(Rect(-r, -r, 2 * r, 2 * r)), picture);
    context.restoreGState();

    if (mShowOrbit)
        drawSubPlanetIndicator(context, false);
    if (showWebLink())
        drawWebLink(context);
    if (mIsLink)
        drawLinkIndicator(context);
    if (mFade)
        drawFading(context);
}

void PlanetDrawer::drawIcon(GraphicsContext& context)
{
    const PlatformImage icon = !mIconPicture.isNull() ? mIconPicture
                               : mIconImage           ? mIconImage->image()
                                                      : PlatformImage();
    if (icon.isNull())
        return;
    const Point m = scaledCenter();
    const double r = scaledRadius();
    const long n = std::lround(r / 2.5);
    const long side = (n % 2 != 0) ? n - 1 : n;
    const double left = std::trunc(m.x - double(n / 2));
    const double top = std::trunc(m.y - 0.85 * r);
    const Rect rect = Rect(left, top, double(side), double(side)).integral();
    drawPlanetImageUpright(context, rect, planetImagePixels(context, icon, rect));
}

void PlanetDrawer::drawSubPlanetIndicator(GraphicsContext& context, bool withNote)
{
    if (mSubPlanetIndicatorImage.isNull())
        return;
    const Point m = scaledCenter();
    const Size dots = mSubPlanetIndicatorImage.size();
    double bottom = m.y + 0.9 * scaledRadius();
    if (!withNote)
        bottom -= mNoteIndicatorImage.size().height / 2;
    const Rect rect = Rect(m.x - dots.width / 2, bottom - dots.height, dots.width, dots.height).integral();
    drawPlanetImageUpright(context, rect, planetImagePixels(context, mSubPlanetIndicatorImage, rect));
}

void PlanetDrawer::drawWebLink(GraphicsContext& context)
{
    const Point m = scaledCenter();
    const double s = mScale;
    const Rect rect = Rect(m.x - 16 * s, m.y - 0.5 * scaledRadius() - 16 * s, 32 * s, 32 * s).integral();
    context.saveGState();
    context.setBlendMode(BlendMode::Difference);
    context.setAlpha(0.2);
    drawPlanetImageUpright(context, rect, planetImagePixels(context, mWebLinkIndicatorImage, rect));
    context.restoreGState();
}

Rect PlanetDrawer::noteRect() const
{
    const Point m = scaledCenter();
    const double s = mScale;
    const double w = s * mNoteIndicatorImage.size().width;
    const double h = s * mNoteIndicatorImage.size().height;
    const double dotsHeight = s * mSubPlanetIndicatorImage.size().height;
    return Rect(m.x - w / 2, m.y + 0.9 * scaledRadius() - dotsHeight - 3 - h, w, h).integral();
}

bool PlanetDrawer::hitsNote(Point point) const
{
    if (mNoteNumber == 0)
        return false;
    const Rect n = noteRect();
    const double s = mScale;
    const Rect area(n.origin.x - 9 * s, n.origin.y - 5 * s, n.size.width + 16 * s, n.size.height + 13 * s);
    return area.contains(Geometry::addVectors(point, scaledCenter()));
}

void PlanetDrawer::drawText(GraphicsContext& context)
{
    const Point m = scaledCenter();
    const double s = mScale;
    const double t = double(std::lround(mRadius * 0.95));
    context.saveGState();
    context.translateCTM(m.x - s * t, m.y + s * t);
    context.scaleCTM(s, -s);
    if (hasIcon())
        drawTextWithIcon(context, t);
    else
        drawTextInCircle(context, t);
    context.restoreGState();
}

void PlanetDrawer::drawTextWithIcon(GraphicsContext& context, double textRadius)
{
    drawTextInArea(context, textRadius, true);
}

void PlanetDrawer::drawTextInCircle(GraphicsContext& context, double textRadius)
{
    drawTextInArea(context, textRadius, false);
}

AttributedString PlanetDrawer::newAttributedString() const
{
    return titleString(mText, mFontSize, mTextColor);
}

AttributedString PlanetDrawer::titleString(const QString& text, double fontSize, const PlatformColor& color)
{
    TextAttributes attributes;
    attributes.font = PlatformFont::fontWithName(QStringLiteral("Helvetica"), fontSize);
    attributes.foregroundColor = color;
    attributes.paragraphStyle.alignment = TextAlignment::Center;
    attributes.paragraphStyle.lineSpacing = 2.0;
    attributes.paragraphStyle.minimumLineHeight = fontSize;
    attributes.paragraphStyle.maximumLineHeight = fontSize;
    return AttributedString(text, attributes);
}

Path PlanetDrawer::textAreaPath(double textRadius, bool withIcon)
{
    const double t = textRadius;
    const double top = std::asin(double(withIcon ? 0.475f : 0.7f));
    const double bottom = std::asin(double(0.55f));
    const Point center(t, t);
    Path path;
    // Left side from the top chord down to the bottom chord, then the right side back up.
    path.addArc(center, t, std::numbers::pi - top, -(std::numbers::pi - bottom), false);
    path.addArc(center, t, -bottom, top, false);
    path.closeSubpath();
    return path;
}

double PlanetDrawer::calculateOffsetToPositionTextInFrame(const TextFrame& frame, double desiredCenter,
                                                          double lowerBound, double upperBound,
                                                          GraphicsContext&)
{
    return textFrameCentringOffset(frame, desiredCenter, lowerBound, upperBound);
}

void PlanetDrawer::drawTextInArea(GraphicsContext& context, double textRadius, bool withIcon)
{
    const AttributedString string = newAttributedString();
    if (string.isEmpty())
        return;
    const TextFrame frame = TextFrame::typeset(string, textAreaPath(textRadius, withIcon));
    if (!frame.lines().empty()) {
        const double upper = (withIcon ? 1.025 : 1.25) * textRadius;
        const double offset =
            calculateOffsetToPositionTextInFrame(frame, 0.55 * textRadius, 0, upper, context);
        context.translateCTM(0, offset);
    }
    frame.draw(context);
}

void PlanetDrawer::drawLinkIndicator(GraphicsContext& context)
{
    const Point m = scaledCenter();
    const double rho = double(mRadius) * mScale * 1.1;
    context.saveGState();
    context.setLineDash(0, {1, 2});
    context.setLineCap(LineCap::Butt);
    context.setStrokeColor(PlatformColor::lightGray());
    context.setLineWidth(1.0);
    context.strokeEllipseInRect(Rect(m.x - rho, m.y - rho, 2 * rho, 2 * rho));
    context.restoreGState();
}

void PlanetDrawer::drawFading(GraphicsContext& context)
{
    context.saveGState();
    context.setAlpha(0.5);
    context.setFillColor(PlatformColor::lightGray());
    context.fillEllipseInRect(discRect());
    context.restoreGState();
}

AttributedString PlanetDrawer::newAttributedNoteNumberString() const
{
    // Zero-padded to three digits and printed in full: a 64-bit number keeps every digit.
    const QString digits = QString::asprintf("%03lld", static_cast<long long>(mNoteNumber));
    return AttributedString(digits, PlatformFont::fontWithName(QStringLiteral("Helvetica"), 11),
                            Globals::colorWhite());
}

void PlanetDrawer::drawNoteNumber(GraphicsContext& context, const Rect& rect)
{
    const AttributedString string = newAttributedNoteNumberString();
    if (string.isEmpty())
        return;
    const QFont font = string.attributesAt(0).font.qfont();
    // The ink's bounds, y-down from the baseline's start.
    QPainterPath glyphs;
    glyphs.addText(0, 0, font, string.string());
    const QRectF ink = glyphs.boundingRect();
    context.saveGState();
    context.translateCTM(rect.midX(), rect.midY());
    context.scaleCTM(mScale, mScale);
    // Qt sets text y-down; the baseline's start lies half the ink's size left of and below
    // the centre.
    if (!planetSpaceIsYDown(context))
        context.scaleCTM(1, -1);
    if (QPainter* painter = context.painter()) {
        painter->setFont(font);
        painter->setPen(Globals::colorWhite().toQColor());
        painter->drawText(QPointF(-ink.width() / 2, ink.height() / 2), string.string());
    }
    context.restoreGState();
}

} // namespace corvex
