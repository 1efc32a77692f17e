#include "editor/PictureClipView.h"

#include <cmath>

namespace corvex {

std::shared_ptr<PictureClipView> PictureClipView::create()
{
    return std::make_shared<PictureClipView>();
}

Rect PictureClipView::constrainBoundsRect(const Rect& proposed) const
{
    Rect constrained = ClipView::constrainBoundsRect(proposed);
    if (!documentView())
        return constrained;
    const Size document = documentView()->frame().size;
    if (proposed.size.width >= document.width)
        constrained.origin.x = std::floor((proposed.size.width - document.width) * -0.5);
    if (proposed.size.height >= document.height)
        constrained.origin.y = std::floor((proposed.size.height - document.height) * -0.5);
    return constrained;
}

} // namespace corvex
