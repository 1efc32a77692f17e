// SolarSystem: the drill-down and drill-up animations between two views.

#include "graphics/Geometry.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/LineLayer.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemLayer.h"
#include "platform/core/Log.h"
#include "platform/ui/Transaction.h"
#include "toolkit/Animator.h"
#include "toolkit/LayerExtensions.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace corvex {

namespace {

// The orbit fades out, and the new connector in, over the first 80 % of the way.
constexpr float kDrillFadeShare = 0.8f;
// The collapsed view is drawn at half size; its centre, parent and connector hide as soon as
// the collapse has begun.
constexpr float kDrillCollapsedScale = 0.5f;
constexpr double kDrillHideThreshold = 0.01;
constexpr quint64 kDrillCentralRole = 1;
constexpr quint64 kDrillOrbitRole = 0;
constexpr int kDrillMissingPlanetLine = 857;
constexpr const char* kDrillPrepareMethod = "-[SolarSystem prepareDrillDownAnimation:simulated:]";

float drillLerp(float a, float b, double p)
{
    return Geometry::interpolateLinearlyFrom(a, b, float(p));
}

float drillFade(double p)
{
    return std::min(float(p) / kDrillFadeShare, 1.0f);
}

// Every value a frame sets is shown as set, never animated towards.
struct DrillNoActions
{
    DrillNoActions()
    {
        Transaction::begin();
        Transaction::setDisableActions(true);
    }
    ~DrillNoActions() { Transaction::commit(); }
    DrillNoActions(const DrillNoActions&) = delete;
    DrillNoActions& operator=(const DrillNoActions&) = delete;
};

} // namespace

SolarSystem::AnimationBlock SolarSystem::prepareDrillDownAnimation(std::int64_t index, bool simulated)
{
    const std::shared_ptr<PlanetLayer> planet = ideaViewAtIndex(index);
    if (!planet) {
        // Nothing to travel to the centre: the animation still runs its course (and its
        // completion), but moves nothing of this view.
        Log::assertionFailure(kDrillMissingPlanetLine, kDrillPrepareMethod);
        return [](double) {};
    }
    std::weak_ptr<SolarSystem> weak = sharedAs<SolarSystem>();
    const float s = IdeaView::radiusForRole(kDrillCentralRole) / IdeaView::radiusForRole(kDrillOrbitRole);
    const Point corner(0, 0);
    const Point cp = ViewExtensions::centerPoint(*this);
    const Point c0 = orbitVisualCenter();
    const Point t = Geometry::translationFrom(c0, corner);
    const float a0 = mCurrentAngle;
    const float a1 =
        a0 + Geometry::minimumAngleFrom(currentAngleForIdeaAtIndex(index), Geometry::angleFrom(corner, cp));
    const float r0 = mRadius;
    const float d = Geometry::distanceFrom(corner, cp);

    std::shared_ptr<LineLayer> newLine;
    if (!simulated) {
        DrillNoActions noActions;
        newLine = LineLayer::create(corner, cp, mShowingLink);
        newLine->transformToLineFrom(c0, LayerExtensions::center(*planet));
        newLine->setDelegate(sharedAs<SolarSystem>());
        layer()->insertSublayerBelow(newLine, mOrbitLayer.get());
        mDrillLineLayer = newLine;
    }

    return [weak, planet, s, corner, c0, t, a0, a1, r0, d, newLine](double p) {
        const auto self = weak.lock();
        if (!self)
            return;
        DrillNoActions noActions;
        self->mRadius = drillLerp(r0, d, p);
        if (self->mParentView)
            ViewExtensions::setTopLeftCorner(*self->mParentView,
                                             Geometry::interpolatePointFrom(corner, t, float(p)));
        if (self->mCentralView)
            ViewExtensions::setCenter(*self->mCentralView,
                                      Geometry::interpolatePointFrom(c0, corner, float(p)));
        LayerExtensions::transformToScale(*planet, double(drillLerp(1.0f, s, p)));
        self->mOrbitLayer->setOpacity(drillLerp(1.0f, 0.0f, drillFade(p)));
        placeLayerCentre(*self->mOrbitLayer, self->orbitVisualCenter());
        self->mOrbitLayer->setRadius(self->mRadius);
        self->mCurrentAngle = drillLerp(a0, a1, p);
        if (self->mLineLayer && self->mParentView)
            self->mLineLayer->transformToLineFrom(ViewExtensions::center(*self->mParentView),
                                                  self->orbitVisualCenter());
        self->updateView();
        if (newLine) {
            newLine->transformToLineFrom(self->orbitVisualCenter(), LayerExtensions::center(*planet));
            newLine->setOpacity(drillLerp(0.0f, 1.0f, drillFade(p)));
        }
    };
}

