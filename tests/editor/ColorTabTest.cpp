// The colour tab rendered in its popover: discs in their cells' colours, the grey ring of the
// highlighted one, the palette and child-theme choices, and grids that cannot be drawn.

#include "editor/ColorMatrixView.h"
#include "editor/ColorSelectionTabView.h"
#include "editor/IconImageCollection.h"
#include "mindmap/PlanetLayer.h"
#include "model/Color.h"
#include "model/ColorMatrix.h"
#include "model/ColorTheme.h"
#include "platform/ui/Popover.h"
#include "platform/ui/Window.h"
#include "tests/editor/EditorTestSupport.h"
#include "toolkit/HorizontalSelector.h"
#include "toolkit/HorizontalSelectorButton.h"

#include <QColor>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

struct ColourTab : WindowEditor
{
    explicit ColourTab(const ColorPtr& colour, quint64 themeType = 1) : WindowEditor(QByteArray())
    {
        editor->editedValues().set(IdeaMember::Text, QStringLiteral("Colours"));
        editor->editedValues().set(IdeaMember::Color, colour);
        editor->editedValues().set(IdeaMember::ColorThemeType, qint64(themeType));
        show();
        selectTab(1);
        tab = editor->colorTabView();
        pw = popoverWindow(*editor);
    }
    // The pixel under a point of the grid view.
    QColor pixelAt(const QImage& image, Point inGrid) const
    {
        const Point base = tab->colorSelector()->convertPointToView(inGrid, nullptr);
        return image.pixelColor(int(base.x), int(pw->contentSize().height - base.y));
    }

    std::shared_ptr<ColorSelectionTabView> tab;
    Window* pw = nullptr;
};

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(ColorTab, DiscsShowTheirCellsColoursAndTheHighlightedOneARing)
{
    const ColorMatrix& classic = ColorMatrix::classicColorMatrix();
    ColourTab c(classic.itemAtRow(1, 4)->color());
    ASSERT_TRUE(c.tab && c.pw);
    EXPECT_TRUE(c.tab->ownThemeSelector()->elements()[0]->toggled())
        << "a classic colour opens the classic grid";
    const QImage image = renderPopover(*c.editor, QStringLiteral("colour_tab_classic"));
    ASSERT_FALSE(image.isNull());
    const auto& grid = c.tab->colorSelector();
    EXPECT_EQ(grid->frame(), Rect(0, 172, 320, 198));
    for (std::size_t r = 0; r < classic.rows(); ++r) {
        for (std::size_t col = 0; col < classic.columns(); ++col) {
            const QColor expected = classic.itemAtRow(r, col)->color()->uiColor().toQColor();
            EXPECT_TRUE(near(c.pixelAt(image, grid->discCentre(r, col)), expected)) << r << "," << col;
        }
    }
    const Point highlighted = grid->discCentre(1, 4);
    EXPECT_TRUE(near(c.pixelAt(image, Point(highlighted.x + 13.5, highlighted.y)), QColor(77, 77, 77)));
    // No ring around the others.
    const Point plain = grid->discCentre(1, 3);
    EXPECT_TRUE(near(c.pixelAt(image, Point(plain.x + 13.5, plain.y)), Qt::white));
}

TEST(ColorTab, ABrightDiscClickedBecomesTheSelectedColour)
{
    const ColorMatrix& bright = ColorMatrix::brightColorMatrix();
    ColourTab c(ColorMatrix::classicColorMatrix().itemAtRow(0, 0)->color());
    clickAt(*c.pw, centreOf(*c.tab->ownThemeSelector()->elements()[1]), &c.time);
    ASSERT_EQ(c.tab->colorSelector()->matrix().colorWithName(bright.itemAtRow(0, 0)->color()->name()),
              bright.itemAtRow(0, 0)->color());
    EXPECT_FALSE(c.tab->colorSelector()->highlightedColor()) << "the bright grid does not hold the colour";
    const auto& grid = c.tab->colorSelector();
    clickAt(*c.pw, grid->convertPointToView(grid->discCentre(3, 6), nullptr), &c.time);
    EXPECT_EQ(c.tab->selectedColor()->name(), bright.itemAtRow(3, 6)->color()->name());
    EXPECT_EQ(c.editor->values().color(IdeaMember::Color)->name(), bright.itemAtRow(3, 6)->color()->name());
    renderPopover(*c.editor, QStringLiteral("colour_tab_bright"));
    // A click right of the last disc and below the last row takes the last cell.
    clickAt(*c.pw, grid->convertPointToView(Point(319, 197), nullptr), &c.time);
    EXPECT_EQ(c.tab->selectedColor()->name(), bright.itemAtRow(3, 6)->color()->name());
}

TEST(ColorTab, ChildThemeChoicesRecolourThePreview)
{
    const ColorPtr colour = ColorMatrix::classicColorMatrix().itemAtRow(2, 2)->color();
    ColourTab c(colour, 1);
    EXPECT_TRUE(c.tab->subPlanetLayer()->isHidden());
    c.tab->didSelectChildColorTheme(0); // "Define child theme"
    EXPECT_TRUE(c.tab->showsThreeOptions());
    EXPECT_FALSE(c.editor->didChange()) << "defining alone changes nothing";
    c.tab->didSelectChildColorTheme(2); // "Same color"
    for (const auto& child : c.tab->childPlanetLayers())
        EXPECT_EQ(child->baseColor()->name(), colour->name());
    c.tab->didSelectChildColorTheme(1); // "Varying"
    const auto& colours = colour->theme()->colors();
    for (std::size_t i = 0; i < c.tab->childPlanetLayers().size(); ++i)
        EXPECT_EQ(c.tab->childPlanetLayers()[i]->baseColor()->name(), colours[i % colours.size()]->name());
    EXPECT_TRUE(c.editor->didChange());
    c.tab->didSelectChildColorTheme(0); // "No change": back to type 1, no recolouring
    EXPECT_EQ(quint64(c.editor->values().integer(IdeaMember::ColorThemeType)), 1u);
    EXPECT_FALSE(c.editor->didRecolor());
    EXPECT_TRUE(c.tab->subPlanetLayer()->isHidden());
}

TEST(ColorTab, GridsOfOneColumnOrNoRowsDrawAndPickNothing)
{
    ScopedVirtualTime time;
    ColorMatrix oneColumn(4, 1);
    oneColumn.setColor(ColorMatrix::classicColorMatrix().itemAtRow(0, 0)->color(), 0, 0);
    for (const ColorMatrix& matrix : {oneColumn, ColorMatrix(0, 7)}) {
        auto window = Window::create(Size(320, 300));
        auto grid = ColorMatrixView::create(matrix);
        window->setContentView(grid);
        grid->setFrameSizeForWidth(320);
        EXPECT_TRUE(std::isfinite(grid->frame().size.height));
        EXPECT_FALSE(grid->isDrawable());
        const QImage image = window->renderToImage(1.0);
        EXPECT_FALSE(image.isNull());
        window->sendEvent(Event::mouseDown(Point(10, 10)));
        window->sendEvent(Event::mouseUp(Point(10, 10)));
        EXPECT_FALSE(grid->highlightedColor());
        window->close();
    }
}

} // namespace
} // namespace corvex::test
