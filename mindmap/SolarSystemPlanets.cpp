// SolarSystem: the planet layers, made while a planet is drawn or asked for and let go when it
// lies covered again, so that an orbit of thousands of children costs what it shows.

#include "mindmap/PlanetCrowding.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SolarSystem.h"
#include "model/Idea.h"
#include "platform/ui/Transaction.h"
#include "toolkit/LayerExtensions.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr quint64 kPlanetsOrbitType = 0;

} // namespace

const std::shared_ptr<PlanetLayer>& SolarSystem::makePlanet(std::int64_t index, bool inOrder)
{
    std::shared_ptr<PlanetLayer>& slot = mIdeaViews[std::size_t(index)];
    if (slot)
        return slot;
    Transaction::begin();
    Transaction::setDisableActions(true);
    const Idea& idea = *mIdeas[std::size_t(index)];
    auto planet = PlanetLayer::create(kPlanetsOrbitType);
    planet->updateWithIdea(&idea, mDocIdentifier);
    planet->setIsLink(idea.isLink());
    planet->setIdeaIdentifier(idea.identifier());
    planet->setDocIdentifier(mDocIdentifier);
    planet->setDelegate(sharedAs<SolarSystem>());
    planet->setScale(scalingFactor());
    planet->resizeToScale();
    planet->setShadowMode(index == mShadowIndex);
    if (mPlanetTransformScale != 1.0)
        LayerExtensions::transformToScale(*planet, mPlanetTransformScale);
    placePlanet(*planet, index);
    // Under the nearest planet above it that has a layer, else on top of the view's layers.
    const Layer* above = nullptr;
    const std::int64_t n = ideaViewCount();
    for (std::int64_t k = SolarLayout::wrapIndex(index - mStackLowest, n) + 1; inOrder && !above && k < n;
         ++k)
        above = mIdeaViews[std::size_t((mStackLowest + k) % n)].get();
    if (above)
        layer()->insertSublayerBelow(planet, above);
    else
        layer()->addSublayer(planet);
    slot = std::move(planet);
    Transaction::commit();
    return slot;
}

void SolarSystem::placePlanet(PlanetLayer& planet, std::int64_t index)
{
    placeLayerCentre(planet, mPlanetCentres[std::size_t(index)]);
    if (!mAnimating)
        LayerExtensions::ensureIntegralFrame(planet);
    const auto drawing = PlanetCrowding::Drawing(mPlanetDrawings[std::size_t(index)]);
    planet.setDrawsDirectly(drawing != PlanetCrowding::Drawing::Cached);
    planet.setHidden(drawing == PlanetCrowding::Drawing::Covered);
}

void SolarSystem::releasePlanetIfUnused(std::int64_t index)
{
    std::shared_ptr<PlanetLayer>& slot = mIdeaViews[std::size_t(index)];
    // Held elsewhere too (a drill, a focus, a caller), it stays: they change it on screen.
    if (!slot || slot.use_count() > (slot->superlayer() ? 2 : 1))
        return;
    slot->removeFromSuperlayer();
    slot.reset();
}

float SolarSystem::planetRadius() const
{
    return PlanetLayer::radiusForPlanetType(kPlanetsOrbitType) * float(scalingFactor());
}

Point SolarSystem::planetCentre(std::int64_t index) const
{
    const auto& planet = mIdeaViews[std::size_t(index)];
    return planet ? LayerExtensions::center(*planet) : mPlanetCentres[std::size_t(index)];
}

QString SolarSystem::planetIdentifier(std::int64_t index) const
{
    const auto& planet = mIdeaViews[std::size_t(index)];
    return planet ? planet->ideaIdentifier() : mIdeas[std::size_t(index)]->identifier();
}

std::int64_t SolarSystem::madeIdeaViewCount() const
{
    return std::int64_t(std::count_if(mIdeaViews.begin(), mIdeaViews.end(),
                                      [](const auto& planet) { return planet != nullptr; }));
}

} // namespace corvex
