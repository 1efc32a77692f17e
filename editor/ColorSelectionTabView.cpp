#include "editor/ColorSelectionTabView.h"

#include "editor/ColorMatrixView.h"
#include "editor/EditIdeaTabDelegate.h"
#include "editor/EditIdeaViewController.h"
#include "mindmap/PlanetLayer.h"
#include "model/Color.h"
#include "model/ColorMatrix.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/IdeaValues.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "toolkit/HorizontalSelector.h"
#include "toolkit/ViewExtensions.h"

#include <cmath>

namespace corvex {

namespace {

const QString kExampleText = QStringLiteral("Example");

bool hasColorNamed(const ColorMatrix& matrix, const std::shared_ptr<Color>& color)
{
    return color && matrix.colorWithName(color->name()) != nullptr;
}

} // namespace

ColorSelectionTabView::ColorSelectionTabView() = default;
ColorSelectionTabView::~ColorSelectionTabView() = default;

std::shared_ptr<ColorSelectionTabView> ColorSelectionTabView::create()
{
    auto tab = BaseView::make<ColorSelectionTabView>();
    tab->prepareColorTab();
    return tab;
}

QString ColorSelectionTabView::className() const
{
    return QStringLiteral("ColorSelectionTabView");
}

void ColorSelectionTabView::prepareColorTab()
{
    const auto self = sharedAs<ColorSelectionTabView>();
    mChildThemeSelector = HorizontalSelector::create();
    mChildThemeSelector->setDelegate(std::static_pointer_cast<HorizontalSelectorDelegate>(self));
    addSubview(mChildThemeSelector);
    mColorSelector = ColorMatrixView::create(ColorMatrix::classicColorMatrix());
    mColorSelector->setDelegate(std::static_pointer_cast<ColorMatrixViewDelegate>(self));
    addSubview(mColorSelector);
    mOwnThemeSelector = HorizontalSelector::create();
    mOwnThemeSelector->setDelegate(std::static_pointer_cast<HorizontalSelectorDelegate>(self));
    addSubview(mOwnThemeSelector);

    mSubPlanetLayer = Layer::create();
    mSubPlanetLayer->setBackgroundColor(PlatformColor::white());
    mSubPlanetLayer->setContentsScale(Globals::screenScale());
    mSubPlanetLayer->setHidden(true);
    for (int i = 0; i < ChildPlanetCount; ++i) {
        auto planet = PlanetLayer::create(3);
        planet->setApproximateRendering(true);
        mSubPlanetLayer->addSublayer(planet);
        mChildPlanetLayers.push_back(std::move(planet));
    }
    mMainPlanetLayer = PlanetLayer::create(2);
    mMainPlanetLayer->setApproximateRendering(true);
    mMainPlanetLayer->setText(kExampleText);
    layer()->addSublayer(mSubPlanetLayer);
    layer()->addSublayer(mMainPlanetLayer);
    setNeedsDisplay(true);
}

void ColorSelectionTabView::reloadFrom(EditIdeaViewController& controller, bool isInitialLoad)
{
    if (isInitialLoad)
        mUserHasClickedOnChildThemeDefinition = false;
    const IdeaValues& values = controller.values();
    mOriginalColorThemeType = quint64(values.integer(IdeaMember::ColorThemeType));
    mMainPlanetLayer->setText(values.text(IdeaMember::Text));
    setSelectedColor(values.color(IdeaMember::Color));
    setDidRecolor(controller.didRecolor());
    ensureOwnThemeSelectorContents();
    ensureChildThemeSelectorContents();
    setSelectedColorThemeType(mOriginalColorThemeType);
    mColorSelector->selectColor(values.color(IdeaMember::Color));
}

void ColorSelectionTabView::storeValues(IdeaValues& values) const
{
    values.set(IdeaMember::Color, mSelectedColor);
    values.set(IdeaMember::ColorThemeType, qint64(mSelectedColorThemeType));
}

void ColorSelectionTabView::activate()
{
    mMainPlanetLayer->updateAppearance();
    mMainPlanetLayer->setNeedsDisplay();
}

std::shared_ptr<ColorTheme> ColorSelectionTabView::childTheme(quint64 type) const
{
    if (type == 0 || !mSelectedColor)
        return ColorTheme::unnamedThemeWithColor(mSelectedColor);
    return mSelectedColor->theme();
}

void ColorSelectionTabView::setSelectedColor(const std::shared_ptr<Color>& color)
{
    if (color == mSelectedColor)
        return;
    mSelectedColor = color;
    mMainPlanetLayer->setBaseColor(color);
    mMainPlanetLayer->setNeedsDisplay();
    colorateChildPlanetsWith(childTheme(mSelectedColorThemeType));
}

void ColorSelectionTabView::changeSelectedColorThemeType(quint64 type, bool)
{
    mSelectedColorThemeType = type;
    colorateChildPlanetsWith(childTheme(type));
    if (!mUserHasClickedOnChildThemeDefinition || mChildThemeSelector->numElements() < 3)
        return;
    if (!mDidRecolor)
        mChildThemeSelector->selectElement(0);
    else if (type == 0)
        mChildThemeSelector->selectElement(2);
    else if (type == 2)
        mChildThemeSelector->selectElement(1);
}

void ColorSelectionTabView::setDidRecolor(bool recolor)
{
    mDidRecolor = recolor;
    mSubPlanetLayer->setHidden(!recolor);
}

void ColorSelectionTabView::colorateChildPlanetsWith(const std::shared_ptr<ColorTheme>& theme)
{
    const std::size_t count = theme ? theme->colors().size() : 0;
    for (std::size_t i = 0; i < mChildPlanetLayers.size(); ++i) {
        mChildPlanetLayers[i]->setBaseColor(count ? theme->colors()[i % count] : nullptr);
        mChildPlanetLayers[i]->setNeedsDisplay();
    }
}

void ColorSelectionTabView::ensureOwnThemeSelectorContents()
{
    mOwnThemeSelector->reset();
    mOwnThemeSelector->addElement(Globals::normalUppercaseStringForKey(
        QStringLiteral("ColorPalette.CorvexClassics"), QStringLiteral("Corvex Classics")));
    mOwnThemeSelector->addElement(Globals::normalUppercaseStringForKey(
        QStringLiteral("ColorPalette.BrightColors"), QStringLiteral("Bright Colors")));
    const bool bright = hasColorNamed(ColorMatrix::brightColorMatrix(), mSelectedColor);
    mOwnThemeSelector->selectElement(bright ? 1 : 0);
    doChangeColorMatrix(bright);
}

void ColorSelectionTabView::ensureChildThemeSelectorContents()
{
    mChildThemeSelector->reset();
    if (!mUserHasClickedOnChildThemeDefinition) {
        mChildThemeSelector->addElement(Globals::normalUppercaseStringForKey(
            QStringLiteral("ChildThemeButton:Title"), QStringLiteral("Define child theme")));
    } else {
        mChildThemeSelector->addElement(Globals::normalUppercaseStringForKey(
            QStringLiteral("ThemeOption.NoChange"), QStringLiteral("No change")));
        mChildThemeSelector->addElement(Globals::normalUppercaseStringForKey(
            QStringLiteral("ThemeOption.Varying"), QStringLiteral("Varying")));
        mChildThemeSelector->addElement(Globals::normalUppercaseStringForKey(
            QStringLiteral("ThemeOption.SameColor"), QStringLiteral("Same color")));
    }
    mChildThemeSelector->selectElement(0);
}

void ColorSelectionTabView::doChangeColorMatrix(bool bright)
{
    const ColorMatrix& matrix = bright ? ColorMatrix::brightColorMatrix() : ColorMatrix::classicColorMatrix();
    if (mColorSelector)
        mColorSelector->removeFromSuperview();
    mColorSelector = ColorMatrixView::create(matrix);
    mColorSelector->setDelegate(
        std::static_pointer_cast<ColorMatrixViewDelegate>(sharedAs<ColorSelectionTabView>()));
    if (hasColorNamed(matrix, mSelectedColor))
        mColorSelector->selectColor(mSelectedColor);
    addSubview(mColorSelector, View::Ordering::Above, mChildThemeSelector.get());
    forceDirtyLayout();
}

void ColorSelectionTabView::horizontalSelectorSelectedElementAtIndex(HorizontalSelector& selector,
                                                                     qint64 index)
{
    if (&selector == mChildThemeSelector.get())
        didSelectChildColorTheme(index);
    else if (&selector == mOwnThemeSelector.get())
        doChangeColorMatrix(index == 1);
}

void ColorSelectionTabView::didSelectChildColorTheme(qint64 index)
{
    if (!mUserHasClickedOnChildThemeDefinition) {
        if (index == 0) {
            mUserHasClickedOnChildThemeDefinition = true;
            ensureChildThemeSelectorContents();
        }
    } else if (index == 0) {
        setDidRecolor(false);
        setSelectedColorThemeType(mOriginalColorThemeType);
    } else if (index == 1) {
        setDidRecolor(true);
        setSelectedColorThemeType(2);
    } else if (index == 2) {
        setDidRecolor(true);
        setSelectedColorThemeType(0);
    }
    if (const auto delegate = mDelegate.lock())
        delegate->didMakeChanges();
}

void ColorSelectionTabView::handleColorSelection(const std::shared_ptr<Color>& color)
{
    setSelectedColor(color);
    if (const auto delegate = mDelegate.lock())
        delegate->didMakeChanges();
}

void ColorSelectionTabView::applyLayout()
{
    BaseView::applyLayout();
    const double w = bounds().size.width;
    const double h = bounds().size.height;
    mChildThemeSelector->setFrame(Rect(15, h - 52, w - 30, 27));
    mColorSelector->setFrameSizeForWidth(w);
    mColorSelector->setFrameOrigin(
        Point(0, mChildThemeSelector->frame().minY() - mColorSelector->frame().size.height));
    mOwnThemeSelector->setFrame(Rect(15, mColorSelector->frame().minY() - 27, w - 30, 27));
    const double top = mOwnThemeSelector->frame().minY();
    mSubPlanetLayer->setFrame(Rect(0, 0, w, top));
    const Point c(w / 2, top / 2);
    for (std::size_t i = 0; i < mChildPlanetLayers.size(); ++i) {
        const double a = double(i) * 2 * M_PI / 6 - M_PI / 2 + M_PI / 6;
        const auto angle = float(a);
        mChildPlanetLayers[i]->setPosition(
            Point(c.x + std::round(60 * std::cos(angle)), c.y + std::round(60 * std::sin(angle))));
    }
    mMainPlanetLayer->setPosition(c);
    mMainPlanetLayer->setNeedsDisplay();
}

void ColorSelectionTabView::drawRect(const Rect& dirtyRect, GraphicsContext& context)
{
    context.setFillColor(PlatformColor::white());
    context.fillRect(dirtyRect);
}

} // namespace corvex
