#include "editor/IconImageTabView.h"

#include "editor/EditIdeaTabDelegate.h"
#include "editor/EditIdeaViewController.h"
#include "editor/IconCategoryTableView.h"
#include "editor/IconImageCollection.h"
#include "editor/IconSelectorView.h"
#include "mindmap/PlanetLayer.h"
#include "model/IdeaValues.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Layer.h"
#include "toolkit/Animator.h"

namespace corvex {

IconImageTabView::IconImageTabView() = default;

IconImageTabView::~IconImageTabView()
{
    if (mSlide)
        mSlide->deactivate();
}

std::shared_ptr<IconImageTabView> IconImageTabView::create()
{
    auto tab = BaseView::make<IconImageTabView>();
    tab->prepareIconTab();
    return tab;
}

QString IconImageTabView::className() const
{
    return QStringLiteral("IconImageTabView");
}

void IconImageTabView::prepareIconTab()
{
    mCollection = IconImageCollection::instance();
    mMainPlanetLayer = PlanetLayer::create(2);
    mMainPlanetLayer->setApproximateRendering(true);
    mMainPlanetLayer->setText(QStringLiteral("Example"));
    mMainPlanetLayer->setNeedsDisplay();
    layer()->addSublayer(mMainPlanetLayer);
    mIconCategoryTableView = IconCategoryTableView::create(mCollection);
    mIconCategoryTableView->setDelegate(
        std::static_pointer_cast<IconCategoryTableViewDelegate>(sharedAs<IconImageTabView>()));
    addSubview(mIconCategoryTableView);
    mIconCategoryTableView->reload();
}

IconImagePtr IconImageTabView::selectedIconImage() const
{
    return mMainPlanetLayer->iconImage();
}

void IconImageTabView::setSelectedIconImage(const IconImagePtr& icon)
{
    mMainPlanetLayer->setIconImage(icon);
    mMainPlanetLayer->setNeedsDisplay();
    mIconCategoryTableView->reload();
}

bool IconImageTabView::isSliding() const
{
    return mSlide && mSlide->isActive();
}

void IconImageTabView::reloadFrom(EditIdeaViewController& controller, bool)
{
    const IdeaValues& values = controller.values();
    mMainPlanetLayer->setBaseColor(values.color(IdeaMember::Color));
    mMainPlanetLayer->setText(values.text(IdeaMember::Text));
    setSelectedIconImage(values.icon(IdeaMember::IconImage));
}

void IconImageTabView::storeValues(IdeaValues& values) const
{
    values.set(IdeaMember::IconImage, selectedIconImage());
}

void IconImageTabView::activate()
{
    mMainPlanetLayer->updateAppearance();
    mMainPlanetLayer->setNeedsDisplay();
}

void IconImageTabView::handleIconSelection(const IconImagePtr& icon)
{
    setSelectedIconImage(icon);
    if (const auto delegate = mDelegate.lock())
        delegate->didMakeChanges();
}

void IconImageTabView::pleaseRemoveIconSelection()
{
    mMainPlanetLayer->setIconImage(nullptr);
    mMainPlanetLayer->setNeedsDisplay();
    if (const auto delegate = mDelegate.lock())
        delegate->didMakeChanges();
}

Rect IconImageTabView::tableFrame() const
{
    const Rect bounds = this->bounds();
    return Rect(0, 147, bounds.size.width, std::max(0.0, bounds.size.height - 147));
}

void IconImageTabView::categorySelected(const QString& category)
{
    const auto* found = mCollection ? mCollection->iconImagesByCategory(category) : nullptr;
    const std::vector<IconImagePtr> icons = found ? *found : std::vector<IconImagePtr>();
    if (mSlide)
        mSlide->deactivate();
    if (mIconSelectorView)
        mIconSelectorView->removeFromSuperview();
    mGridInPlace = false;
    mIconSelectorView = IconSelectorView::create(
        category, icons, std::static_pointer_cast<IconSelectorViewDelegate>(sharedAs<IconImageTabView>()));
    const Rect table = mIconCategoryTableView->frame();
    mIconSelectorView->setFrame(Rect(table.maxX(), table.minY(), table.size.width, table.size.height));
    addSubview(mIconSelectorView);
    // Queued after the grid is added: it slides in from just outside the right edge.
    std::weak_ptr<IconImageTabView> weak = sharedAs<IconImageTabView>();
    const std::weak_ptr<IconSelectorView> grid = mIconSelectorView;
    MainQueue::post([weak, grid] {
        const auto self = weak.lock();
        const auto selector = grid.lock();
        if (!self || !selector || selector != self->mIconSelectorView)
            return;
        const double startX = selector->frame().minX();
        self->mSlide = Animator::create(SlideDuration, 60.0f);
        self->mSlide->play([weak, grid, startX](Animator& animator) {
            const auto tab = weak.lock();
            const auto view = grid.lock();
            if (!tab || !view)
                return;
            const float progress = animator.updateProgress();
            const Rect target = tab->mIconCategoryTableView->frame();
            view->setFrameOrigin(Point(startX + (target.minX() - startX) * double(progress), target.minY()));
            if (progress >= 1.0f) {
                tab->mGridInPlace = true;
                tab->forceDirtyLayout();
            }
        });
    });
}

void IconImageTabView::pleaseDismissIconSelector()
{
    if (mSlide)
        mSlide->deactivate();
    if (!mIconSelectorView)
        return;
    const Rect table = mIconCategoryTableView->frame();
    mIconSelectorView->setFrameOrigin(Point(table.maxX(), table.minY()));
    mIconSelectorView->removeFromSuperview();
    mIconSelectorView.reset();
    mGridInPlace = false;
}

void IconImageTabView::applyLayout()
{
    BaseView::applyLayout();
    mMainPlanetLayer->setPosition(Point(bounds().size.width / 2, 73.5));
    mIconCategoryTableView->setFrame(tableFrame());
    if (mIconSelectorView && mGridInPlace)
        mIconSelectorView->setFrame(tableFrame());
}

} // namespace corvex
