#include "platform/gfx/PlatformColor.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// No undefined colours from bad input: NaN reads as 0, everything else is clamped to 0..1.
double component(double v)
{
    if (std::isnan(v))
        return 0;
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

PlatformColor PlatformColor::deviceRGB(double red, double green, double blue, double alpha)
{
    PlatformColor c;
    c.mRed = component(red);
    c.mGreen = component(green);
    c.mBlue = component(blue);
    c.mAlpha = component(alpha);
    return c;
}

// Colour management is not modelled: calibrated and sRGB colours are device colours.
PlatformColor PlatformColor::calibratedRGB(double red, double green, double blue, double alpha)
{
    return deviceRGB(red, green, blue, alpha);
}

PlatformColor PlatformColor::sRGB(double red, double green, double blue, double alpha)
{
    return deviceRGB(red, green, blue, alpha);
}

PlatformColor PlatformColor::deviceWhite(double white, double alpha)
{
    return deviceRGB(white, white, white, alpha);
}

PlatformColor PlatformColor::calibratedWhite(double white, double alpha)
{
    return deviceRGB(white, white, white, alpha);
}

PlatformColor PlatformColor::patternImage(const QImage& image)
{
    PlatformColor c;
    c.mAlpha = 1;
    c.mPattern = image;
    return c;
}

PlatformColor PlatformColor::fromQColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return deviceRGB(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

PlatformColor PlatformColor::black()
{
    return deviceWhite(0);
}

PlatformColor PlatformColor::white()
{
    return deviceWhite(1);
}

PlatformColor PlatformColor::lightGray()
{
    return deviceWhite(2.0 / 3.0);
}

PlatformColor PlatformColor::darkGray()
{
    return deviceWhite(1.0 / 3.0);
}

PlatformColor PlatformColor::gray()
{
    return deviceWhite(0.5);
}

PlatformColor PlatformColor::red()
{
    return deviceRGB(1, 0, 0);
}

PlatformColor PlatformColor::clear()
{
    return PlatformColor();
}

PlatformColor PlatformColor::withAlphaComponent(double alpha) const
{
    PlatformColor c = *this;
    c.mAlpha = component(alpha);
    return c;
}

QColor PlatformColor::toQColor() const
{
    return QColor::fromRgbF(float(mRed), float(mGreen), float(mBlue), float(mAlpha));
}

QBrush PlatformColor::toBrush() const
{
    if (isPattern())
        return QBrush(mPattern);
    return QBrush(toQColor());
}

bool operator==(const PlatformColor& a, const PlatformColor& b)
{
    return a.mRed == b.mRed && a.mGreen == b.mGreen && a.mBlue == b.mBlue && a.mAlpha == b.mAlpha &&
           a.mPattern == b.mPattern;
}

} // namespace corvex
