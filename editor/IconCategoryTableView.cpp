#include "editor/IconCategoryTableView.h"

#include "editor/IconCategoryCell.h"
#include "editor/IconImageCollection.h"
#include "editor/IconTabDelegates.h"
#include "editor/RemoveIconCell.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/TableView.h"

#include <algorithm>

namespace corvex {

IconCategoryTableView::IconCategoryTableView() = default;
IconCategoryTableView::~IconCategoryTableView() = default;

std::shared_ptr<IconCategoryTableView>
IconCategoryTableView::create(std::shared_ptr<const IconImageCollection> collection)
{
    auto view = BaseView::make<IconCategoryTableView>();
    view->prepareTable(std::move(collection));
    return view;
}

QString IconCategoryTableView::className() const
{
    return QStringLiteral("IconCategoryTableView");
}

void IconCategoryTableView::prepareTable(std::shared_ptr<const IconImageCollection> collection)
{
    mCollection = std::move(collection);
    mScrollView = BaseScrollView::create();
    mScrollView->setHasVerticalScroller(true);
    mScrollView->setHasHorizontalScroller(false);
    mScrollView->setScrollerStyle(1);
    mTableView = TableView::create();
    mTableView->setRowHeight(RowHeight);
    mTableView->setBackgroundColor(PlatformColor::lightGray());
    mTableView->setDataSource(
        std::static_pointer_cast<TableViewDataSource>(sharedAs<IconCategoryTableView>()));
    mScrollView->setDocumentView(mTableView);
    addSubview(mScrollView);
}

qint64 IconCategoryTableView::categoryOffset() const
{
    const auto delegate = mDelegate.lock();
    return delegate && delegate->canRemoveIconSelection() ? 1 : 0;
}

void IconCategoryTableView::reload()
{
    mTableView->reloadData();
    forceDirtyLayout();
}

qint64 IconCategoryTableView::numberOfRowsInTableView(TableView&)
{
    return (mCollection ? qint64(mCollection->categories().size()) : 0) + categoryOffset();
}

std::shared_ptr<View> IconCategoryTableView::viewForRow(TableView&, qint64 row)
{
    const auto self = sharedAs<IconCategoryTableView>();
    const qint64 offset = categoryOffset();
    if (row < offset)
        return RemoveIconCell::create(self);
    auto cell = IconCategoryCell::create(self);
    const qint64 index = row - offset;
    if (!mCollection || index < 0 || index >= qint64(mCollection->categories().size()))
        return cell;
    const QString& category = mCollection->categories()[index];
    std::vector<IconImagePtr> first;
    if (const auto* icons = mCollection->iconImagesByCategory(category))
        first.assign(icons->begin(), icons->begin() + qsizetype(std::min(IconsPerRow, icons->size())));
    cell->configureForCategory(category, first);
    return cell;
}

void IconCategoryTableView::rowPressedAtLocation(Point point)
{
    const qint64 row = mTableView->rowAtPoint(point);
    if (row >= 0)
        handleRowSelection(row);
}

void IconCategoryTableView::handleRowSelection(qint64 row)
{
    const auto delegate = mDelegate.lock();
    const qint64 offset = categoryOffset();
    if (row < offset) {
        if (delegate)
            delegate->pleaseRemoveIconSelection();
        mTableView->removeRowWithFade(0);
        return;
    }
    const qint64 index = row - offset;
    if (delegate && mCollection && index >= 0 && index < qint64(mCollection->categories().size()))
        delegate->categorySelected(mCollection->categories()[index]);
}

void IconCategoryTableView::applyLayout()
{
    BaseView::applyLayout();
    mScrollView->setFrame(bounds());
    mTableView->setFrame(Rect(0, 0, mScrollView->contentSize().width, mTableView->contentHeight()));
    mScrollView->tile();
}

} // namespace corvex
