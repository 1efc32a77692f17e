#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>

namespace corvex {

// The platform colour stand-in: an RGBA colour or a pattern image. Device, calibrated and
// sRGB colours are all treated as sRGB (no colour management); the byte arithmetic the
// system relies on stays exact. Components are clamped to 0..1 and NaN reads as 0.
class PlatformColor
{
public:
    PlatformColor() = default; // clear (0, 0, 0, 0)

    static PlatformColor deviceRGB(double red, double green, double blue, double alpha = 1.0);
    static PlatformColor calibratedRGB(double red, double green, double blue, double alpha = 1.0);
    static PlatformColor sRGB(double red, double green, double blue, double alpha = 1.0);
    static PlatformColor deviceWhite(double white, double alpha = 1.0);
    static PlatformColor calibratedWhite(double white, double alpha = 1.0);
    // A colour whose fill repeats the image, anchored at the user-space origin of the
    // context it is used in.
    static PlatformColor patternImage(const QImage& image);
    static PlatformColor fromQColor(const QColor& color);

    static PlatformColor black();
    static PlatformColor white();
    static PlatformColor lightGray(); // white level 2/3
    static PlatformColor darkGray();  // white level 1/3
    static PlatformColor gray();      // white level 1/2
    static PlatformColor red();
    static PlatformColor clear();

    PlatformColor withAlphaComponent(double alpha) const;

    double redComponent() const { return mRed; }
    double greenComponent() const { return mGreen; }
    double blueComponent() const { return mBlue; }
    double alphaComponent() const { return mAlpha; }
    bool isPattern() const { return !mPattern.isNull(); }
    const QImage& pattern() const { return mPattern; }

    QColor toQColor() const; // a pattern colour answers its components (black)
    // A solid brush, or for a pattern colour a textured brush whose tiles start at the
    // coordinate origin of the painter it is used with.
    QBrush toBrush() const;

    friend bool operator==(const PlatformColor& a, const PlatformColor& b);

private:
    double mRed = 0, mGreen = 0, mBlue = 0, mAlpha = 0;
    QImage mPattern;
};

} // namespace corvex
