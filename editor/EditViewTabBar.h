#pragma once

#include "toolkit/BaseView.h"
#include "toolkit/ButtonViewDelegate.h"

#include <memory>
#include <vector>

namespace corvex {

class ButtonView;
class EditViewTabBarDelegate;

// The idea editor's tab bar: the tabs Text (0), Color (1) and Icon (2), each a quarter of the
// width, the selected one green with a white title, and a Done button in the last quarter.
// Construction in two phases: use create(). Main thread only.
class EditViewTabBar : public BaseView, public ButtonViewDelegate
{
public:
    static double desiredHeight() { return 61.0; }

    EditViewTabBar();
    ~EditViewTabBar() override;
    static std::shared_ptr<EditViewTabBar> create();
    QString className() const override;

    void setDelegate(const std::shared_ptr<EditViewTabBarDelegate>& delegate) { mDelegate = delegate; }
    qint64 currentSelection() const { return mCurrentSelection; }
    // Toggles exactly the tab with that number on.
    void setCurrentSelection(qint64 selection);
    const std::vector<std::shared_ptr<ButtonView>>& tabControls() const { return mTabControls; }
    const std::shared_ptr<ButtonView>& doneButton() const { return mDoneButton; }
    double buttonWidth() const { return bounds().size.width / 4.0; }

    void applyLayout() override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    void buttonPressed(ButtonView& button) override;

private:
    void prepareTabBar();
    void addOption(qint64 number, const QString& title);

    std::vector<std::shared_ptr<ButtonView>> mTabControls;
    std::shared_ptr<ButtonView> mDoneButton;
    std::weak_ptr<EditViewTabBarDelegate> mDelegate;
    qint64 mCurrentSelection = 0;
};

} // namespace corvex
