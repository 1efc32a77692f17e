// SolarSystem: the adders, made while no other adder lies on them or when asked for, and let
// go when they lie covered again.

#include "mindmap/IdeaAdderView.h"
#include "mindmap/PlanetCrowding.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemLayer.h"
#include "platform/ui/Transaction.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Half an adder's side: what PlanetCrowding takes as its radius (only "covered" is used).
constexpr double kAdderHalfSide = 20;

} // namespace

void SolarSystem::insertAdder(std::int64_t index, const std::shared_ptr<Idea>& tag, Point centre,
                              std::shared_ptr<IdeaAdderView> adder)
{
    mAdderTags.insert(mAdderTags.begin() + index, tag);
    mIdeaAdderViews.insert(mIdeaAdderViews.begin() + index, std::move(adder));
    mAdderCentres.insert(mAdderCentres.begin() + index, centre);
}

const std::shared_ptr<IdeaAdderView>& SolarSystem::makeAdderAt(std::int64_t index)
{
    std::shared_ptr<IdeaAdderView>& slot = mIdeaAdderViews[std::size_t(index)];
    if (slot)
        return slot;
    Transaction::begin();
    Transaction::setDisableActions(true);
    auto adder = makeAdder(mAdderTags[std::size_t(index)]);
    ViewExtensions::setCenter(*adder, mAdderCentres[std::size_t(index)]);
    if (!mAnimating)
        ViewExtensions::ensureIntegralFrame(*adder);
    if (mPlanetTransformScale != 1.0)
        ViewExtensions::setScale(*adder, mPlanetTransformScale);
    addSubview(adder);
    slot = std::move(adder);
    Transaction::commit();
    return slot;
}

void SolarSystem::releaseAdderIfUnused(std::int64_t index)
{
    std::shared_ptr<IdeaAdderView>& slot = mIdeaAdderViews[std::size_t(index)];
    if (!slot || slot.use_count() > (slot->superview() ? 2 : 1))
        return;
    slot->removeFromSuperview();
    slot.reset();
}

void SolarSystem::placeAdders(const SolarLayout& layout, Point centre, float radius)
{
    const std::int64_t adders = ideaAdderViewCount();
    for (std::int64_t i = 0; i < adders; ++i) {
        const float a = layout.angleForAdderAtIndex(i, adders, mCurrentAngle);
        mAdderCentres[std::size_t(i)] =
            Point(centre.x + double(radius * std::cos(a)), centre.y + double(radius * std::sin(a)));
    }
    // Later adders lie over earlier ones.
    const auto drawings =
        PlanetCrowding::drawings(mAdderCentres, kAdderHalfSide, mOrbitLayer->contentsScale());
    bool made = false;
    for (std::int64_t i = 0; i < adders; ++i) {
        const bool covered = drawings[std::size_t(i)] == PlanetCrowding::Drawing::Covered;
        if (covered && !mAnimating)
            releaseAdderIfUnused(i);
        if (!covered && !mIdeaAdderViews[std::size_t(i)]) {
            makeAdderAt(i);
            made = true;
        }
        const auto& adder = mIdeaAdderViews[std::size_t(i)];
        if (!adder)
            continue;
        adder->setHidden(false);
        ViewExtensions::setCenter(*adder, mAdderCentres[std::size_t(i)]);
        if (!mAnimating)
            ViewExtensions::ensureIntegralFrame(*adder);
    }
    // A new adder's view went on top: the planets go back over it.
    if (made && mAnimating)
        restackPlanets(mStackLowest);
}

Point SolarSystem::adderCentre(std::int64_t index) const
{
    const auto& adder = mIdeaAdderViews[std::size_t(index)];
    return adder ? ViewExtensions::center(*adder) : mAdderCentres[std::size_t(index)];
}

bool SolarSystem::adderContains(std::int64_t index, Point point) const
{
    if (const auto& adder = mIdeaAdderViews[std::size_t(index)])
        return adder->hitTest(point) != nullptr;
    const Point c = mAdderCentres[std::size_t(index)];
    const double half = kAdderHalfSide * mPlanetTransformScale;
    return std::fabs(point.x - c.x) <= half && std::fabs(point.y - c.y) <= half;
}

std::shared_ptr<IdeaAdderView> SolarSystem::ideaAdderViewAtIndex(std::int64_t index) const
{
    if (index < 0 || index >= ideaAdderViewCount())
        return nullptr;
    // Like a planet's layer, an adder's view is made when wanted; the planets stay above it.
    auto* self = const_cast<SolarSystem*>(this);
    if (mIdeaAdderViews[std::size_t(index)])
        return mIdeaAdderViews[std::size_t(index)];
    const auto& adder = self->makeAdderAt(index);
    self->restackPlanets(mStackLowest);
    return adder;
}

std::int64_t SolarSystem::madeIdeaAdderViewCount() const
{
    return std::int64_t(std::count_if(mIdeaAdderViews.begin(), mIdeaAdderViews.end(),
                                      [](const auto& adder) { return adder != nullptr; }));
}

} // namespace corvex
