#pragma once

#include "model/IconImage.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonViewDelegate.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class BaseScrollView;
class ButtonView;
class IconSelectorViewDelegate;
class TitleRowView;

// The grid of one category's icons over the category table: a back row at the top, then the
// icons in seven columns, rows 47 apart, the current icon's button toggled (same name and
// category). Clicks on empty parts of the grid end at the grid. A grid without icons is
// empty. Construction in two phases: use create(). Main thread only.
class IconSelectorView : public BaseView, public ButtonViewDelegate
{
public:
    static constexpr int Columns = 7;

    IconSelectorView();
    ~IconSelectorView() override;
    static std::shared_ptr<IconSelectorView>
    create(const QString& category, const std::vector<IconImagePtr>& icons,
           const std::shared_ptr<IconSelectorViewDelegate>& delegate);
    QString className() const override;

    const std::vector<std::shared_ptr<ButtonView>>& iconButtons() const { return mIconButtons; }
    const std::shared_ptr<TitleRowView>& titleRow() const { return mTitleRow; }
    const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }
    const std::shared_ptr<BaseView>& contentView() const { return mContentView; }

    void buttonPressed(ButtonView& button) override;
    View* hitTest(Point pointInSuperview) override;
    void mouseDown(const Event&) override {}
    void mouseUp(const Event&) override {}
    void applyLayout() override;

private:
    void prepareGrid(const QString& category, const std::vector<IconImagePtr>& icons,
                     const std::shared_ptr<IconSelectorViewDelegate>& delegate);

    std::weak_ptr<IconSelectorViewDelegate> mDelegate;
    std::shared_ptr<TitleRowView> mTitleRow;
    std::shared_ptr<BaseScrollView> mScrollView;
    std::shared_ptr<BaseView> mContentView;
    std::vector<std::shared_ptr<ButtonView>> mIconButtons;
};

} // namespace corvex
