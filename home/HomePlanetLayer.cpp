#include "home/HomePlanetLayer.h"

#include "graphics/ColorContrast.h"
#include "mindmap/PlanetDrawer.h"
#include "model/Color.h"
#include "model/DrawnColor.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "platform/gfx/FilterImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/gfx/TextFrame.h"
#include "toolkit/CompactDateTimeFormatter.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvex {

namespace {

constexpr double kHomeArcDegreesFull = 310.0;
constexpr double kHomeArcEnd = 245.0;

double degreesToRadians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

} // namespace

ColorPtr HomePlanetLayer::planetColor() const
{
    return mProxy ? DrawnColor::ofRoot(mProxy->color()) : nullptr;
}

PlatformColor HomePlanetLayer::fieldColorOn(const ColorPtr& planetColor)
{
    const RGBA ink = ColorContrast::legibleInkOn(planetColor ? planetColor->rgba() : RGBA{0, 0, 0, 1});
    return ink.red > 0 ? PlatformColor::white() : PlatformColor::black();
}

QString HomePlanetLayer::elementsText(qint64 count, QString* value)
{
    // A table text that holds the count itself ("%1 elements") takes it in place of the value
    // line.
    QString elements = Globals::normalLocalizedStringForKey(
        count == 1 ? QStringLiteral("Label.Element") : QStringLiteral("Label.Elements"), QString());
    QString number = QString::number(count);
    if (elements.contains(QStringLiteral("%1"))) {
        elements = elements.arg(number);
        number.clear();
    }
    if (value)
        *value = number;
    return elements;
}

HomePlanetLayer::HomePlanetLayer() = default;

HomePlanetLayer::HomePlanetLayer(const HomePlanetLayer& other)
    : BaseLayer(other), mShadowMode(other.mShadowMode)
{}

HomePlanetLayer::~HomePlanetLayer() = default;

std::shared_ptr<HomePlanetLayer> HomePlanetLayer::create()
{
    auto layer = BaseLayer::make<HomePlanetLayer>();
    layer->setOpaque(false);
    // A search's first results draw many planets in one frame: each draws from its own
    // copy of the document's summary.
    layer->setDrawsAsynchronously(true);
    return layer;
}

QString HomePlanetLayer::className() const
{
    return QStringLiteral("HomePlanetLayer");
}

float HomePlanetLayer::fullnessForItemCount(qint64 count)
{
    // Counts come from stored summaries: a negative one draws as empty.
    const float n = float(std::clamp<qint64>(count, 0, 100));
    const float q = 1.0f - n / 100.0f;
    return std::min(1.0f, 1.0f - q * q + 0.01f);
}

double HomePlanetLayer::fetchNewFontSize()
{
    return PlanetDrawer::fontSizeForPlanetType(6);
}

QString HomePlanetLayer::formatDateOnly(const QDateTime& date)
{
    return CompactDateTimeFormatter::singleton().formatDateOnly(date);
}

QString HomePlanetLayer::formatDateTime(const QDateTime& date)
{
    return CompactDateTimeFormatter::singleton().formatDateTime(date, false);
}

HomePlanetLayer::Drawn HomePlanetLayer::drawn() const
{
    return Drawn{planetColor(),
                 mUserImage,
                 mText,
                 mIconImage,
                 mFontSize,
                 mTextColor,
                 mLabelTextColor,
                 !mWebLinkIndicatorImage.isNull(),
                 mElements,
                 mDateCreatedText,
                 mDateModifiedText,
                 mSliderPercentage};
}

bool HomePlanetLayer::Drawn::operator==(const Drawn& other) const
{
    const auto sameColor = [](const ColorPtr& a, const ColorPtr& b) {
        if (!a || !b)
            return a == b;
        const RGBA& x = a->rgba();
        const RGBA& y = b->rgba();
        return x.red == y.red && x.green == y.green && x.blue == y.blue && x.alpha == y.alpha;
    };
    // Pictures are told apart by their stored bytes; one without any is taken as new.
    const bool samePicture = picture.hasImage() == other.picture.hasImage() &&
                             (!picture.hasImage() ||
                              (!picture.pngData().isEmpty() && picture.pngData() == other.picture.pngData()));
    return sameColor(color, other.color) && samePicture && text == other.text && icon == other.icon &&
           fontSize == other.fontSize && textColor == other.textColor &&
           labelTextColor == other.labelTextColor && webLink == other.webLink && elements == other.elements &&
           dateCreated == other.dateCreated && dateModified == other.dateModified &&
           sliderPercentage == other.sliderPercentage;
}

