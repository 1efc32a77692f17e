#pragma once

#include <QtGlobal>
#include <cstddef>
#include <functional>

namespace corvex {

// The key of one tile of a tiled view: row and column from the content origin, rows down,
// columns right.
struct GridCoordinate
{
    qint32 row = 0;
    qint32 col = 0;

    friend bool operator==(const GridCoordinate& a, const GridCoordinate& b) = default;
    // 32-bit row + col, wrapping.
    quint32 hash() const { return quint32(row) + quint32(col); }
};

// A block of tiles, all bounds inclusive; empty when the last row is below the first.
struct GridPortion
{
    qint32 firstRow = 0;
    qint32 lastRow = -1;
    qint32 firstColumn = 0;
    qint32 lastColumn = -1;

    bool contains(const GridCoordinate& c) const
    {
        return firstRow <= c.row && c.row <= lastRow && firstColumn <= c.col && c.col <= lastColumn;
    }
    bool isEmpty() const { return lastRow < firstRow || lastColumn < firstColumn; }
    friend bool operator==(const GridPortion& a, const GridPortion& b) = default;
};

struct GridCoordinateHash
{
    std::size_t operator()(const GridCoordinate& c) const { return c.hash(); }
};

} // namespace corvex
