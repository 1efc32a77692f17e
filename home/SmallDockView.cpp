#include "home/SmallDockView.h"

namespace corvex {

SmallDockView::~SmallDockView() = default;

std::shared_ptr<SmallDockView> SmallDockView::create()
{
    auto view = BaseImageView::make<SmallDockView>(Rect(0, 0, 12, 12));
    view->mDockImage = PlatformImage::imageNamed(QStringLiteral("small_dock"));
    view->mActiveDockImage = PlatformImage::imageNamed(QStringLiteral("small_dock_active"));
    view->mDockImage.setSize(Size(12, 12));
    view->mActiveDockImage.setSize(Size(12, 12));
    view->setImage(view->mDockImage);
    return view;
}

QString SmallDockView::className() const
{
    return QStringLiteral("SmallDockView");
}

void SmallDockView::setHighlighted(bool highlighted)
{
    // The same picture again would be drawn again, at every movement of a drag.
    if (highlighted == mHighlighted)
        return;
    mHighlighted = highlighted;
    setImage(highlighted ? mActiveDockImage : mDockImage);
}

} // namespace corvex
