#include "toolkit/BaseScrollView.h"

#include "toolkit/BaseLegacyScroller.h"

namespace corvex {

BaseScrollView::~BaseScrollView() = default;

std::shared_ptr<BaseScrollView> BaseScrollView::create(const Rect& frame)
{
    return make<BaseScrollView>(frame);
}

bool BaseScrollView::isFlipped() const
{
    return true;
}

void BaseScrollView::prepareBaseScrollView()
{
    setWantsLayer(true);
    setVerticalScroller(
        BaseLegacyScroller::create(Rect(0, 0, Scroller::scrollerWidth(Scroller::StyleLegacy), 100)));
}

} // namespace corvex
