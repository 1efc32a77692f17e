#include "overview/PlatonicPage.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr double kPlatonicShortSide = 826;
constexpr double kPlatonicLongSide = 1170;
constexpr double kPlatonicInset = 40;

} // namespace

Rect PlatonicPage::page(bool landscape)
{
    return landscape ? Rect(0, 0, kPlatonicLongSide, kPlatonicShortSide)
                     : Rect(0, 0, kPlatonicShortSide, kPlatonicLongSide);
}

Rect PlatonicPage::innerRect(bool landscape)
{
    const Rect inset = page(landscape).insetBy(kPlatonicInset, kPlatonicInset);
    return Rect(Point(0, 0), inset.size);
}

bool PlatonicPage::isLandscapeFor(Size area)
{
    return !(area.height > area.width);
}

AffineTransform PlatonicPage::transform(Size size, const Rect& target)
{
    if (!(size.width > 0) || !(size.height > 0))
        return AffineTransform::makeTranslation(target.origin.x, target.origin.y);
    const double s = std::min(target.size.width / size.width, target.size.height / size.height);
    if (!(s > 0))
        return AffineTransform::makeTranslation(target.origin.x, target.origin.y);
    // Each step applies before the ones already there.
    return AffineTransform::makeTranslation(target.origin.x, target.origin.y)
        .scaled(s, s)
        .translated((target.size.width / s - size.width) / 2, target.size.height / s - size.height);
}

void PlatonicPage::scaleContext(GraphicsContext& context, Size size, const Rect& target)
{
    context.concatCTM(transform(size, target));
}

} // namespace corvex
