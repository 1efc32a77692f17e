#include "model/ColorMatrix.h"

#include "platform/core/Log.h"

#include <algorithm>

namespace corvex {

ColorMatrix::ColorMatrix(std::size_t rows, std::size_t columns)
{
    // Refuse sizes whose product overflows or would allocate absurdly, instead of wrapping.
    if (rows != 0 && columns > MaxItems / rows) {
        Log::assertionFailure(QStringLiteral("ColorMatrix: grid of %1 x %2 refused").arg(rows).arg(columns));
        return;
    }
    mRows = rows;
    mColumns = columns;
    mItems.reserve(rows * columns);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c)
            mItems.emplace_back(nullptr, r, c);
    }
}

ColorMatrixItem* ColorMatrix::itemAtRow(std::size_t row, std::size_t col)
{
    if (row >= mRows || col >= mColumns)
        return nullptr;
    return &mItems[row * mColumns + col];
}

const ColorMatrixItem* ColorMatrix::itemAtRow(std::size_t row, std::size_t col) const
{
    return const_cast<ColorMatrix*>(this)->itemAtRow(row, col);
}

void ColorMatrix::setColor(const ColorPtr& color, std::size_t row, std::size_t col)
{
    if (ColorMatrixItem* item = itemAtRow(row, col))
        item->setColor(color);
}

ColorPtr ColorMatrix::colorWithName(const QString& name) const
{
    for (const ColorMatrixItem& item : mItems) {
        if (item.color() && item.color()->name() == name)
            return item.color();
    }
    return nullptr;
}

const ColorMatrixItem* ColorMatrix::findColor(const ColorPtr& color) const
{
    if (!color)
        return nullptr;
    const auto found = std::find_if(mItems.begin(), mItems.end(),
                                    [&](const ColorMatrixItem& item) { return item.color() == color; });
    return found == mItems.end() ? nullptr : &*found;
}

ColorMatrix ColorMatrix::fromThemes(const std::vector<std::shared_ptr<ColorTheme>>& themes)
{
    const std::size_t columns = themes.empty() || !themes.front() ? 0 : themes.front()->colors().size();
    ColorMatrix matrix(themes.size(), columns);
    for (std::size_t r = 0; r < matrix.rows(); ++r) {
        if (!themes[r])
            continue;
        const auto& colors = themes[r]->colors();
        const std::size_t count = std::min(colors.size(), matrix.columns());
        for (std::size_t c = 0; c < count; ++c)
            matrix.setColor(colors[c], r, c);
    }
    return matrix;
}

const ColorMatrix& ColorMatrix::classicColorMatrix()
{
    // Never destroyed, like the colour table it points into.
    static const ColorMatrix* const matrix = new ColorMatrix(fromThemes(ColorTheme::standardThemes()));
    return *matrix;
}

const ColorMatrix& ColorMatrix::brightColorMatrix()
{
    static const ColorMatrix* const matrix = new ColorMatrix(fromThemes(ColorTheme::brightColorThemes()));
    return *matrix;
}

QString ColorMatrix::stringFromColorThemeType(ColorThemeType type)
{
    switch (type) {
    case ColorThemeTypeSameColor:
        return QStringLiteral("ColorThemeTypeSameColor");
    case ColorThemeTypeLighterColor:
        return QStringLiteral("ColorThemeTypeLighterColor");
    case ColorThemeTypeVaryingColors:
        return QStringLiteral("ColorThemeTypeVaryingColors");
    default:
        return QStringLiteral("UNKNOWN_COLOR_THEME_TYPE");
    }
}

} // namespace corvex
