#pragma once

#include "platform/core/Completion.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

class View;

// The vocabulary every view of the system shares: positions (centre, corners, edge
// midpoints) read from and written to the frame, scale and move transforms through the
// view's layer, pixel alignment, snapshots and a text dump of the tree. No state of its own.
//
// Frames are in the superview's coordinates; the system's views are flipped, so "top" is the
// frame's smallest y and "bottom" y + h. Setters keep the size and set the frame's origin.
// Main thread only.
class ViewExtensions
{
public:
    ViewExtensions() = delete;

    // ---- Positions ----
    // (x + w/2, y + h/2) of the frame.
    static Point center(const View& view);
    static void setCenter(View& view, Point center);
    // (w/2, h/2) of the bounds size (the bounds origin is ignored).
    static Point centerPoint(const View& view);
    // centerPoint narrowed to float, each coordinate rounded (halves away from zero).
    static Point centerPointRounded(const View& view);
    static Point topLeftCorner(const View& view);
    static void setTopLeftCorner(View& view, Point point);
    static Point topRightCorner(const View& view);
    static void setTopRightCorner(View& view, Point point);
    static Point bottomRightCorner(const View& view);
    static Point bottomLeftCorner(const View& view);
    static void setBottomLeftCorner(View& view, Point point);
    static Point middleTopPosition(const View& view);
    static void setMiddleTopPosition(View& view, Point point);
    static Point middleBottomPosition(const View& view);
    static void setMiddleBottomPosition(View& view, Point point);
    static Point middleLeftPosition(const View& view);
    static void setMiddleLeftPosition(View& view, Point point);
    static Point middleRightPosition(const View& view);
    static void setMiddleRightPosition(View& view, Point point);
    // y + h and x + w.
    static float bottomFrameLine(const View& view);
    static float rightFrameLine(const View& view);
    // centerPoint in the coordinates of the window's content view (the view's own space when
    // it is in no window).
    static Point screenCenterLocation(const View& view);

    // ---- Hierarchy ----
    static void insertSubviewAbove(View& receiver, const std::shared_ptr<View>& view, const View* sibling);
    static void insertSubviewBelow(View& receiver, const std::shared_ptr<View>& view, const View* sibling);
    // Takes the subview out (willRemoveSubview: a BaseView host drops its record) and adds it
    // again on top.
    static void bringSubviewToFront(View& receiver, const std::shared_ptr<View>& subview);

    // ---- Scale and transforms (through the view's layer) ----
    // The length of the first row of the layer's transform.
    static double scale(const View& view);
    static void setScale(View& view, double scale);
    // Animated: the layer's implicit animation applies; not animated: the change is made
    // with actions disabled, so it is immediate.
    static void setScaleAnimated(View& view, double scale, bool animated);
    static void transformToPoint(View& view, Point point, double finalScale);
    static void transformToPointRotation(View& view, Point point, double rotation, double finalScale);
    static void transformToScaleRotation(View& view, double scale, double rotation);
    // Moves the view's centre to `point` and scales it to finalScale over `duration`
    // seconds (ease in, ease out); at the end the frame carries the move, the transform only
    // the scale, and `completion` runs. A scale that is not finite and above 0 logs the
    // assertion line and moves nothing; the completion still runs, once, in the next turn.
    static void animateTransitionToPoint(View& view, Point point, double finalScale, double duration,
                                         Completion<> completion = {});

    // ---- Pixel alignment ----
    // Origin rounded down to a device pixel of the screen scale (Globals::screenScale),
    // width and height rounded up to whole points.
    static void ensureIntegralFrame(View& view);
    // The height rounded up to a multiple of m. m not finite and above 0 logs the assertion
    // line and leaves the frame alone.
    static void ensureFrameHeightAsMultipleOf(View& view, double m);
    // The view's layer, then each subview's, depth first.
    static void removeAnimationsAlsoFromSubviews(View& view);

    // ---- Distances ----
    // From centerPoint to a point in the view's coordinates, in single precision.
    static float calculateDistanceFromCenter(const View& view, Point point);
    // The point is in `inView`'s coordinates (null: the window's base coordinates).
    static float calculateDistanceFromCenter(const View& view, Point point, const View* inView);

    // ---- Snapshots and diagnostics ----
    // The view's layer tree rendered into an image of the bounds size, upright, at one pixel
    // per point, text fields with their text; the view is shown and layer-backed for the
    // duration.
    static PlatformImage imageRepresentation(View& view);
    // One line "<prefix><description> frame=<frame>\n" per view, subviews indented by "|   ".
    static QString recursiveDescription(const View& view);
    static QString recursiveDescriptionWithPrefix(const View& view, const QString& prefix);
};

} // namespace corvex
