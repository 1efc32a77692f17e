#pragma once

#include "model/IconImage.h"
#include "toolkit/ButtonViewDelegate.h"
#include "toolkit/ColoredView.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class BaseImageView;
class ButtonView;
class IconCategoryTableView;
class TextLabel;

// A row of the icon tab's category table: the category's name and up to three of its icons
// before an arrow; a press anywhere reports the row to the table. Construction in two phases:
// use create(). Main thread only.
class IconCategoryCell : public ColoredView, public ButtonViewDelegate
{
public:
    IconCategoryCell();
    ~IconCategoryCell() override;
    static std::shared_ptr<IconCategoryCell> create(const std::shared_ptr<IconCategoryTableView>& owner);
    QString className() const override;

    // Shows the name (localised when the string table has it) and the icons' images.
    void configureForCategory(const QString& name, const std::vector<IconImagePtr>& icons);
    const std::vector<std::shared_ptr<BaseImageView>>& imageViews() const { return mImageViews; }
    const std::shared_ptr<TextLabel>& categoryNameLabel() const { return mCategoryNameLabel; }

    void buttonPressed(ButtonView& button) override;
    void applyLayout() override;

private:
    void prepareCell(const std::shared_ptr<IconCategoryTableView>& owner);

    std::vector<std::shared_ptr<BaseImageView>> mImageViews;
    std::shared_ptr<TextLabel> mCategoryNameLabel;
    std::shared_ptr<ButtonView> mButton;
    std::weak_ptr<IconCategoryTableView> mOwner;
};

} // namespace corvex
