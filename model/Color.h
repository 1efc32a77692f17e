#pragma once

#include "graphics/ColorSpaceConverter.h"
#include "platform/gfx/PlatformColor.h"

#include <QString>
#include <memory>

namespace corvex {

class ColorTheme;
class Color;
using ColorPtr = std::shared_ptr<Color>;

// One named colour. Documents store a colour by its name only, so the names and values of
// the theme table are part of the document format.
//
// A colour is immutable once made: the RGB form, the HSV form and the platform colour are
// all computed at construction (the missing form through ColorSpaceConverter), so one
// colour may be read from any thread. The values are the same as filling them on first use.
class Color
{
public:
    // Red, green and blue 0..255, alpha 0..1.
    static ColorPtr withRGB(const QString& name, const RGBA& rgb);
    // The platform colour's components, red, green and blue multiplied by 255.
    static ColorPtr withPlatformColor(const QString& name, const PlatformColor& color);
    // Hue in degrees 0..360, saturation, value and alpha 0..1.
    static ColorPtr withHSV(const QString& name, const HSVA& hsv);
    // A colour of a theme, from single-precision components widened to double. The theme is
    // held weakly: themes own their colours.
    static ColorPtr withHSV(const QString& name, float hue, float saturation, float value, float alpha,
                            bool bright, const std::shared_ptr<ColorTheme>& theme);

    Color(const Color&) = delete;
    Color& operator=(const Color&) = delete;

    const QString& name() const { return mName; }
    // The theme the colour belongs to; nullptr for colours made outside the table.
    std::shared_ptr<ColorTheme> theme() const { return mTheme.lock(); }
    // The light colours of a theme: with high-contrast text on, screens draw dark text on
    // them and white text on the others.
    bool isBright() const { return mIsBright; }

    const RGBA& rgba() const { return mRGB; }
    const HSVA& hsva() const { return mHSV; }
    // The sRGB platform colour of red / 255, green / 255, blue / 255 and alpha.
    const PlatformColor& uiColor() const { return mUIColor; }

private:
    struct Private
    {};

public:
    // Use the factories; public only for std::make_shared.
    Color(Private, QString name, const RGBA& rgb, const HSVA& hsv, bool bright,
          std::weak_ptr<ColorTheme> theme);

private:
    QString mName;
    std::weak_ptr<ColorTheme> mTheme;
    RGBA mRGB;
    HSVA mHSV;
    PlatformColor mUIColor;
    bool mIsBright = false;
};

} // namespace corvex
