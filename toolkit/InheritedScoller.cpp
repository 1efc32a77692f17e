#include "toolkit/InheritedScoller.h"

namespace corvex {

std::shared_ptr<InheritedScoller> InheritedScoller::create(const Rect& frame)
{
    return std::make_shared<InheritedScoller>(frame);
}

int InheritedScoller::preferredScrollerStyle()
{
    return StyleLegacy;
}

int InheritedScoller::classScrollerStyle() const
{
    return preferredScrollerStyle();
}

} // namespace corvex
