#pragma once

#include <QSizeF>

namespace corvex {

// A size in double precision; may be negative.
struct Size
{
    double width = 0;
    double height = 0;

    constexpr Size() = default;
    constexpr Size(double w, double h) : width(w), height(h) {}

    static Size fromQSizeF(const QSizeF& s) { return {s.width(), s.height()}; }
    QSizeF toQSizeF() const { return {width, height}; }

    friend constexpr bool operator==(Size a, Size b) { return a.width == b.width && a.height == b.height; }
};

} // namespace corvex
