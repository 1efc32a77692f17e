#pragma once

#include "toolkit/ColoredView.h"

#include <QString>
#include <memory>

namespace corvex {

class ButtonView;
class ButtonViewDelegate;
class TextLabel;

// The back row at the top of the icon grid: a left arrow and the category's name; its
// button reports to the grid. Construction in two phases: use create(). Main thread only.
class TitleRowView : public ColoredView
{
public:
    TitleRowView();
    ~TitleRowView() override;
    static std::shared_ptr<TitleRowView> create(const std::shared_ptr<ButtonViewDelegate>& delegate,
                                                const QString& category);
    QString className() const override;

    const std::shared_ptr<ButtonView>& button() const { return mButton; }
    const std::shared_ptr<TextLabel>& categoryNameLabel() const { return mCategoryNameLabel; }
    void applyLayout() override;

private:
    void prepareRow(const std::shared_ptr<ButtonViewDelegate>& delegate, const QString& category);

    std::shared_ptr<ButtonView> mButton;
    std::shared_ptr<TextLabel> mCategoryNameLabel;
};

} // namespace corvex
