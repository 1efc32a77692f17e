#pragma once

#include "toolkit/BaseImageView.h"

#include <memory>

namespace corvex {

// The 12 x 12 insertion marker of the grid: "small_dock", or "small_dock_active" while
// highlighted. Main thread only.
class SmallDockView : public BaseImageView
{
public:
    using BaseImageView::BaseImageView;
    ~SmallDockView() override;
    static std::shared_ptr<SmallDockView> create();

    bool isHighlighted() const { return mHighlighted; }
    void setHighlighted(bool highlighted);
    QString className() const override;

private:
    PlatformImage mDockImage;
    PlatformImage mActiveDockImage;
    bool mHighlighted = false;
};

} // namespace corvex
