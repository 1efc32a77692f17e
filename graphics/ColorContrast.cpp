#include "graphics/ColorContrast.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

double linear(double component)
{
    const double c = std::clamp(component / 255.0, 0.0, 1.0);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

} // namespace

double ColorContrast::relativeLuminance(const RGBA& color)
{
    return 0.2126 * linear(color.red) + 0.7152 * linear(color.green) + 0.0722 * linear(color.blue);
}

double ColorContrast::contrastRatio(const RGBA& a, const RGBA& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

RGBA ColorContrast::legibleInkOn(const RGBA& background)
{
    const RGBA white{255, 255, 255, 1};
    const RGBA black{0, 0, 0, 1};
    return contrastRatio(white, background) >= contrastRatio(black, background) ? white : black;
}

} // namespace corvex
