#pragma once

#include "editor/EditIdeaTabDelegate.h"
#include "editor/EditViewTabBarDelegate.h"
#include "mindmap/MindMapScreenSeams.h"
#include "platform/ui/PopoverDelegate.h"
#include "platform/ui/ViewController.h"
#include "toolkit/Layouter.h"

#include <QString>
#include <memory>

namespace corvex {

class ColorSelectionTabView;
class ColoredView;
class EditIdeaViewSubordinate;
class EditViewTabBar;
class IconImageTabView;
class IdeaTextEditTabView;
class Popover;

// The idea editor: one idea's title, note, colour, child colour theme and icon, edited in a
// popover in three tabs (text, colour, icon) under a tab bar with a Done button. It knows
// nothing of ideas or documents: the caller presets the values (one bundle keyed by the
// members' table), shows it, and after the delegate heard editIdeaViewDidClose asks
// didChange and reads the values back. Each tab reads the members it shows from the bundle
// and stores them back into it.
//
// Each tab is made the first time it is chosen and kept; leaving a tab copies its values
// into the controller first. The popover is always 320 wide; its height follows the tab
// (tab bar included): 123 for the compact text tab, 381 with the note, 483 for colour and
// icon. The first tab is chosen on the main queue just after the popover starts showing.
// Main thread only.
class EditIdeaViewController : public ViewController,
                               public IdeaEditor,
                               public PopoverDelegate,
                               public IdeaTextEditTabViewDelegate,
                               public EditViewTabBarDelegate,
                               public Layouter
{
public:
    static constexpr double Width = 320.0;

    EditIdeaViewController();
    ~EditIdeaViewController() override;
    // Keeps the popover, becomes its content controller and delegate.
    static std::shared_ptr<EditIdeaViewController> initForPopover(const std::shared_ptr<Popover>& popover);

    // ---- IdeaEditor ----
    void setDelegate(std::weak_ptr<IdeaEditorDelegate> delegate) override { mDelegate = std::move(delegate); }
    void setValues(const IdeaValues& values) override { mValues = values; }
    const IdeaValues& values() const override { return mValues; }
    // The values in place, to preset or read one member at a time.
    IdeaValues& editedValues() { return mValues; }
    bool didChange() const override;
    bool didRecolor() const override { return mDidRecolor; }
    void setDidRecolor(bool recolor) { mDidRecolor = recolor; }
    void showRelativeToRect(const Rect& anchor, View& view) override;
    void close() override { dismissView(); }

    // Both of length 0 (null counts as 0), or equal strings.
    static bool textEquality(const QString& a, const QString& b);

    void prepareForPresentation();
    void updateFrameWithHeight(double height);
    void reloadDataFromSubViews();
    void dismissView();

    const std::shared_ptr<Popover>& popover() const { return mPopover; }
    const std::shared_ptr<EditViewTabBar>& tabBar() const { return mEditViewTabBar; }
    const std::shared_ptr<IdeaTextEditTabView>& textTabView() const { return mTextTabView; }
    const std::shared_ptr<ColorSelectionTabView>& colorTabView() const { return mColorTabView; }
    const std::shared_ptr<IconImageTabView>& iconImageTabView() const { return mIconImageTabView; }
    const std::shared_ptr<View>& currentTabView() const { return mCurrentTabView; }

    // ---- Delegates of the popover, the tabs and the tab bar ----
    void popoverWillShow(Popover& popover) override;
    void popoverDidShow(Popover& popover) override;
    void popoverDidClose(Popover& popover) override;
    void didMakeChanges() override { reloadDataFromSubViews(); }
    void pleaseUpdateIdeaTextEditTabViewHeight() override;
    void pleaseCloseEditView() override { dismissView(); }
    void editViewTabBarUserSelectedItem(EditViewTabBar& bar, qint64 item) override;
    void applyLayout() override;

protected:
    void loadView() override;

private:
    struct Tab
    {
        std::shared_ptr<View> view;
        EditIdeaViewSubordinate* subordinate = nullptr;
    };
    // The tab for a number (0 text, 1 colour, anything else icon); made when `make`.
    Tab tabFor(qint64 item, bool make, bool& made);
    void switchToView(const Tab& tab);

    IdeaValues mValues;
    bool mDidRecolor = false;
    std::weak_ptr<IdeaEditorDelegate> mDelegate;

    IdeaValues mOriginalValues; // as they stood when the popover was about to show
    bool mPreparedOnce = false;

    std::shared_ptr<Popover> mPopover;
    std::shared_ptr<IdeaTextEditTabView> mTextTabView;
    std::shared_ptr<ColorSelectionTabView> mColorTabView;
    std::shared_ptr<IconImageTabView> mIconImageTabView;
    std::shared_ptr<View> mCurrentTabView;
    EditIdeaViewSubordinate* mCurrentTab = nullptr;
    std::shared_ptr<EditViewTabBar> mEditViewTabBar;
    std::shared_ptr<ColoredView> mView;
};

} // namespace corvex
