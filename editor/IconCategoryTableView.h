#pragma once

#include "toolkit/BaseView.h"
#include "toolkit/TableViewDataSource.h"

#include <memory>

namespace corvex {

class BaseScrollView;
class IconCategoryTableViewDelegate;
class IconImageCollection;
class TableView;

// The icon tab's table of categories: rows 48 high on a light grey ground, headed by a
// "Remove Icon" row while the delegate says the icon can be removed; each category row shows
// the category's name and its first icons (at most three: a shorter category shows what it
// has). Construction in two phases: use create(). Main thread only.
class IconCategoryTableView : public BaseView, public TableViewDataSource
{
public:
    static constexpr double RowHeight = 48.0;
    static constexpr std::size_t IconsPerRow = 3;

    IconCategoryTableView();
    ~IconCategoryTableView() override;
    static std::shared_ptr<IconCategoryTableView>
    create(std::shared_ptr<const IconImageCollection> collection);
    QString className() const override;

    void setDelegate(const std::shared_ptr<IconCategoryTableViewDelegate>& delegate) { mDelegate = delegate; }
    const std::shared_ptr<TableView>& tableView() const { return mTableView; }
    const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }
    // 1 while the Remove row is shown, else 0.
    qint64 categoryOffset() const;

    void reload();
    // A row's press, at a point of the table view's own coordinates.
    void rowPressedAtLocation(Point point);
    void handleRowSelection(qint64 row);

    qint64 numberOfRowsInTableView(TableView& table) override;
    std::shared_ptr<View> viewForRow(TableView& table, qint64 row) override;
    void applyLayout() override;

private:
    void prepareTable(std::shared_ptr<const IconImageCollection> collection);

    std::shared_ptr<const IconImageCollection> mCollection;
    std::shared_ptr<BaseScrollView> mScrollView;
    std::shared_ptr<TableView> mTableView;
    std::weak_ptr<IconCategoryTableViewDelegate> mDelegate;
};

} // namespace corvex
