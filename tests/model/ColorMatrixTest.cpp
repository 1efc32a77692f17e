#include "model/ColorMatrix.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(ColorMatrix, ClassicGridHoldsTheStandardThemesRowByRow)
{
    const ColorMatrix& grid = ColorMatrix::classicColorMatrix();
    ASSERT_EQ(grid.rows(), 4u);
    ASSERT_EQ(grid.columns(), 7u);
    const ColorMatrixItem* item = grid.itemAtRow(2, 3);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->color());
    EXPECT_EQ(item->color()->name(), "red3");
    EXPECT_EQ(item->row(), 2u);
    EXPECT_EQ(item->col(), 3u);
    for (std::size_t r = 0; r < grid.rows(); ++r) {
        for (std::size_t c = 0; c < grid.columns(); ++c) {
            const ColorMatrixItem* cell = grid.itemAtRow(r, c);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->row(), r);
            EXPECT_EQ(cell->col(), c);
            EXPECT_EQ(cell->color(), ColorTheme::standardThemes()[r]->colors()[c]) << r << "," << c;
        }
    }
    EXPECT_EQ(&ColorMatrix::classicColorMatrix(), &grid);
}

TEST(ColorMatrix, BrightGridHoldsTheBrightThemes)
{
    const ColorMatrix& grid = ColorMatrix::brightColorMatrix();
    ASSERT_EQ(grid.rows(), 4u);
    ASSERT_EQ(grid.columns(), 7u);
    EXPECT_EQ(grid.itemAtRow(0, 0)->color()->name(), "bright1_1");
    EXPECT_EQ(grid.itemAtRow(3, 6)->color()->name(), "bright4_7");
    EXPECT_EQ(grid.itemAtRow(1, 4)->color()->name(), "bright2_5");
    EXPECT_EQ(&ColorMatrix::brightColorMatrix(), &grid);
    EXPECT_NE(&ColorMatrix::classicColorMatrix(), &grid);
}

