#pragma once

#include "platform/gfx/Point.h"
#include "platform/gfx/Size.h"

#include <QRectF>
#include <QString>

namespace corvex {

// A rectangle: an origin and a size that may be negative; the geometric accessors work on
// the standardised form (non-negative size). The null rectangle (infinite origin) is what
// an empty intersection answers.
struct Rect
{
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double w, double h) : origin(x, y), size(w, h) {}

    static Rect null();
    static Rect infinite();
    static Rect fromQRectF(const QRectF& r) { return {r.x(), r.y(), r.width(), r.height()}; }
    QRectF toQRectF() const; // of the standardised rectangle

    double minX() const;
    double midX() const;
    double maxX() const;
    double minY() const;
    double midY() const;
    double maxY() const;
    double width() const;  // absolute
    double height() const; // absolute

    bool isNull() const;
    bool isEmpty() const; // null, or a zero width or height
    bool isInfinite() const;

    Rect standardized() const;
    // Outward to whole numbers: the smallest integral rectangle that contains this one.
    Rect integral() const;
    // Moves the edges in by dx and dy (negative grows); a result with a negative side is null.
    Rect insetBy(double dx, double dy) const;
    Rect offsetBy(double dx, double dy) const;
    Rect intersection(const Rect& other) const; // null when they do not meet
    Rect unionWith(const Rect& other) const;
    bool intersects(const Rect& other) const;
    // A point on the min edges is inside, one on the max edges is not.
    bool contains(Point p) const;
    bool contains(const Rect& other) const;

    friend bool operator==(const Rect& a, const Rect& b) { return a.origin == b.origin && a.size == b.size; }
};

// The text forms "{x, y}", "{w, h}" and "{{x, y}, {w, h}}" with the shortest numbers that read
// back to the same doubles. The readers are tolerant: they take the numbers in order and
// answer zero for what is missing or unreadable.
QString toString(Point p);
QString toString(Size s);
QString toString(const Rect& r);
Point pointFromString(const QString& text);
Size sizeFromString(const QString& text);
Rect rectFromString(const QString& text);

} // namespace corvex
