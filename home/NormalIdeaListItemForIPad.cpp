#include "home/NormalIdeaListItemForIPad.h"

#include "home/IdeaViewForIPadListItem.h"
#include "home/SmallDockView.h"
#include "toolkit/ViewExtensions.h"

#include <cmath>

namespace corvex {

NormalIdeaListItemForIPad::NormalIdeaListItemForIPad() = default;

NormalIdeaListItemForIPad::~NormalIdeaListItemForIPad() = default;

std::shared_ptr<NormalIdeaListItemForIPad> NormalIdeaListItemForIPad::create()
{
    auto item = BaseView::make<NormalIdeaListItemForIPad>();
    item->setFrame(Rect(0, 0, Side, Side));
    item->mIdeaView = IdeaViewForIPadListItem::create();
    item->mSmallDockView = SmallDockView::create();
    const Size planet = item->mIdeaView->frame().size;
    item->mIdeaView->setFrameOrigin(
        Point(std::floor((Side - planet.width) / 2), std::floor((Side - planet.height) / 2)));
    item->addSubview(item->mIdeaView);
    item->addSubview(item->mSmallDockView);
    item->updateView();
    return item;
}

QString NormalIdeaListItemForIPad::className() const
{
    return QStringLiteral("NormalIdeaListItemForIPad");
}

void NormalIdeaListItemForIPad::setIdeaProxy(const IdeaProxyPtr& proxy)
{
    mIdeaProxy = proxy;
    mIdeaView->updateWithProxy(proxy);
}

QString NormalIdeaListItemForIPad::key() const
{
    return mIdeaView->docIdentifier();
}

void NormalIdeaListItemForIPad::setFocusStrength(float strength)
{
    if (strength == mFocusStrength)
        return;
    mFocusStrength = strength;
    updateView();
}

void NormalIdeaListItemForIPad::setDockingMode(bool dockingMode)
{
    if (dockingMode == mDockingMode)
        return;
    mDockingMode = dockingMode;
    if (!dockingMode)
        mFocusStrength = 0;
    updateView();
}

void NormalIdeaListItemForIPad::updateDockingMode(bool dockingMode, float focusStrength)
{
    if (dockingMode == mDockingMode && focusStrength == mFocusStrength)
        return;
    mDockingMode = dockingMode;
    mFocusStrength = dockingMode ? focusStrength : 0;
    updateView();
}

void NormalIdeaListItemForIPad::updateView()
{
    mSmallDockView->setHidden(!mDockingMode);
    ViewExtensions::setScale(*mIdeaView, mDockingMode ? 0.75 + 0.1 * double(mFocusStrength) : 1.0);
    const Rect b = bounds();
    const Size marker = mSmallDockView->frame().size;
    mSmallDockView->setFrameOrigin(Point(std::round(b.size.width / 2 - 109 - marker.width / 2),
                                         std::round(b.size.height / 2 - marker.height / 2)));
}

View* NormalIdeaListItemForIPad::hitTest(Point pointInSuperview)
{
    if (isHidden())
        return nullptr;
    const Point local = convertPointFromView(pointInSuperview, superview());
    // The planet's own test: closer than its radius to its centre.
    View* hit = mIdeaView->hitTest(local);
    return hit == mIdeaView.get() ? hit : nullptr;
}

} // namespace corvex
