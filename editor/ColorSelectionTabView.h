#pragma once

#include "editor/ColorMatrixViewDelegate.h"
#include "editor/EditIdeaViewSubordinate.h"
#include "toolkit/BaseView.h"
#include "toolkit/HorizontalSelectorDelegate.h"

#include <memory>
#include <vector>

namespace corvex {

class Color;
class ColorMatrixView;
class ColorTheme;
class EditIdeaTabDelegate;
class HorizontalSelector;
class Layer;
class PlanetLayer;

// The editor's colour tab: a preview planet in the chosen colour (with six child planets in
// the colours a recolouring would give them, while one is asked for), the palette choice
// (classic or bright), the grid of the palette's colours, and the child-theme choice: first
// a "Define child theme" button, then "No change", "Varying" and "Same color".
// Construction in two phases: use create(). Main thread only.
class ColorSelectionTabView : public BaseView,
                              public HorizontalSelectorDelegate,
                              public ColorMatrixViewDelegate,
                              public EditIdeaViewSubordinate
{
public:
    static constexpr double PreferredHeight = 422.0;
    static constexpr int ChildPlanetCount = 6;

    ColorSelectionTabView();
    ~ColorSelectionTabView() override;
    static std::shared_ptr<ColorSelectionTabView> create();
    QString className() const override;

    void setDelegate(const std::shared_ptr<EditIdeaTabDelegate>& delegate) { mDelegate = delegate; }
    const std::shared_ptr<Color>& selectedColor() const { return mSelectedColor; }
    quint64 selectedColorThemeType() const { return mSelectedColorThemeType; }
    bool didRecolor() const { return mDidRecolor; }

    void setSelectedColor(const std::shared_ptr<Color>& color);
    void setSelectedColorThemeType(quint64 type) { changeSelectedColorThemeType(type, false); }
    void changeSelectedColorThemeType(quint64 type, bool animated);
    void setDidRecolor(bool recolor);
    void didSelectChildColorTheme(qint64 index);
    void doChangeColorMatrix(bool bright);

    const std::shared_ptr<HorizontalSelector>& ownThemeSelector() const { return mOwnThemeSelector; }
    const std::shared_ptr<HorizontalSelector>& childThemeSelector() const { return mChildThemeSelector; }
    const std::shared_ptr<ColorMatrixView>& colorSelector() const { return mColorSelector; }
    const std::shared_ptr<PlanetLayer>& mainPlanetLayer() const { return mMainPlanetLayer; }
    const std::vector<std::shared_ptr<PlanetLayer>>& childPlanetLayers() const { return mChildPlanetLayers; }
    const std::shared_ptr<Layer>& subPlanetLayer() const { return mSubPlanetLayer; }
    bool showsThreeOptions() const { return mUserHasClickedOnChildThemeDefinition; }

    // EditIdeaViewSubordinate
    void reloadFrom(EditIdeaViewController& controller, bool isInitialLoad) override;
    void storeValues(IdeaValues& values) const override;
    void activate() override;
    void deactivate() override {}
    double currentPreferredHeight() const override { return PreferredHeight; }

    void horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector, qint64 index) override;
    void handleColorSelection(const std::shared_ptr<Color>& color) override;
    void applyLayout() override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    void prepareColorTab();
    void ensureOwnThemeSelectorContents();
    void ensureChildThemeSelectorContents();
    void colorateChildPlanetsWith(const std::shared_ptr<ColorTheme>& theme);
    std::shared_ptr<ColorTheme> childTheme(quint64 type) const;

    std::shared_ptr<HorizontalSelector> mOwnThemeSelector;
    std::shared_ptr<ColorMatrixView> mColorSelector;
    std::shared_ptr<HorizontalSelector> mChildThemeSelector;
    bool mUserHasClickedOnChildThemeDefinition = false;
    quint64 mOriginalColorThemeType = 0;
    std::shared_ptr<Layer> mSubPlanetLayer;
    std::vector<std::shared_ptr<PlanetLayer>> mChildPlanetLayers;
    std::shared_ptr<PlanetLayer> mMainPlanetLayer;
    std::shared_ptr<Color> mSelectedColor;
    quint64 mSelectedColorThemeType = 0;
    bool mDidRecolor = false;
    std::weak_ptr<EditIdeaTabDelegate> mDelegate;
};

} // namespace corvex
