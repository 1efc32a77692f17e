#pragma once

#include "editor/EditIdeaViewSubordinate.h"
#include "editor/IconTabDelegates.h"
#include "model/IconImage.h"
#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class Animator;
class EditIdeaTabDelegate;
class IconCategoryTableView;
class IconImageCollection;
class IconSelectorView;
class PlanetLayer;

// The editor's icon tab: a preview planet with the idea's title, colour and chosen icon, and
// below it the catalogue's categories; choosing one slides its grid in from the right over
// the table (0.15 s), and the grid's back row takes it away at once. The tab's value is the
// preview planet's icon. Construction in two phases: use create(). Main thread only.
class IconImageTabView : public BaseView,
                         public IconSelectorViewDelegate,
                         public IconCategoryTableViewDelegate,
                         public EditIdeaViewSubordinate
{
public:
    static constexpr double PreferredHeight = 422.0;
    static constexpr float SlideDuration = 0.15f;

    IconImageTabView();
    ~IconImageTabView() override;
    // Over IconImageCollection::instance().
    static std::shared_ptr<IconImageTabView> create();
    QString className() const override;

    void setDelegate(const std::shared_ptr<EditIdeaTabDelegate>& delegate) { mDelegate = delegate; }
    IconImagePtr selectedIconImage() const;
    void setSelectedIconImage(const IconImagePtr& icon);

    const std::shared_ptr<PlanetLayer>& mainPlanetLayer() const { return mMainPlanetLayer; }
    const std::shared_ptr<IconCategoryTableView>& categoryTableView() const { return mIconCategoryTableView; }
    const std::shared_ptr<IconSelectorView>& iconSelectorView() const { return mIconSelectorView; }
    bool isSliding() const;

    // EditIdeaViewSubordinate
    void reloadFrom(EditIdeaViewController& controller, bool isInitialLoad) override;
    void storeValues(IdeaValues& values) const override;
    void activate() override;
    void deactivate() override {}
    double currentPreferredHeight() const override { return PreferredHeight; }

    // The grid's and the table's requests.
    void pleaseDismissIconSelector() override;
    void handleIconSelection(const IconImagePtr& icon) override;
    IconImagePtr currentIconSelection() const override { return selectedIconImage(); }
    void categorySelected(const QString& category) override;
    bool canRemoveIconSelection() const override { return selectedIconImage() != nullptr; }
    void pleaseRemoveIconSelection() override;

    void applyLayout() override;

private:
    void prepareIconTab();
    Rect tableFrame() const;

    std::shared_ptr<const IconImageCollection> mCollection;
    std::shared_ptr<PlanetLayer> mMainPlanetLayer;
    std::shared_ptr<IconCategoryTableView> mIconCategoryTableView;
    std::shared_ptr<IconSelectorView> mIconSelectorView;
    std::shared_ptr<Animator> mSlide;
    // The grid has slid in: layouts keep it over the table.
    bool mGridInPlace = false;
    std::weak_ptr<EditIdeaTabDelegate> mDelegate;
};

} // namespace corvex