TEST(ColorMatrix, FindsColoursByNameAndByIdentity)
{
    const ColorMatrix& classic = ColorMatrix::classicColorMatrix();
    EXPECT_EQ(classic.colorWithName("blue5"), ColorTheme::colorByName("blue5"));
    EXPECT_EQ(classic.colorWithName("bright1_1"), nullptr);
    EXPECT_EQ(classic.colorWithName("nope"), nullptr);
    EXPECT_EQ(classic.colorWithName(QString()), nullptr);

    const ColorMatrixItem* found = classic.findColor(ColorTheme::colorByName("violet4"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->row(), 3u);
    EXPECT_EQ(found->col(), 4u);
    EXPECT_EQ(classic.findColor(nullptr), nullptr);
    EXPECT_EQ(classic.findColor(ColorTheme::colorByName("bright2_2")), nullptr);
    const ColorPtr lookalike = Color::withHSV("violet4", ColorTheme::colorByName("violet4")->hsva());
    EXPECT_EQ(classic.findColor(lookalike), nullptr);
}

TEST(ColorMatrix, NewGridHasEmptyCellsWithTheirPositions)
{
    ColorMatrix grid(2, 3);
    EXPECT_EQ(grid.rows(), 2u);
    EXPECT_EQ(grid.columns(), 3u);
    for (std::size_t r = 0; r < 2; ++r) {
        for (std::size_t c = 0; c < 3; ++c) {
            ASSERT_NE(grid.itemAtRow(r, c), nullptr);
            EXPECT_EQ(grid.itemAtRow(r, c)->color(), nullptr);
            EXPECT_EQ(grid.itemAtRow(r, c)->row(), r);
            EXPECT_EQ(grid.itemAtRow(r, c)->col(), c);
        }
    }
    // The cell of row r, column c is the one at r x columns + c: setting (1, 0) must not
    // land on (0, 1) or (0, 2).
    const ColorPtr green2 = ColorTheme::colorByName("green2");
    grid.setColor(green2, 1, 0);
    EXPECT_EQ(grid.itemAtRow(1, 0)->color(), green2);
    EXPECT_EQ(grid.itemAtRow(0, 1)->color(), nullptr);
    EXPECT_EQ(grid.itemAtRow(0, 2)->color(), nullptr);
    EXPECT_EQ(grid.colorWithName("green2"), green2);
    EXPECT_EQ(grid.findColor(green2), grid.itemAtRow(1, 0));
}

TEST(ColorMatrix, PositionsOutsideTheGridAnswerNothingAndChangeNothing)
{
    ColorMatrix grid(2, 3);
    EXPECT_EQ(grid.itemAtRow(2, 0), nullptr);
    EXPECT_EQ(grid.itemAtRow(0, 3), nullptr);
    EXPECT_EQ(grid.itemAtRow(SIZE_MAX, SIZE_MAX), nullptr);
    grid.setColor(ColorTheme::colorByName("red0"), 0, 3);
    grid.setColor(ColorTheme::colorByName("red0"), 5, 5);
    EXPECT_EQ(grid.colorWithName("red0"), nullptr);

    ColorMatrix empty(0, 0);
    EXPECT_EQ(empty.itemAtRow(0, 0), nullptr);
    EXPECT_EQ(empty.colorWithName("red0"), nullptr);
    ColorMatrix noColumns(5, 0);
    EXPECT_EQ(noColumns.itemAtRow(0, 0), nullptr);
}

TEST(ColorMatrix, RefusesASizeWhoseCellCountOverflows)
{
    test::LogCapture log;
    ColorMatrix huge(SIZE_MAX / 2, 4);
    EXPECT_EQ(huge.rows(), 0u);
    EXPECT_EQ(huge.columns(), 0u);
    EXPECT_EQ(huge.itemAtRow(0, 0), nullptr);
    EXPECT_TRUE(log.contains("ERROR: Assertion failure: ColorMatrix"))
        << log.lines().join('\n').toStdString();
}

TEST(ColorMatrix, GridOfThemesTakesColumnsFromTheFirstTheme)
{
    auto first = ColorTheme::create("first");
    first->addColor(ColorTheme::colorByName("red0"));
    first->addColor(ColorTheme::colorByName("red1"));
    auto longer = ColorTheme::create("longer");
    for (const char* name : {"blue0", "blue1", "blue2"})
        longer->addColor(ColorTheme::colorByName(name));
    auto shorter = ColorTheme::create("shorter");
    shorter->addColor(ColorTheme::colorByName("green0"));

    const ColorMatrix grid = ColorMatrix::fromThemes({first, longer, shorter});
    ASSERT_EQ(grid.rows(), 3u);
    ASSERT_EQ(grid.columns(), 2u);
    EXPECT_EQ(grid.itemAtRow(1, 1)->color()->name(), "blue1");
    EXPECT_EQ(grid.colorWithName("blue2"), nullptr);
    EXPECT_EQ(grid.itemAtRow(2, 0)->color()->name(), "green0");
    EXPECT_EQ(grid.itemAtRow(2, 1)->color(), nullptr);

    const ColorMatrix none = ColorMatrix::fromThemes({});
    EXPECT_EQ(none.rows(), 0u);
    EXPECT_EQ(none.columns(), 0u);
}

TEST(ColorMatrix, NamesTheColourThemeTypes)
{
    EXPECT_EQ(ColorMatrix::stringFromColorThemeType(0), "ColorThemeTypeSameColor");
    EXPECT_EQ(ColorMatrix::stringFromColorThemeType(ColorThemeTypeLighterColor),
              "ColorThemeTypeLighterColor");
    EXPECT_EQ(ColorMatrix::stringFromColorThemeType(2), "ColorThemeTypeVaryingColors");
    EXPECT_EQ(ColorMatrix::stringFromColorThemeType(3), "UNKNOWN_COLOR_THEME_TYPE");
    EXPECT_EQ(ColorMatrix::stringFromColorThemeType(UINT64_MAX), "UNKNOWN_COLOR_THEME_TYPE");
}

TEST(ColorMatrixItem, KeepsWhatItIsGiven)
{
    ColorMatrixItem item(ColorTheme::colorByName("blue0"), 4, 5);
    EXPECT_EQ(item.color()->name(), "blue0");
    EXPECT_EQ(item.row(), 4u);
    EXPECT_EQ(item.col(), 5u);
    item.setRow(1);
    item.setCol(2);
    item.setColor(nullptr);
    EXPECT_EQ(item.row(), 1u);
    EXPECT_EQ(item.col(), 2u);
    EXPECT_EQ(item.color(), nullptr);
}
