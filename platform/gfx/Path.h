#pragma once

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/Rect.h"

#include <QPainterPath>

namespace corvex {

// A path in user-space coordinates. Angles are radians from the positive x axis towards the
// positive y axis; `clockwise` means decreasing angles (clockwise on screen in a y-up
// space, counter-clockwise in a flipped one). An arc added to a path that has a current
// point is joined to it by a line. Lines and curves need a current point and are ignored
// without one. The painter path fills with the non-zero winding rule.
class Path
{
public:
    Path();

    void moveTo(Point p);
    void lineTo(Point p);
    void curveTo(Point control1, Point control2, Point end);
    void quadCurveTo(Point control, Point end);
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    // Tangent arc from the current point towards p1 then p2, as the platform's arc-to-point.
    void addArcToPoint(Point p1, Point p2, double radius);
    void addRect(const Rect& r);
    void addEllipseInRect(const Rect& r);
    void addRoundedRect(const Rect& r, double cornerWidth, double cornerHeight);
    void addLines(const Point* points, int count);
    void addPath(const Path& other, const AffineTransform& transform = {});
    // Like addPath, but the first subpath of `other` continues the current subpath, joined by
    // a line (as an arc joins the current point).
    void connectPath(const Path& other, const AffineTransform& transform = {});
    void closeSubpath();

    bool isEmpty() const { return mSubpathCount == 0; } // a lone move is not empty
    bool hasCurrentPoint() const { return mHasCurrentPoint; }
    Point currentPoint() const { return mCurrent; }
    Rect boundingBox() const; // of the control points, as the platform's path bounding box
    bool contains(Point p, bool evenOdd = false) const;

    const QPainterPath& painterPath() const { return mPath; }

private:
    // Appends an elliptic arc (radii rx, ry) from `startAngle` through `sweep` radians as
    // cubic curves, joined to the current point by a line or starting a subpath.
    void appendArc(Point center, double rx, double ry, double startAngle, double sweep);
    void setCurrent(Point p);

    QPainterPath mPath;
    Point mCurrent;
    Point mSubpathStart;
    int mSubpathCount = 0;
    bool mHasCurrentPoint = false;
};

} // namespace corvex
