#include "editor/TitleRowView.h"

#include "editor/CellPattern.h"
#include "toolkit/ButtonView.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

TitleRowView::TitleRowView() : ColoredView(CellPattern::rowBackground()) {}
TitleRowView::~TitleRowView() = default;

std::shared_ptr<TitleRowView> TitleRowView::create(const std::shared_ptr<ButtonViewDelegate>& delegate,
                                                   const QString& category)
{
    auto row = ColoredView::make<TitleRowView>();
    row->prepareRow(delegate, category);
    return row;
}

QString TitleRowView::className() const
{
    return QStringLiteral("TitleRowView");
}

void TitleRowView::prepareRow(const std::shared_ptr<ButtonViewDelegate>& delegate, const QString& category)
{
    mCategoryNameLabel = TextLabel::create();
    mCategoryNameLabel->setBackgroundColor(PlatformColor::clear());
    mCategoryNameLabel->setText(category.trimmed());
    mCategoryNameLabel->sizeToFit();
    addSubview(mCategoryNameLabel);
    mButton =
        CellPattern::rowButton(QStringLiteral("arrow_left"), QStringLiteral("arrow_left_active"), false);
    mButton->setDelegate(delegate);
    addSubview(mButton);
}

void TitleRowView::applyLayout()
{
    ColoredView::applyLayout();
    const Rect bounds = this->bounds();
    mButton->setFrame(bounds);
    ViewExtensions::setMiddleLeftPosition(*mCategoryNameLabel, Point(32, bounds.size.height / 2));
    const Rect label = mCategoryNameLabel->frame();
    mCategoryNameLabel->setFrame(
        Rect(32, label.minY(), std::max(0.0, bounds.size.width - 32), label.size.height).integral());
}

} // namespace corvex
