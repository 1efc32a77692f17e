#include "platform/gfx/Transform3D.h"

#include <cmath>

namespace corvex {

namespace {

using Matrix = double[4][4];

void toMatrix(const Transform3D& t, Matrix m)
{
    const double v[16] = {t.m11, t.m12, t.m13, t.m14, t.m21, t.m22, t.m23, t.m24,
                          t.m31, t.m32, t.m33, t.m34, t.m41, t.m42, t.m43, t.m44};
    for (int i = 0; i < 16; ++i)
        m[i / 4][i % 4] = v[i];
}

Transform3D fromMatrix(const Matrix m)
{
    return {m[0][0], m[0][1], m[0][2], m[0][3], m[1][0], m[1][1], m[1][2], m[1][3],
            m[2][0], m[2][1], m[2][2], m[2][3], m[3][0], m[3][1], m[3][2], m[3][3]};
}

} // namespace

Transform3D Transform3D::makeTranslation(double tx, double ty, double tz)
{
    Transform3D t;
    t.m41 = tx;
    t.m42 = ty;
    t.m43 = tz;
    return t;
}

Transform3D Transform3D::makeScale(double sx, double sy, double sz)
{
    Transform3D t;
    t.m11 = sx;
    t.m22 = sy;
    t.m33 = sz;
    return t;
}

Transform3D Transform3D::makeRotation(double radians, double x, double y, double z)
{
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0 || !std::isfinite(length))
        return {};
    x /= length;
    y /= length;
    z /= length;
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const double k = 1 - c;
    // Row-vector form: about z this is (c, s, -s, c), the 2D rotation's layout.
    Transform3D t;
    t.m11 = c + x * x * k;
    t.m12 = x * y * k + z * s;
    t.m13 = x * z * k - y * s;
    t.m21 = x * y * k - z * s;
    t.m22 = c + y * y * k;
    t.m23 = y * z * k + x * s;
    t.m31 = x * z * k + y * s;
    t.m32 = y * z * k - x * s;
    t.m33 = c + z * z * k;
    return t;
}

Transform3D Transform3D::makeAffine(const AffineTransform& a)
{
    Transform3D t;
    t.m11 = a.a;
    t.m12 = a.b;
    t.m21 = a.c;
    t.m22 = a.d;
    t.m41 = a.tx;
    t.m42 = a.ty;
    return t;
}

Transform3D Transform3D::translate(double tx, double ty, double tz) const
{
    return makeTranslation(tx, ty, tz).concat(*this);
}

Transform3D Transform3D::scale(double sx, double sy, double sz) const
{
    return makeScale(sx, sy, sz).concat(*this);
}

Transform3D Transform3D::rotate(double radians, double x, double y, double z) const
{
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0 || !std::isfinite(length))
        return *this;
    return makeRotation(radians, x, y, z).concat(*this);
}

Transform3D Transform3D::concat(const Transform3D& then) const
{
    Matrix a, b, r;
    toMatrix(*this, a);
    toMatrix(then, b);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
    return fromMatrix(r);
}

Transform3D Transform3D::inverted() const
{
    // Gauss-Jordan elimination with partial pivoting.
    Matrix m, inv;
    toMatrix(*this, m);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            inv[i][j] = i == j ? 1 : 0;
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 4; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
                pivot = row;
        if (m[pivot][col] == 0 || !std::isfinite(m[pivot][col]))
            return *this;
        if (pivot != col) {
            for (int j = 0; j < 4; ++j) {
                std::swap(m[pivot][j], m[col][j]);
                std::swap(inv[pivot][j], inv[col][j]);
            }
        }
        const double p = m[col][col];
        for (int j = 0; j < 4; ++j) {
            m[col][j] /= p;
            inv[col][j] /= p;
        }
        for (int row = 0; row < 4; ++row) {
            if (row == col || m[row][col] == 0)
                continue;
            const double f = m[row][col];
            for (int j = 0; j < 4; ++j) {
                m[row][j] -= f * m[col][j];
                inv[row][j] -= f * inv[col][j];
            }
        }
    }
    return fromMatrix(inv);
}

bool Transform3D::isIdentity() const
{
    return *this == Transform3D();
}

bool Transform3D::isAffine() const
{
    return m13 == 0 && m14 == 0 && m23 == 0 && m24 == 0 && m31 == 0 && m32 == 0 && m33 == 1 && m34 == 0 &&
           m43 == 0 && m44 == 1;
}

AffineTransform Transform3D::affine() const
{
    return {m11, m12, m21, m22, m41, m42};
}

QTransform Transform3D::toQTransform() const
{
    return QTransform(m11, m12, m14, m21, m22, m24, m41, m42, m44);
}

Point Transform3D::apply(Point p) const
{
    const double x = p.x * m11 + p.y * m21 + m41;
    const double y = p.x * m12 + p.y * m22 + m42;
    const double w = p.x * m14 + p.y * m24 + m44;
    if (w == 0 || w == 1)
        return {x, y};
    return {x / w, y / w};
}

} // namespace corvex
