#include "graphics/ColorSpaceConverter.h"

#include <algorithm>
#include <cmath>

namespace corvex {
namespace {

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

} // namespace

void ColorSpaceConverter::RGBToHSV(const RGBA& rgb, HSVA& hsv)
{
    hsv = HSVA{};
    hsv.alpha = finiteOrZero(rgb.alpha);
    const double r = rgb.red;
    const double g = rgb.green;
    const double b = rgb.blue;
    if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b))
        return;

    const float maxComponent = float(std::max(std::max(r, g), b));
    const float minComponent = float(std::min(std::min(r, g), b));
    const float delta = maxComponent - minComponent;
    hsv.value = maxComponent / 255.0f;
    if (maxComponent <= 0 || delta <= 0)
        return;
    hsv.saturation = delta / maxComponent;

    // Ties go to green, and blue only wins when strictly above both others.
    float h;
    if (b > std::max(r, g))
        h = float((r - g) / delta + 4);
    else if (r > g)
        h = float((g - b) / delta);
    else
        h = float((b - r) / delta + 2);
    float hue = h * 60.0f;
    if (hue < 0)
        hue += 360.0f;
    if (hue >= 360.0f)
        hue -= 360.0f;
    hsv.hue = hue;
}

void ColorSpaceConverter::HSVToRGB(const HSVA& hsv, RGBA& rgb)
{
    rgb = RGBA{};
    rgb.alpha = finiteOrZero(hsv.alpha);
    const double value = hsv.value;
    const double saturation = hsv.saturation;
    if (std::isnan(hsv.hue) || !std::isfinite(saturation) || !std::isfinite(value))
        return;
    if (saturation <= 0) {
        rgb.red = rgb.green = rgb.blue = value * 255;
        return;
    }

    // Infinite hues count as 0 too: neither has a place on the circle.
    const double hh = (hsv.hue >= 360 || !std::isfinite(hsv.hue)) ? 0.0 : hsv.hue / 60;
    // floor equals truncation for the hues in range; below 0 it keeps f in [0, 1) so that
    // a negative hue lands where it does on the circle.
    const double sector = std::floor(hh);
    const float f = float(hh - sector);
    double wrapped = std::fmod(sector, 6.0);
    if (wrapped < 0)
        wrapped += 6.0;
    const int i = int(wrapped);

    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1.0f - f));
    double r = 0, g = 0, b = 0;
    switch (i) {
    case 0:
        r = value, g = t, b = p;
        break;
    case 1:
        r = q, g = value, b = p;
        break;
    case 2:
        r = p, g = value, b = t;
        break;
    case 3:
        r = p, g = q, b = value;
        break;
    case 4:
        r = t, g = p, b = value;
        break;
    default:
        r = value, g = p, b = q;
        break;
    }
    rgb.red = r * 255;
    rgb.green = g * 255;
    rgb.blue = b * 255;
}

RGBA ColorSpaceConverter::transformPixel(const RGBA& pixel, const HSVA& imageHSV, const HSVA& targetHSV)
{
    HSVA hsv;
    RGBToHSV(pixel, hsv);
    double saturation = hsv.saturation;
    double value = hsv.value;
    if (saturation < 0.12) {
        // Greys (and near-greys) become light, whatever the target.
        value = 1.0;
    } else {
        const float saturationDistance = std::fabs(float(saturation - imageHSV.saturation));
        const float valueDistance = std::fabs(float(value - imageHSV.value));
        saturation = saturationDistance * (saturation - targetHSV.saturation) + targetHSV.saturation;
        value = valueDistance * (value - imageHSV.value) * (-3.0) + targetHSV.value;
    }
    double hue = targetHSV.hue;
    if (hue > 360)
        hue -= 360;
    if (hue < 0)
        hue += 360;

    HSVA recoloured;
    recoloured.hue = hue;
    recoloured.saturation = std::clamp(saturation, 0.0, 1.0);
    recoloured.value = std::clamp(value, 0.0, 1.0);
    recoloured.alpha = hsv.alpha;
    RGBA result;
    HSVToRGB(recoloured, result);
    return result;
}

} // namespace corvex
