#pragma once

#include "model/ColorMatrixItem.h"
#include "model/ColorTheme.h"
#include "model/ColorThemeType.h"

#include <QString>
#include <cstddef>
#include <memory>
#include <vector>

namespace corvex {

// A grid of colours as the idea editor shows them: one row per theme, one column per colour.
// Items are kept row by row (row r, column c at index r x columns + c).
//
// The two shared grids are built once (thread-safe) and handed out as const: they never
// change afterwards and may be read from any thread.
class ColorMatrix
{
public:
    // Largest number of cells a grid may have; a larger request makes an empty grid.
    static constexpr std::size_t MaxItems = 1 << 20;

    // rows x columns items, each with no colour and its row and column set.
    ColorMatrix(std::size_t rows, std::size_t columns);

    std::size_t rows() const { return mRows; }
    std::size_t columns() const { return mColumns; }

    // nullptr outside the grid.
    ColorMatrixItem* itemAtRow(std::size_t row, std::size_t col);
    const ColorMatrixItem* itemAtRow(std::size_t row, std::size_t col) const;
    // Outside the grid nothing happens.
    void setColor(const ColorPtr& color, std::size_t row, std::size_t col);

    // The colour of the first item, row by row, whose colour has that name; nullptr when none.
    ColorPtr colorWithName(const QString& name) const;
    // The first item whose colour is that very object (identity, not name); nullptr when
    // none or when `color` is nullptr.
    const ColorMatrixItem* findColor(const ColorPtr& color) const;

    // The standard themes' grid and the bright themes' grid (4 x 7 each).
    static const ColorMatrix& classicColorMatrix();
    static const ColorMatrix& brightColorMatrix();

    // "ColorThemeTypeSameColor", "ColorThemeTypeLighterColor", "ColorThemeTypeVaryingColors";
    // any other value "UNKNOWN_COLOR_THEME_TYPE".
    static QString stringFromColorThemeType(ColorThemeType type);

    // A grid of the themes: rows = the number of themes, columns = the colour count of the
    // first theme; row r holds as many of theme r's colours as both it and the first have.
    static ColorMatrix fromThemes(const std::vector<std::shared_ptr<ColorTheme>>& themes);

private:
    std::size_t mRows = 0;
    std::size_t mColumns = 0;
    std::vector<ColorMatrixItem> mItems;
};

} // namespace corvex
