#include "shell/MainLayoutView.h"

#include "platform/gfx/PlatformColor.h"

#include <algorithm>

namespace corvex {

namespace {

void replaceLayoutChild(View& parent, std::shared_ptr<View>& slot, const std::shared_ptr<View>& view)
{
    if (slot == view)
        return;
    if (slot)
        slot->removeFromSuperview();
    slot = view;
    if (slot)
        parent.addSubview(slot);
}

} // namespace

MainLayoutView::MainLayoutView() : ColoredView(PlatformColor::white()) {}
MainLayoutView::~MainLayoutView() = default;

std::shared_ptr<MainLayoutView> MainLayoutView::create()
{
    return ColoredView::make<MainLayoutView>();
}

QString MainLayoutView::className() const
{
    return QStringLiteral("MainLayoutView");
}

void MainLayoutView::setTopBar(const std::shared_ptr<View>& topBar)
{
    replaceLayoutChild(*this, mTopBar, topBar);
    setNeedsLayout(true);
}

void MainLayoutView::setContentView(const std::shared_ptr<View>& contentView)
{
    replaceLayoutChild(*this, mContentView, contentView);
    forceDirtyLayout();
}

void MainLayoutView::applyLayout()
{
    ColoredView::applyLayout();
    Rect rest = bounds();
    if (mTopBar) {
        const double barHeight = mTopBar->frame().size.height;
        mTopBar->setFrame(Rect(rest.origin.x, rest.origin.y, rest.size.width, barHeight));
        rest.origin.y += barHeight;
        rest.size.height = std::max(0.0, rest.size.height - barHeight);
    }
    if (mContentView)
        mContentView->setFrame(rest);
}

} // namespace corvex
