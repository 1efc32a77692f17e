#include "toolkit/ViewExtensions.h"

#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "toolkit/LayerExtensions.h"
#include "toolkit/NarrowedRounding_p.h"

#include <cmath>

namespace corvex {

namespace {

constexpr int HeightMultipleLine = 236;
constexpr const char* HeightMultipleMethod = "-[NSView(MyExtensions) ensureFrameHeightAsMultipleOf:]";
constexpr int TransitionScaleLine = 204;
constexpr const char* TransitionMethod =
    "-[NSView(MyExtensions) animateTransitionToPoint:finalScale:duration:onCompletion:]";

} // namespace

// ---- Positions ----

Point ViewExtensions::center(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width * 0.5, f.origin.y + f.size.height * 0.5);
}

void ViewExtensions::setCenter(View& view, Point center)
{
    const Size s = view.frame().size;
    view.setFrameOrigin(Point(center.x - s.width * 0.5, center.y - s.height * 0.5));
}

Point ViewExtensions::centerPoint(const View& view)
{
    const Size s = view.bounds().size;
    return Point(s.width * 0.5, s.height * 0.5);
}

Point ViewExtensions::centerPointRounded(const View& view)
{
    const Point c = centerPoint(view);
    return Point(roundNarrowed(c.x), roundNarrowed(c.y));
}

Point ViewExtensions::topLeftCorner(const View& view)
{
    return view.frame().origin;
}

void ViewExtensions::setTopLeftCorner(View& view, Point point)
{
    view.setFrameOrigin(point);
}

Point ViewExtensions::topRightCorner(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width, f.origin.y);
}

void ViewExtensions::setTopRightCorner(View& view, Point point)
{
    view.setFrameOrigin(Point(point.x - view.frame().size.width, point.y));
}

Point ViewExtensions::bottomRightCorner(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width, f.origin.y + f.size.height);
}

Point ViewExtensions::bottomLeftCorner(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x, f.origin.y + f.size.height);
}

void ViewExtensions::setBottomLeftCorner(View& view, Point point)
{
    view.setFrameOrigin(Point(point.x, point.y - view.frame().size.height));
}

Point ViewExtensions::middleTopPosition(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width * 0.5, f.origin.y);
}

void ViewExtensions::setMiddleTopPosition(View& view, Point point)
{
    view.setFrameOrigin(Point(point.x - view.frame().size.width * 0.5, point.y));
}

Point ViewExtensions::middleBottomPosition(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width * 0.5, f.origin.y + f.size.height);
}

void ViewExtensions::setMiddleBottomPosition(View& view, Point point)
{
    const Size s = view.frame().size;
    view.setFrameOrigin(Point(point.x - s.width * 0.5, point.y - s.height));
}

Point ViewExtensions::middleLeftPosition(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x, f.origin.y + f.size.height * 0.5);
}

void ViewExtensions::setMiddleLeftPosition(View& view, Point point)
{
    view.setFrameOrigin(Point(point.x, point.y - view.frame().size.height * 0.5));
}

Point ViewExtensions::middleRightPosition(const View& view)
{
    const Rect& f = view.frame();
    return Point(f.origin.x + f.size.width, f.origin.y + f.size.height * 0.5);
}

void ViewExtensions::setMiddleRightPosition(View& view, Point point)
{
    const Size s = view.frame().size;
    view.setFrameOrigin(Point(point.x - s.width, point.y - s.height * 0.5));
}

float ViewExtensions::bottomFrameLine(const View& view)
{
    const Rect& f = view.frame();
    return float(f.origin.y + f.size.height);
}

float ViewExtensions::rightFrameLine(const View& view)
{
    const Rect& f = view.frame();
    return float(f.origin.x + f.size.width);
}

Point ViewExtensions::screenCenterLocation(const View& view)
{
    const Window* window = view.window();
    const View* content = window ? window->contentView().get() : nullptr;
    return view.convertPointToView(centerPoint(view), content);
}

// ---- Hierarchy ----

void ViewExtensions::insertSubviewAbove(View& receiver, const std::shared_ptr<View>& view,
                                        const View* sibling)
{
    receiver.addSubview(view, View::Ordering::Above, sibling);
}

void ViewExtensions::insertSubviewBelow(View& receiver, const std::shared_ptr<View>& view,
                                        const View* sibling)
{
    receiver.addSubview(view, View::Ordering::Below, sibling);
}

void ViewExtensions::bringSubviewToFront(View& receiver, const std::shared_ptr<View>& subview)
{
    if (!subview)
        return;
    const std::shared_ptr<View> keep = subview;
    subview->removeFromSuperview();
    receiver.addSubview(subview);
}

// ---- Scale and transforms ----

double ViewExtensions::scale(const View& view)
{
    const Transform3D& t = view.layer()->transform();
    return std::sqrt(t.m11 * t.m11 + t.m12 * t.m12 + t.m13 * t.m13);
}

void ViewExtensions::setScale(View& view, double scale)
{
    LayerExtensions::transformToScale(*view.layer(), scale);
}

