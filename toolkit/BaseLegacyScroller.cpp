#include "toolkit/BaseLegacyScroller.h"

namespace corvex {

std::shared_ptr<BaseLegacyScroller> BaseLegacyScroller::create(const Rect& frame)
{
    return std::make_shared<BaseLegacyScroller>(frame);
}

int BaseLegacyScroller::preferredScrollerStyle()
{
    return StyleLegacy;
}

int BaseLegacyScroller::classScrollerStyle() const
{
    return preferredScrollerStyle();
}

} // namespace corvex
