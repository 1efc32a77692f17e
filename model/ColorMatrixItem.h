#pragma once

#include "model/Color.h"

#include <cstddef>

namespace corvex {

// One cell of a colour grid: its row, its column and its colour (possibly none).
class ColorMatrixItem
{
public:
    ColorMatrixItem() = default;
    ColorMatrixItem(ColorPtr color, std::size_t row, std::size_t col)
        : mColor(std::move(color)), mRow(row), mCol(col)
    {}

    std::size_t row() const { return mRow; }
    void setRow(std::size_t row) { mRow = row; }
    std::size_t col() const { return mCol; }
    void setCol(std::size_t col) { mCol = col; }
    const ColorPtr& color() const { return mColor; }
    void setColor(ColorPtr color) { mColor = std::move(color); }

private:
    ColorPtr mColor;
    std::size_t mRow = 0;
    std::size_t mCol = 0;
};

} // namespace corvex
