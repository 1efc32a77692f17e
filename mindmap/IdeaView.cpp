#include "mindmap/IdeaView.h"

#include "graphics/Geometry.h"
#include "mindmap/PlanetLayer.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TimingFunction.h"
#include "platform/ui/Transaction.h"
#include "toolkit/ViewExtensions.h"

#include <cmath>

namespace corvex {

namespace {

constexpr quint64 kIdeaViewCentralIdeaRole = 1;
constexpr quint64 kIdeaViewHomeGridRole = 2;
constexpr float kIdeaViewHomeGridRadius = 93.0f;

// Press feedback: the scale, and the durations of the press and of the two release steps.
constexpr float kIdeaViewTapScale = 0.95f;
constexpr double kIdeaViewTapPressDuration = 0.2;
constexpr double kIdeaViewTapReleaseDuration = 2.0;
constexpr double kIdeaViewTapSettleDelay = 0.3;
constexpr double kIdeaViewTapSettleDuration = 1.2;

void resetIdeaViewTransform(Layer& layer, double duration)
{
    Transaction::begin();
    Transaction::setAnimationDuration(duration);
    layer.setTransform(Transform3D::identity());
    Transaction::commit();
}

} // namespace

IdeaView::IdeaView(quint64 role) : mRole(role), mRadius(std::trunc(radiusForRole(role))) {}

IdeaView::~IdeaView() = default;

std::shared_ptr<IdeaView> IdeaView::create(quint64 role, const std::shared_ptr<Layer>& layer)
{
    return makeWithRole<IdeaView>(role, layer);
}

float IdeaView::radiusForRole(quint64 role)
{
    if (role == kIdeaViewHomeGridRole)
        return kIdeaViewHomeGridRadius;
    return PlanetLayer::radiusForPlanetType(role == kIdeaViewCentralIdeaRole ? 1 : 0);
}

float IdeaView::sideLengthForRole(quint64 role)
{
    return 2.5f * radiusForRole(role);
}

QString IdeaView::className() const
{
    return QStringLiteral("IdeaView");
}

void IdeaView::prepareIdeaView()
{
    const double side = sideLengthForRole(mRole);
    setFrame(Rect(0, 0, side, side));
}

void IdeaView::updateAppearance() {}

View* IdeaView::hitTest(Point pointInSuperview)
{
    if (isHidden())
        return nullptr;
    return Geometry::distanceFrom(pointInSuperview, ViewExtensions::center(*this)) < mRadius ? this : nullptr;
}

void IdeaView::startTapAnimation()
{
    Transaction::begin();
    Transaction::setAnimationDuration(kIdeaViewTapPressDuration);
    Transaction::setAnimationTimingFunction(TimingFunction::easeInEaseOut());
    Transaction::setCompletionBlock([] {});
    setScale(kIdeaViewTapScale);
    Transaction::commit();
}

void IdeaView::stopTapAnimation()
{
    resetIdeaViewTransform(*layer(), kIdeaViewTapReleaseDuration);
    // The second step owns the view, so a view dropped meanwhile still settles.
    std::shared_ptr<View> self = weak_from_this().lock();
    if (!self)
        return;
    MainQueue::postAfter(kIdeaViewTapSettleDelay,
                         [self] { resetIdeaViewTransform(*self->layer(), kIdeaViewTapSettleDuration); });
}

void IdeaView::setScale(double scale)
{
    ViewExtensions::setScale(*this, scale);
}

QString IdeaView::representativeTitle() const
{
    return QString();
}

std::shared_ptr<IdeaView> IdeaView::copyForDragging() const
{
    return nullptr;
}

} // namespace corvex