SolarSystem::AnimationBlock SolarSystem::prepareCollapseAnimation()
{
    std::weak_ptr<SolarSystem> weak = sharedAs<SolarSystem>();
    const float r = mRadius;
    return [weak, r](double p) {
        const auto self = weak.lock();
        if (!self)
            return;
        DrillNoActions noActions;
        const float k = drillLerp(1.0f, kDrillCollapsedScale, p);
        const bool hide = p >= kDrillHideThreshold;
        if (self->mCentralView)
            self->mCentralView->setHidden(hide);
        if (self->mParentView)
            self->mParentView->setHidden(hide);
        if (self->mLineLayer)
            self->mLineLayer->setHidden(hide);
        self->mRadius = drillLerp(r, r * k, p);
        self->mOrbitLayer->setRadius(self->mRadius);
        self->mPlanetTransformScale = double(k);
        for (const auto& planet : self->mIdeaViews)
            if (planet)
                LayerExtensions::transformToScale(*planet, double(k));
        for (const auto& adder : self->mIdeaAdderViews)
            if (adder)
                ViewExtensions::setScale(*adder, double(k));
        self->updateView();
    };
}

void SolarSystem::animateDrillDownInto(std::int64_t index, const std::shared_ptr<SolarSystem>& newSolarSystem,
                                       Completion completion)
{
    if (!newSolarSystem) {
        // Nothing to unfold; the caller still hears of the end, once, on the next turn.
        completion();
        return;
    }
    newSolarSystem->applyLayout();
    // A spin still running would clear the drill flag when it ends; stop it first.
    stopAnimations();
    newSolarSystem->stopAnimations();
    mAnimating = true;
    newSolarSystem->mAnimating = true;
    AnimationBlock down = prepareDrillDownAnimation(index, false);
    AnimationBlock collapse = newSolarSystem->prepareCollapseAnimation();
    collapse(1.0);
    runDrillAnimation(newSolarSystem, std::move(down), std::move(collapse), true, std::move(completion));
}

void SolarSystem::animateDrillUpFrom(std::int64_t index, const std::shared_ptr<SolarSystem>& oldSolarSystem,
                                     Completion completion)
{
    if (!oldSolarSystem) {
        completion();
        return;
    }
    stopAnimations();
    oldSolarSystem->stopAnimations();
    AnimationBlock up = prepareDrillDownAnimation(index, true);
    AnimationBlock collapse = oldSolarSystem->prepareCollapseAnimation();
    mAnimating = true;
    oldSolarSystem->mAnimating = true;
    up(1.0);
    runDrillAnimation(oldSolarSystem, std::move(up), std::move(collapse), false, std::move(completion));
}

void SolarSystem::runDrillAnimation(const std::shared_ptr<SolarSystem>& other, AnimationBlock thisStep,
                                    AnimationBlock otherStep, bool drillDown, Completion completion)
{
    // The frames hold both views: the screen may let go of the old one before the end.
    const auto self = sharedAs<SolarSystem>();
    auto animator = Animator::create(kDrillDuration, kDrillFrameRate);
    auto pending = std::make_shared<Completion>(std::move(completion));
    animator->play([self, other, thisStep, otherStep, drillDown, pending](Animator& running) {
        const double p = running.updateProgress();
        if (drillDown) {
            thisStep(p);
            otherStep(1.0 - p);
        } else {
            thisStep(1.0 - p);
            otherStep(p);
        }
        if (p < 1.0)
            return;
        self->mAnimating = false;
        other->mAnimating = false;
        if (drillDown) {
            self->applyLayout();
            other->updateView();
        } else {
            self->mOrbitLayer->setNeedsDisplay();
            self->applyLayout();
        }
        // Exactly once, however often the last frame is shown.
        if (*pending)
            (*pending)();
    });
}

} // namespace corvex