void HomePlanetLayer::updateWithProxy(const IdeaProxyPtr& proxy)
{
    // A search's results come as other summaries of the same documents: a planet that would
    // look the same keeps its picture.
    const Drawn before = drawn();
    const bool hadProxy = mProxy != nullptr;
    mProxy = proxy;
    mLabelTextColor = PlatformColor::deviceWhite(0.1);
    if (proxy && proxy->image().hasImage()) {
        mUserImage = proxy->image();
        mText = QString();
        mIconImage.reset();
    } else {
        mUserImage = QVImage();
        mText = proxy ? proxy->text() : QString();
        mIconImage = proxy ? proxy->iconImage() : nullptr;
        mLabelTextColor = fieldColorOn(planetColor());
    }
    if (proxy && proxy->hasWebLink()) {
        if (mWebLinkIndicatorImage.isNull())
            mWebLinkIndicatorImage = PlatformImage::imageNamed(QStringLiteral("web_link_icon"));
    } else {
        mWebLinkIndicatorImage = PlatformImage();
    }
    mElements = proxy ? proxy->itemCount() : 0;
    mDateCreatedText = proxy ? formatDateOnly(proxy->dateCreated()) : QString();
    mDateModifiedText = proxy ? formatDateTime(proxy->dateModified()) : QString();
    mSliderPercentage = fullnessForItemCount(mElements);
    takeAppearance();
    if (!hadProxy || !proxy || !(drawn() == before))
        setNeedsDisplay();
}

void HomePlanetLayer::takeAppearance()
{
    mFontSize = fetchNewFontSize();
    const ColorPtr color = planetColor();
    mTextColor = Globals::highContrastText() && color && color->isBright() ? PlatformColor::deviceWhite(0.33)
                                                                           : PlatformColor::white();
}

void HomePlanetLayer::updateAppearance()
{
    takeAppearance();
    if (!hasUserImage())
        setNeedsDisplay();
}

void HomePlanetLayer::setShadowMode(bool on)
{
    if (on == mShadowMode)
        return;
    mShadowMode = on;
    setOpacity(on ? 0.5f : 1.0f);
}

Point HomePlanetLayer::scaledCenter() const
{
    const Rect b = bounds();
    return Point((b.origin.x + b.size.width / 2) * Scale, (b.origin.y + b.size.height / 2) * Scale);
}

void HomePlanetLayer::drawInContext(GraphicsContext& context)
{
    context.saveGState();
    if (context.isFlipped()) {
        // The planet is laid out y-up.
        context.translateCTM(0, bounds().size.height);
        context.scaleCTM(1, -1);
    }
    const Point c = scaledCenter();
    const double r = Radius * Scale;
    // The picture at the size its disc takes on the device; a picture that does not decode
    // leaves the planet as one without.
    const QImage picture =
        mUserImage.pixelsDrawnIn(Rect(c.x - r + 1, c.y - r + 1, 2 * r - 2, 2 * r - 2), context);
    drawDisc(context, c, r, picture);
    drawArc(context, c, r);
    if (picture.isNull()) {
        if (mIconImage)
            drawIcon(context, c, r);
        if (!mText.isEmpty())
            drawText(context, c);
    }
    drawFields(context, c, r, !picture.isNull());
    context.restoreGState();
}

void HomePlanetLayer::drawDisc(GraphicsContext& context, Point c, double r, const QImage& picture)
{
    const Rect circle(c.x - r, c.y - r, 2 * r, 2 * r);
    if (!picture.isNull()) {
        const Rect pictureRect(circle.origin.x + 1, circle.origin.y + 1, circle.size.width - 2,
                               circle.size.height - 2);
        context.setFillColor(0.8, 0.8, 0.8, 1.0);
        context.fillEllipseInRect(circle);
        context.saveGState();
        context.addEllipseInRect(pictureRect);
        context.clip();
        context.drawImage(pictureRect, picture);
        context.restoreGState();
        if (!mWebLinkIndicatorImage.isNull())
            mWebLinkIndicatorImage.drawInRect(context, Rect(c.x - 20, c.y + r / 2 - 20, 40, 40), Rect(),
                                              BlendMode::Difference, 0.2);
        return;
    }
    const ColorPtr color = planetColor();
    if (!color)
        return;
    context.setFillColor(color->uiColor());
    context.fillEllipseInRect(Scale > 0.5 ? circle.integral() : circle);
}

