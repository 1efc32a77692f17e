#include "model/Color.h"

namespace corvex {

namespace {

PlatformColor platformColorOf(const RGBA& rgb)
{
    return PlatformColor::sRGB(rgb.red / 255.0, rgb.green / 255.0, rgb.blue / 255.0, rgb.alpha);
}

} // namespace

Color::Color(Private, QString name, const RGBA& rgb, const HSVA& hsv, bool bright,
             std::weak_ptr<ColorTheme> theme)
    : mName(std::move(name)), mTheme(std::move(theme)), mRGB(rgb), mHSV(hsv), mUIColor(platformColorOf(rgb)),
      mIsBright(bright)
{}

ColorPtr Color::withRGB(const QString& name, const RGBA& rgb)
{
    HSVA hsv;
    ColorSpaceConverter::RGBToHSV(rgb, hsv);
    return std::make_shared<Color>(Private{}, name, rgb, hsv, false, std::weak_ptr<ColorTheme>());
}

ColorPtr Color::withPlatformColor(const QString& name, const PlatformColor& color)
{
    return withRGB(name, RGBA{color.redComponent() * 255, color.greenComponent() * 255,
                              color.blueComponent() * 255, color.alphaComponent()});
}

ColorPtr Color::withHSV(const QString& name, const HSVA& hsv)
{
    RGBA rgb;
    ColorSpaceConverter::HSVToRGB(hsv, rgb);
    return std::make_shared<Color>(Private{}, name, rgb, hsv, false, std::weak_ptr<ColorTheme>());
}

ColorPtr Color::withHSV(const QString& name, float hue, float saturation, float value, float alpha,
                        bool bright, const std::shared_ptr<ColorTheme>& theme)
{
    const HSVA hsv{double(hue), double(saturation), double(value), double(alpha)};
    RGBA rgb;
    ColorSpaceConverter::HSVToRGB(hsv, rgb);
    return std::make_shared<Color>(Private{}, name, rgb, hsv, bright, theme);
}

} // namespace corvex
