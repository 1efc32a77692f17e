#pragma once

#include "mindmap/MindMapScreenSeams.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonViewDelegate.h"

#include <QString>
#include <memory>
#include <optional>

namespace corvex {

class ButtonView;
class Event;
class SearchTextField;

// The 40-point bar along the top of the home and mind-map screens: a search field in the
// middle, a home button at the left edge and, at the right edge, the mind-map toggle with the
// add-content button left of it. Button presses (1 home, 2 toggle, 3 content) and search-text
// changes go to the delegate. Main thread only.
class TopBarView : public BaseView, public ButtonViewDelegate
{
public:
    static constexpr int HomeAction = 1;
    static constexpr int MindmapToggleAction = 2;
    static constexpr int ContentAction = 3;
    static constexpr double ButtonSide = 28;
    static constexpr double EdgeInset = 14;
    static constexpr double ButtonGap = 10;

    // Unprepared: use create().
    TopBarView();
    ~TopBarView() override;
    static std::shared_ptr<TopBarView> create();
    static double preferredHeight() { return 40.0; }

    void setDelegate(std::weak_ptr<TopBarServicesDelegate> delegate) { mDelegate = std::move(delegate); }
    void setHomeAction(bool shown);
    void setContentAction(bool shown);
    void setMindmapToggleAction(bool shown, bool toggled);

    QString currentSearchText() const;

    // The text the screen was last told of (it is told on the turn after a change).
    const QString& communicatedSearchText() const { return mPrevCommunicatedSearchText; }
    bool hasSearchContent() const { return !currentSearchText().isEmpty(); }
    // Puts the text into the field and takes it as reported; the delegate is not told.
    void setCurrentSearchText(const QString& text);
    bool isEditingSearchText() const;
    void startEditingSearchText();

    const std::shared_ptr<SearchTextField>& searchField() const { return mSearchTextField; }
    const std::shared_ptr<ButtonView>& homeButton() const { return mHomeButton; }
    const std::shared_ptr<ButtonView>& contentButton() const { return mContentButton; }
    const std::shared_ptr<ButtonView>& mindmapToggleButton() const { return mMindmapToggleButton; }
    const std::optional<Event>& lastEvent() const { return mLastEvent; }

    // The search field's editing, as its field reports it.
    void searchDidBeginEditing();
    void searchTextDidChange();
    void searchDidEndEditing();
    // Escape: editing stops on the next turn of the main queue.
    void cancelOperation();

    void buttonPressed(ButtonView& button) override;
    void applyLayout() override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    QString className() const override;

private:
    void prepareTopBar();
    std::shared_ptr<ButtonView> addButton(const QString& image, const QString& activeImage);
    void updateToggleVisibility();
    void stopEditing();
    void notifyDelegate();

    std::shared_ptr<SearchTextField> mSearchTextField;
    std::shared_ptr<ButtonView> mHomeButton;
    std::shared_ptr<ButtonView> mContentButton;
    std::shared_ptr<ButtonView> mMindmapToggleButton;
    bool mIsEditing = false;
    QString mPrevCommunicatedSearchText;
    std::weak_ptr<TopBarServicesDelegate> mDelegate;
    std::optional<Event> mLastEvent;
};

// The bar as the mind-map screen sees it; registerTopBar() installs the factory.
class TopBarServicesAdapter final : public TopBarServices
{
public:
    TopBarServicesAdapter();
    std::shared_ptr<View> view() const override { return mBar; }
    const std::shared_ptr<TopBarView>& bar() const { return mBar; }
    void setDelegate(std::weak_ptr<TopBarServicesDelegate> delegate) override;
    QString currentSearchText() const override;
    void setCurrentSearchText(const QString& text) override;
    bool isEditingSearchText() const override;
    void startEditingSearchText() override;
    void setContentAction(bool shown) override;
    void setMindmapToggleAction(bool shown, bool toggled) override;
    void setHomeAction(bool shown) override;

private:
    std::shared_ptr<TopBarView> mBar;
};

void registerTopBar();

} // namespace corvex