void HomePlanetLayer::drawArc(GraphicsContext& context, Point c, double r)
{
    const double arcRadius = std::trunc(0.96 * r);
    const double start = kHomeArcEnd - kHomeArcDegreesFull * double(mSliderPercentage);
    context.saveGState();
    context.beginPath();
    context.addArc(c, arcRadius, degreesToRadians(start), degreesToRadians(kHomeArcEnd), false);
    context.setStrokeColor(PlatformColor::white());
    context.setLineWidth(1.5);
    context.setLineCap(LineCap::Round);
    context.strokePath();
    context.restoreGState();
}

void HomePlanetLayer::drawIcon(GraphicsContext& context, Point c, double r)
{
    const PlatformImage image = mIconImage->image();
    if (image.isNull())
        return;
    const long s = std::lround(r / 2.5);
    const long side = s % 2 != 0 ? s - 1 : s;
    const Rect rect = Rect(std::trunc(c.x - double(s / 2)), std::trunc(c.y + 0.85 * r - double(side)),
                           double(side), double(side))
                          .integral();
    image.drawInRect(context, rect);
}

AttributedString HomePlanetLayer::newAttributedString() const
{
    return PlanetDrawer::titleString(mText, mFontSize, mTextColor);
}

void HomePlanetLayer::drawText(GraphicsContext& context, Point c)
{
    const double textRadius = std::round(0.89 * Radius);
    const double k = mIconImage ? 0.56 : 0.72;
    const AttributedString title = newAttributedString();
    const bool withIcon = mIconImage != nullptr;
    if (!mTitleFrame || mTitleFrameWithIcon != withIcon || !(mTitleFrameText == title)) {
        const double a = std::asin(k);
        const double b = std::asin(0.1);
        const Point centre(textRadius, textRadius);
        Path shape;
        shape.addArc(centre, textRadius, std::numbers::pi - a, -(std::numbers::pi - b), false);
        shape.addArc(centre, textRadius, -b, a, false);
        shape.closeSubpath();
        // The typesetter sets only what the band holds, whatever the title's length.
        mTitleFrame = std::make_unique<TextFrame>(TextFrame::typeset(title, shape));
        mTitleFrameText = title;
        mTitleFrameWithIcon = withIcon;
    }
    const TextFrame& frame = *mTitleFrame;
    context.saveGState();
    context.translateCTM(c.x - Scale * textRadius, c.y - Scale * textRadius);
    if (!frame.lines().empty()) {
        const double offset = textFrameCentringOffset(frame, 0.5 * k * textRadius, 0, (k + 0.1) * textRadius);
        context.translateCTM(0, offset);
        frame.draw(context);
    }
    context.restoreGState();
}

TextAttributes HomePlanetLayer::attributesForLabelWithShadow(bool withShadow) const
{
    TextAttributes attributes;
    attributes.font = PlatformFont::fontWithName(QStringLiteral("HelveticaNeue-Medium"), 9.5);
    attributes.kern = 0.3;
    attributes.foregroundColor = withShadow ? PlatformColor::black() : mLabelTextColor;
    return attributes;
}

TextAttributes HomePlanetLayer::attributesForValueWithShadow(bool withShadow) const
{
    TextAttributes attributes;
    attributes.font = PlatformFont::fontWithName(QStringLiteral("HelveticaNeue"), 11.5);
    attributes.foregroundColor = withShadow ? PlatformColor::white() : mLabelTextColor;
    return attributes;
}

const Size& HomePlanetLayer::LineMeasure::textSize()
{
    if (!sized) {
        size = text.size();
        sized = true;
    }
    return size;
}

HomePlanetLayer::LineMeasure& HomePlanetLayer::measureLine(FieldLine line, const AttributedString& text)
{
    LineMeasure& measure = mLineMeasures[line];
    if (!(measure.text == text)) {
        measure = LineMeasure{text, 0, false, Size()};
        measure.descent = -text.boundingRectWithSize(Size(), 0).origin.y;
    }
    return measure;
}

