#pragma once

#include "toolkit/ClipView.h"

namespace corvex {

// The picture viewer's clip view: a picture smaller than the visible area, along either
// axis, sits in its middle instead of at its origin. Main thread only.
class PictureClipView : public ClipView
{
public:
    using ClipView::ClipView;
    static std::shared_ptr<PictureClipView> create();

    Rect constrainBoundsRect(const Rect& proposed) const override;
};

} // namespace corvex
