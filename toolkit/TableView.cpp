#include "toolkit/TableView.h"

#include "platform/gfx/GraphicsContext.h"
#include "toolkit/Animator.h"
#include "toolkit/TableViewDataSource.h"

#include <cmath>

namespace corvex {

TableView::TableView() = default;

TableView::~TableView()
{
    if (mFade)
        mFade->deactivate();
}

std::shared_ptr<TableView> TableView::create()
{
    return BaseView::make<TableView>();
}

QString TableView::className() const
{
    return QStringLiteral("TableView");
}

void TableView::setRowHeight(double height)
{
    mRowHeight = std::isfinite(height) && height > 0 ? height : mRowHeight;
    forceDirtyLayout();
}

void TableView::setBackgroundColor(const PlatformColor& color)
{
    mBackground = color;
    setNeedsDisplay(true);
}

void TableView::reloadData()
{
    if (mFade) {
        mFade->deactivate();
        mFade.reset();
    }
    for (const auto& row : mRows) {
        if (row)
            row->removeFromSuperview();
    }
    mRows.clear();
    const auto source = mDataSource.lock();
    const qint64 count = source ? std::max<qint64>(0, source->numberOfRowsInTableView(*this)) : 0;
    for (qint64 r = 0; r < count; ++r) {
        std::shared_ptr<View> row = source->viewForRow(*this, r);
        if (row) {
            row->setFrame(rectOfRow(r));
            addSubview(row);
        }
        mRows.push_back(std::move(row));
    }
    setNeedsDisplay(true);
    forceDirtyLayout();
}

std::shared_ptr<View> TableView::viewAtRow(qint64 row) const
{
    return row >= 0 && row < numberOfRows() ? mRows[std::size_t(row)] : nullptr;
}

Rect TableView::rectOfRow(qint64 row) const
{
    return Rect(0, double(row) * mRowHeight, bounds().size.width, mRowHeight);
}

qint64 TableView::rowAtPoint(Point point) const
{
    if (point.x < 0 || point.x >= bounds().size.width || point.y < 0 || !(mRowHeight > 0))
        return -1;
    const auto row = qint64(std::floor(point.y / mRowHeight));
    return row < numberOfRows() ? row : -1;
}

bool TableView::isFading() const
{
    return mFade && mFade->isActive();
}

void TableView::removeRowWithFade(qint64 row)
{
    const std::shared_ptr<View> view = viewAtRow(row);
    if (row < 0 || row >= numberOfRows())
        return;
    if (mFade)
        mFade->deactivate();
    mFade = Animator::create(FadeDuration, 60.0f);
    std::weak_ptr<TableView> weak = sharedAs<TableView>();
    mFade->play([weak, view, row](Animator& animator) {
        const float progress = animator.updateProgress();
        if (view)
            view->setAlphaValue(1.0 - double(progress));
        if (progress < 1.0f)
            return;
        const auto self = weak.lock();
        if (!self || row >= self->numberOfRows() || self->mRows[std::size_t(row)] != view)
            return;
        if (view)
            view->removeFromSuperview();
        self->mRows.erase(self->mRows.begin() + row);
        self->mFade.reset();
        self->forceDirtyLayout();
        self->setNeedsDisplay(true);
    });
}

void TableView::applyLayout()
{
    BaseView::applyLayout();
    for (std::size_t r = 0; r < mRows.size(); ++r) {
        if (mRows[r])
            mRows[r]->setFrame(rectOfRow(qint64(r)));
    }
}

void TableView::drawRect(const Rect&, GraphicsContext& context)
{
    context.setFillColor(mBackground);
    context.fillRect(bounds());
}

} // namespace corvex
