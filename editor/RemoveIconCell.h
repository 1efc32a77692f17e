#pragma once

#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/ColoredView.h"

#include <memory>

namespace corvex {

class ButtonView;
class IconCategoryTableView;
class TextLabel;

// The first row of the category table while the idea has an icon: "REMOVE ICON" before a
// cross; a press reports the row to the table. Construction in two phases: use create().
// Main thread only.
class RemoveIconCell : public ColoredView, public ButtonViewDelegate
{
public:
    RemoveIconCell();
    ~RemoveIconCell() override;
    static std::shared_ptr<RemoveIconCell> create(const std::shared_ptr<IconCategoryTableView>& owner);
    QString className() const override;

    const std::shared_ptr<TextLabel>& textLabel() const { return mTextLabel; }
    void buttonPressed(ButtonView& button) override;
    void applyLayout() override;

private:
    void prepareCell(const std::shared_ptr<IconCategoryTableView>& owner);

    std::shared_ptr<TextLabel> mTextLabel;
    std::shared_ptr<ButtonView> mButton;
    std::weak_ptr<IconCategoryTableView> mOwner;
};

} // namespace corvex