void ViewExtensions::setScaleAnimated(View& view, double scale, bool animated)
{
    if (animated) {
        setScale(view, scale);
        return;
    }
    Transaction::begin();
    Transaction::setDisableActions(true);
    setScale(view, scale);
    Transaction::commit();
}

void ViewExtensions::transformToPoint(View& view, Point point, double finalScale)
{
    LayerExtensions::transformToPoint(*view.layer(), point, finalScale);
}

void ViewExtensions::transformToPointRotation(View& view, Point point, double rotation, double finalScale)
{
    LayerExtensions::transformToPointRotation(*view.layer(), point, rotation, finalScale);
}

void ViewExtensions::transformToScaleRotation(View& view, double scale, double rotation)
{
    LayerExtensions::transformToScaleRotation(*view.layer(), scale, rotation);
}

void ViewExtensions::animateTransitionToPoint(View& view, Point point, double finalScale, double duration,
                                              Completion<> completion)
{
    // Held by the transaction's block, which may be copied.
    auto done = std::make_shared<Completion<>>(std::move(completion));
    if (!std::isfinite(finalScale) || finalScale <= 0) {
        Log::assertionFailure(TransitionScaleLine, TransitionMethod);
        // Nothing moves, but the caller's completion still runs once (after the transaction,
        // as after a transition without animations), so that its flow goes on.
        Transaction::begin();
        Transaction::setCompletionBlock([done] { (*done)(); });
        Transaction::commit();
        return;
    }
    // The completion holds the view, so the view lives until the transition ends.
    std::shared_ptr<View> strong = view.weak_from_this().lock();
    View* target = &view;
    Transaction::begin();
    Transaction::setCompletionBlock([strong, target, point, finalScale, done] {
        setCenter(*target, point);
        setScaleAnimated(*target, finalScale, false);
        (*done)();
    });
    Transaction::setAnimationTimingFunction(TimingFunction::easeInEaseOut());
    Transaction::setAnimationDuration(double(float(duration)));
    transformToPoint(view, point, finalScale);
    Transaction::commit();
}

// ---- Pixel alignment ----

void ViewExtensions::ensureIntegralFrame(View& view)
{
    const double s = Globals::screenScale();
    const Rect& f = view.frame();
    view.setFrame(Rect(std::floor(f.origin.x * s) / s, std::floor(f.origin.y * s) / s,
                       ceilNarrowed(f.size.width), ceilNarrowed(f.size.height)));
}

void ViewExtensions::ensureFrameHeightAsMultipleOf(View& view, double m)
{
    if (!std::isfinite(m) || m <= 0) {
        Log::assertionFailure(HeightMultipleLine, HeightMultipleMethod);
        return;
    }
    const Rect& f = view.frame();
    const float quotient = float(f.size.height / m);
    const double multiples = double(static_cast<long long>(std::ceil(quotient)));
    view.setFrame(Rect(f.origin, Size(f.size.width, multiples * m)));
}

void ViewExtensions::removeAnimationsAlsoFromSubviews(View& view)
{
    view.layer()->removeAllAnimations();
    const std::vector<std::shared_ptr<View>> subviews = view.subviews();
    for (const auto& subview : subviews)
        removeAnimationsAlsoFromSubviews(*subview);
}

// ---- Distances ----

float ViewExtensions::calculateDistanceFromCenter(const View& view, Point point)
{
    const Point c = centerPoint(view);
    const float dx = float(point.x - c.x);
    const float dy = float(point.y - c.y);
    return std::sqrt(dx * dx + dy * dy);
}

float ViewExtensions::calculateDistanceFromCenter(const View& view, Point point, const View* inView)
{
    return calculateDistanceFromCenter(view, view.convertPointFromView(point, inView));
}

// ---- Snapshots and diagnostics ----

PlatformImage ViewExtensions::imageRepresentation(View& view)
{
    const bool wasHidden = view.isHidden();
    const bool wantedLayer = view.wantsLayer();
    view.setHidden(false);
    view.setWantsLayer(true);
    // The snapshot shows the view as it is now, not as the last update cycle left it.
    view.layoutSubtreeIfNeeded();
    view.displayIfNeeded();
    const Size size = view.bounds().size;
    const double scale = Globals::screenScale();
    PlatformImage image;
    if (std::unique_ptr<GraphicsContext> context =
            GraphicsContext::createBitmap(size.width * scale, size.height * scale)) {
        context->scaleCTM(scale, scale);
        view.layer()->renderInContext(*context);
        image = PlatformImage(context->makeImage(), size);
    }
    view.setWantsLayer(wantedLayer);
    view.setHidden(wasHidden);
    return image;
}

QString ViewExtensions::recursiveDescription(const View& view)
{
    return recursiveDescriptionWithPrefix(view, QString());
}

QString ViewExtensions::recursiveDescriptionWithPrefix(const View& view, const QString& prefix)
{
    QString text =
        prefix + view.description() + QStringLiteral(" frame=") + toString(view.frame()) + QLatin1Char('\n');
    const QString inner = prefix + QStringLiteral("|   ");
    for (const auto& subview : view.subviews())
        text += recursiveDescriptionWithPrefix(*subview, inner);
    return text;
}

} // namespace corvex
