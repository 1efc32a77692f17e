#include "platform/gfx/Rect.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace corvex {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();

// The infinite rectangle: half the largest value either side of zero.
constexpr Rect kInfinite(-kMax / 2, -kMax / 2, kMax, kMax);

QString number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The numbers of `text` in order, at most `wanted` of them. A number is an optional sign,
// digits with an optional fraction (or a fraction alone) and an optional exponent; anything
// else is skipped. Values that do not fit a finite double read as 0.
int scanNumbers(const QString& text, double* out, int wanted)
{
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    int found = 0;
    while (p < end && found < wanted) {
        const char* start = p;
        const char* q = p;
        bool negative = false;
        if (*q == '+' || *q == '-') {
            negative = *q == '-';
            ++q;
        }
        const char* digits = q;
        while (q < end && isDigit(*q))
            ++q;
        bool any = q > digits;
        if (q < end && *q == '.') {
            const char* fraction = ++q;
            while (q < end && isDigit(*q))
                ++q;
            any = any || q > fraction;
        }
        if (!any) {
            // "inf" and "nan" (what the writers give for non-finite values) hold their place as 0.
            const qsizetype left = end - q;
            if (left >= 3 && (qstrnicmp(q, "inf", 3) == 0 || qstrnicmp(q, "nan", 3) == 0)) {
                out[found++] = 0;
                p = q + 3;
                while (p < end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
                    ++p;
                continue;
            }
            p = start + 1;
            continue;
        }
        if (q < end && (*q == 'e' || *q == 'E')) {
            const char* e = q + 1;
            if (e < end && (*e == '+' || *e == '-'))
                ++e;
            if (e < end && isDigit(*e)) {
                while (e < end && isDigit(*e))
                    ++e;
                q = e;
            }
        }
        double value = 0;
        // from_chars takes no leading '+' and is independent of the C locale.
        const auto result = std::from_chars(digits, q, value, std::chars_format::general);
        if (result.ec != std::errc() || !std::isfinite(value))
            value = 0;
        out[found++] = negative ? -value : value;
        p = q;
    }
    return found;
}

} // namespace

Rect Rect::null()
{
    return Rect(kInf, kInf, 0, 0);
}

Rect Rect::infinite()
{
    return kInfinite;
}

QRectF Rect::toQRectF() const
{
    const Rect r = standardized();
    return QRectF(r.origin.x, r.origin.y, r.size.width, r.size.height);
}

double Rect::minX() const
{
    const Rect r = standardized();
    return r.origin.x;
}

double Rect::midX() const
{
    const Rect r = standardized();
    return r.origin.x + r.size.width / 2;
}

double Rect::maxX() const
{
    const Rect r = standardized();
    return r.origin.x + r.size.width;
}

double Rect::minY() const
{
    const Rect r = standardized();
    return r.origin.y;
}

double Rect::midY() const
{
    const Rect r = standardized();
    return r.origin.y + r.size.height / 2;
}

double Rect::maxY() const
{
    const Rect r = standardized();
    return r.origin.y + r.size.height;
}

double Rect::width() const
{
    return std::fabs(size.width);
}

double Rect::height() const
{
    return std::fabs(size.height);
}

bool Rect::isNull() const
{
    return origin.x == kInf || origin.y == kInf;
}

bool Rect::isEmpty() const
{
    return isNull() || size.width == 0 || size.height == 0;
}

bool Rect::isInfinite() const
{
    return *this == kInfinite;
}

Rect Rect::standardized() const
{
    if (isNull())
        return null();
    Rect r = *this;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

Rect Rect::integral() const
{
    if (isNull() || isInfinite())
        return *this;
    const Rect r = standardized();
    const double x0 = std::floor(r.origin.x);
    const double y0 = std::floor(r.origin.y);
    const double x1 = std::ceil(r.origin.x + r.size.width);
    const double y1 = std::ceil(r.origin.y + r.size.height);
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::insetBy(double dx, double dy) const
{
    if (isNull())
        return null();
    Rect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0)
        return null();
    return r;
}

Rect Rect::offsetBy(double dx, double dy) const
{
    if (isNull())
        return null();
    Rect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    return r;
}

Rect Rect::intersection(const Rect& other) const
{
    if (isNull() || other.isNull())
        return null();
    const Rect a = standardized();
    const Rect b = other.standardized();
    const double x0 = std::max(a.minX(), b.minX());
    const double y0 = std::max(a.minY(), b.minY());
    const double x1 = std::min(a.maxX(), b.maxX());
    const double y1 = std::min(a.maxY(), b.maxY());
    // Rectangles that only share an edge meet in a rectangle of zero width or height.
    if (x1 < x0 || y1 < y0)
        return null();
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect Rect::unionWith(const Rect& other) const
{
    if (isNull())
        return other.standardized();
    if (other.isNull())
        return standardized();
    const double x0 = std::min(minX(), other.minX());
    const double y0 = std::min(minY(), other.minY());
    const double x1 = std::max(maxX(), other.maxX());
    const double y1 = std::max(maxY(), other.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

bool Rect::intersects(const Rect& other) const
{
    return !intersection(other).isEmpty();
}

bool Rect::contains(Point p) const
{
    if (isNull())
        return false;
    const Rect r = standardized();
    return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

bool Rect::contains(const Rect& other) const
{
    if (isNull() || other.isNull())
        return false;
    const Rect a = standardized();
    const Rect b = other.standardized();
    return b.minX() >= a.minX() && b.maxX() <= a.maxX() && b.minY() >= a.minY() && b.maxY() <= a.maxY();
}

QString toString(Point p)
{
    return QLatin1Char('{') + number(p.x) + QLatin1String(", ") + number(p.y) + QLatin1Char('}');
}

QString toString(Size s)
{
    return QLatin1Char('{') + number(s.width) + QLatin1String(", ") + number(s.height) + QLatin1Char('}');
}

QString toString(const Rect& r)
{
    return QLatin1Char('{') + toString(r.origin) + QLatin1String(", ") + toString(r.size) + QLatin1Char('}');
}

Point pointFromString(const QString& text)
{
    double v[2] = {0, 0};
    scanNumbers(text, v, 2);
    return Point(v[0], v[1]);
}

Size sizeFromString(const QString& text)
{
    double v[2] = {0, 0};
    scanNumbers(text, v, 2);
    return Size(v[0], v[1]);
}

Rect rectFromString(const QString& text)
{
    double v[4] = {0, 0, 0, 0};
    scanNumbers(text, v, 4);
    return Rect(v[0], v[1], v[2], v[3]);
}

} // namespace corvex
