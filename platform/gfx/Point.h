#pragma once

#include <QPointF>

namespace corvex {

// A point in double precision.
struct Point
{
    double x = 0;
    double y = 0;

    constexpr Point() = default;
    constexpr Point(double px, double py) : x(px), y(py) {}

    static Point fromQPointF(const QPointF& p) { return {p.x(), p.y()}; }
    QPointF toQPointF() const { return {x, y}; }

    constexpr Point operator+(Point o) const { return {x + o.x, y + o.y}; }
    constexpr Point operator-(Point o) const { return {x - o.x, y - o.y}; }
    friend constexpr bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }
};

} // namespace corvex