void HomePlanetLayer::drawLine(GraphicsContext& context, FieldLine line, const AttributedString& text,
                               const Rect& rect, const PlatformColor& shadowColor, double shadowRadius)
{
    if (text.isEmpty())
        return;
    LineMeasure& measure = measureLine(line, text);
    // Baseline at the rectangle's origin.
    const Point at(rect.origin.x, rect.origin.y - measure.descent);
    if (shadowRadius > 0) {
        const Size size = measure.textSize();
        const double margin = std::ceil(3 * shadowRadius);
        const double scale = std::max(1.0, context.userSpaceScale());
        const double width = std::ceil(size.width + 2 * margin);
        const double height = std::ceil(size.height + 2 * margin);
        auto offscreen = GraphicsContext::createBitmap(width * scale, height * scale);
        if (offscreen) {
            offscreen->scaleCTM(scale, scale);
            AttributedString shadowText = text;
            shadowText.setForegroundColor(shadowColor, 0, shadowText.length());
            shadowText.drawAtPoint(*offscreen, Point(margin, margin));
            const QImage pixels = offscreen->makeImage();
            const FilterImage blurred = FilterImage::fromImage(pixels).gaussianBlur(shadowRadius * scale / 2);
            const QImage shadow = blurred.render(Rect(0, 0, pixels.width(), pixels.height()));
            if (!shadow.isNull())
                context.drawImage(Rect(at.x - margin, at.y - margin, width, height), shadow);
        }
    }
    text.drawAtPoint(context, at);
}

void HomePlanetLayer::drawFieldLeftAligned(GraphicsContext& context, FieldLine labelLine,
                                           const QString& label, const QString& value, Point origin,
                                           bool withShadow)
{
    const AttributedString labelText(QLocale().toUpper(label), attributesForLabelWithShadow(withShadow));
    const AttributedString valueText(value, attributesForValueWithShadow(withShadow));
    drawLine(context, labelLine, labelText, Rect(origin.x, origin.y, 200, 1), PlatformColor::deviceWhite(0.9),
             withShadow ? 5 : 0);
    drawLine(context, FieldLine(labelLine + 1), valueText, Rect(origin.x, origin.y - 14.5, 200, 1),
             PlatformColor::black(), withShadow ? 3 : 0);
}

void HomePlanetLayer::drawFieldCenterAligned(GraphicsContext& context, FieldLine labelLine,
                                             const QString& label, const QString& value, Point origin,
                                             bool withShadow)
{
    const AttributedString labelText(label, attributesForLabelWithShadow(withShadow));
    const AttributedString valueText(value, attributesForValueWithShadow(withShadow));
    const FieldLine valueLine = FieldLine(labelLine + 1);
    const double labelWidth = std::min(100.0, measureLine(labelLine, labelText).textSize().width);
    const double valueWidth = std::min(100.0, measureLine(valueLine, valueText).textSize().width);
    drawLine(context, labelLine, labelText, Rect(origin.x - labelWidth / 2, origin.y, 100, 1),
             PlatformColor::deviceWhite(0.9), withShadow ? 5 : 0);
    drawLine(context, valueLine, valueText, Rect(origin.x - valueWidth / 2, origin.y - 14.5, 100, 1),
             PlatformColor::black(), withShadow ? 3 : 0);
}

void HomePlanetLayer::drawFields(GraphicsContext& context, Point c, double r, bool shadow)
{
    context.saveGState();
    drawFieldLeftAligned(context, CreatedLabel,
                         Globals::narrowLocalizedStringForKey(QStringLiteral("Label.Created"), QString()),
                         mDateCreatedText, Point(c.x - r + 27, c.y - r + 68), shadow);
    drawFieldLeftAligned(context, ModifiedLabel,
                         Globals::narrowLocalizedStringForKey(QStringLiteral("Label.Modified"), QString()),
                         mDateModifiedText, Point(c.x - r + 110, c.y - r + 68), shadow);
    QString count;
    const QString elements = elementsText(mElements, &count);
    drawFieldCenterAligned(context, CountLabel, elements, count, Point(bounds().size.width / 2, c.y - r + 24),
                           shadow);
    context.restoreGState();
}

} // namespace corvex
