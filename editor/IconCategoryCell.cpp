#include "editor/IconCategoryCell.h"

#include "editor/CellPattern.h"
#include "editor/IconCategoryTableView.h"
#include "model/Globals.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TableView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

IconCategoryCell::IconCategoryCell() : ColoredView(CellPattern::rowBackground()) {}
IconCategoryCell::~IconCategoryCell() = default;

std::shared_ptr<IconCategoryCell>
IconCategoryCell::create(const std::shared_ptr<IconCategoryTableView>& owner)
{
    auto cell = ColoredView::make<IconCategoryCell>();
    cell->prepareCell(owner);
    return cell;
}

QString IconCategoryCell::className() const
{
    return QStringLiteral("IconCategoryCell");
}

void IconCategoryCell::prepareCell(const std::shared_ptr<IconCategoryTableView>& owner)
{
    mOwner = owner;
    mCategoryNameLabel = TextLabel::create();
    mCategoryNameLabel->setBackgroundColor(PlatformColor::clear());
    addSubview(mCategoryNameLabel);
    mButton =
        CellPattern::rowButton(QStringLiteral("arrow_right"), QStringLiteral("arrow_right_active"), true);
    mButton->setDelegate(std::static_pointer_cast<ButtonViewDelegate>(sharedAs<IconCategoryCell>()));
    addSubview(mButton);
}

void IconCategoryCell::configureForCategory(const QString& name, const std::vector<IconImagePtr>& icons)
{
    for (const auto& view : mImageViews)
        view->removeFromSuperview();
    mImageViews.clear();
    for (const IconImagePtr& icon : icons) {
        if (!icon)
            continue;
        auto view = BaseImageView::createWithImage(icon->image());
        view->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
        addSubview(view, View::Ordering::Below, mButton.get());
        mImageViews.push_back(std::move(view));
    }
    mCategoryNameLabel->setText(Globals::normalLocalizedStringForKey(name.trimmed(), QString()));
    mCategoryNameLabel->sizeToFit();
    forceDirtyLayout();
}

void IconCategoryCell::buttonPressed(ButtonView&)
{
    if (const auto owner = mOwner.lock())
        owner->rowPressedAtLocation(CellPattern::centreIn(*this, *owner->tableView()));
}

void IconCategoryCell::applyLayout()
{
    ColoredView::applyLayout();
    const Rect bounds = this->bounds();
    mButton->setFrame(bounds);
    double left = bounds.size.width - 24 - 32;
    for (auto it = mImageViews.rbegin(); it != mImageViews.rend(); ++it) {
        (*it)->setFrame(Rect(left, bounds.size.height / 2 - 16, 32, 32).integral());
        left -= 32;
    }
    const double labelRight =
        mImageViews.empty() ? bounds.size.width - 24 - 32 : mImageViews.front()->frame().minX();
    ViewExtensions::setMiddleLeftPosition(*mCategoryNameLabel, Point(8, bounds.size.height / 2));
    const Rect label = mCategoryNameLabel->frame();
    mCategoryNameLabel->setFrame(
        Rect(8, label.minY(), std::max(0.0, labelRight - 8), label.size.height).integral());
}

} // namespace corvex
