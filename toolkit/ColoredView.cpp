#include "toolkit/ColoredView.h"

#include "platform/gfx/GraphicsContext.h"

namespace corvex {

ColoredView::ColoredView(const PlatformColor& color) : mColor(color) {}

ColoredView::~ColoredView() = default;

std::shared_ptr<ColoredView> ColoredView::create(const PlatformColor& color)
{
    return make<ColoredView>(color);
}

std::shared_ptr<ColoredView> ColoredView::createWithLayouter(const PlatformColor& color,
                                                             const std::shared_ptr<Layouter>& layouter)
{
    return makeWithLayouter<ColoredView>(layouter, color);
}

bool ColoredView::isOpaque() const
{
    return true;
}

void ColoredView::drawRect(const Rect&, GraphicsContext& context)
{
    context.saveGState();
    context.setFillColor(mColor);
    context.fillRect(bounds());
    context.restoreGState();
}

} // namespace corvex
