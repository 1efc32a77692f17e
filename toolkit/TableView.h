#pragma once

#include "platform/gfx/PlatformColor.h"
#include "toolkit/BaseView.h"

#include <memory>
#include <vector>

namespace corvex {

class Animator;
class TableViewDataSource;

// A view-based table of one column: rows of a fixed height, no header, no selection, each
// row a view its data source makes; placed as the document view of a scroll view by its
// owner. reloadData asks the data source again; removeRowWithFade fades a row out and then
// closes the gap. Flipped: row 0 at the top. Main thread only.
class TableView : public BaseView
{
public:
    // How long a removed row takes to fade out.
    static constexpr float FadeDuration = 0.25f;

    TableView();
    ~TableView() override;
    static std::shared_ptr<TableView> create();
    QString className() const override;

    double rowHeight() const { return mRowHeight; }
    void setRowHeight(double height);
    const PlatformColor& backgroundColor() const { return mBackground; }
    void setBackgroundColor(const PlatformColor& color);
    // Held weakly.
    void setDataSource(const std::shared_ptr<TableViewDataSource>& source) { mDataSource = source; }

    void reloadData();
    qint64 numberOfRows() const { return qint64(mRows.size()); }
    // The row's view (null outside the table or for an empty row).
    std::shared_ptr<View> viewAtRow(qint64 row) const;
    Rect rectOfRow(qint64 row) const;
    // The row at a point of the table's own coordinates; -1 outside every row.
    qint64 rowAtPoint(Point point) const;
    // The rows' total height: what the owner sizes the table to.
    double contentHeight() const { return mRowHeight * double(mRows.size()); }
    // Fades the row out, then takes it out of the table and moves the rows below it up. The
    // data source must already answer one row fewer; a reload meanwhile ends the fade.
    void removeRowWithFade(qint64 row);
    bool isFading() const;

    void applyLayout() override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    std::vector<std::shared_ptr<View>> mRows;
    std::weak_ptr<TableViewDataSource> mDataSource;
    std::shared_ptr<Animator> mFade;
    PlatformColor mBackground = PlatformColor::white();
    double mRowHeight = 17.0;
};

} // namespace corvex
