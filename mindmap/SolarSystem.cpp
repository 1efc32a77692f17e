// SolarSystem: construction, filling, the children and the layout on the orbit. Rotation and
// input are in SolarSystemInput.cpp, the drills in SolarSystemDrill.cpp, the planets' layers
// and the adders' views made on demand in SolarSystemPlanets.cpp and SolarSystemAdders.cpp.

#include "mindmap/SolarSystem.h"

#include "graphics/Geometry.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/LineLayer.h"
#include "mindmap/NoteHoverUtility.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetCrowding.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarFocusObject.h"
#include "mindmap/SolarRotationAnimator.h"
#include "mindmap/SolarRotationGestureRecognizer.h"
#include "mindmap/SolarSystemLayer.h"
#include "model/DrawnColor.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "platform/ui/Transaction.h"
#include "toolkit/LayerExtensions.h"
#include "toolkit/LongTapAndDragDetector.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex {

namespace {

constexpr quint64 kSolarCentralRole = 1;
constexpr int kSolarPlaceholderAdders = 4;
// The orbit layer's square: three times the extended radius.
constexpr double kSolarOrbitLayerSide = 3 * SolarLayout::kExtendedModeRadius;
constexpr quint64 kSolarAdderPlusState = 1;
constexpr quint64 kSolarAdderDockState = 3;

// Assertion lines of the steps that log and go on.
constexpr int kSolarNilCentralIdeaLine = 161;
constexpr const char* kSolarSetCentralIdeaMethod = "-[SolarSystem setCentralIdea:]";
constexpr int kSolarNilParentIdeaLine = 139;
constexpr const char* kSolarSetParentIdeaMethod = "-[SolarSystem setParentIdea:asLink:]";
constexpr int kSolarNilInsertedIdeaLine = 246;
constexpr const char* kSolarInsertIdeaMethod = "-[SolarSystem insertIdea:afterIndex:]";
constexpr int kSolarBadIndexLine = 301;
constexpr const char* kSolarRemoveIdeaMethod = "-[SolarSystem removeIdeaAtIndex:]";
constexpr const char* kSolarMoveIdeaMethod = "-[SolarSystem moveIdea:fromIndex:afterIndex:]";
constexpr const char* kSolarModifyIdeaMethod = "-[SolarSystem modifyIdea:atIndex:]";

// Layer changes the view makes itself are never animated implicitly: layout moves planets at
// once, and each drill frame sets its values directly.
struct SolarNoActions
{
    SolarNoActions()
    {
        Transaction::begin();
        Transaction::setDisableActions(true);
    }
    ~SolarNoActions() { Transaction::commit(); }
    SolarNoActions(const SolarNoActions&) = delete;
    SolarNoActions& operator=(const SolarNoActions&) = delete;
};

} // namespace

SolarSystem::SolarSystem(const Rect& frame, const QString& docIdentifier)
    : BaseView(frame), mDocIdentifier(docIdentifier)
{}

SolarSystem::~SolarSystem()
{
    if (mAppearanceObserver)
        NotificationCenter::defaultCenter().removeObserver(mAppearanceObserver);
    if (mSolarRotationAnimator)
        mSolarRotationAnimator->cancel();
}

std::shared_ptr<SolarSystem> SolarSystem::create(const Rect& frame, const QString& docIdentifier)
{
    auto view = BaseView::make<SolarSystem>(frame, docIdentifier);
    view->prepareSolarSystem();
    return view;
}

double SolarSystem::normalModeRadius()
{
    return SolarSystemLayer::naturalRadius();
}

double SolarSystem::extendedModeRadius()
{
    return SolarLayout::kExtendedModeRadius;
}

QString SolarSystem::className() const
{
    return QStringLiteral("SolarSystem");
}

void SolarSystem::prepareSolarSystem()
{
    setDisableAnimations(true);
    const auto self = sharedAs<SolarSystem>();
    mNoteHoverUtility = NoteHoverUtility::create(std::weak_ptr<NoteHoverUtilityDelegate>(self));

    SolarNoActions noActions;
    mOrbitLayer = SolarSystemLayer::create();
    mOrbitLayer->setRadius(normalModeRadius());
    mOrbitLayer->setDelegate(self);
    mOrbitLayer->setFrame(
        Geometry::makeIntegralCGRect(Rect(0, 0, kSolarOrbitLayerSide, kSolarOrbitLayerSide)));
    layer()->addSublayer(mOrbitLayer);

    mSolarRotationGestureRecognizer = SolarRotationGestureRecognizer::create(self);
    ensureIdeaAddersWhenEmpty();
    mLongTapAndDragDetector = LongTapAndDragDetector::create();
    mLongTapAndDragDetector->setDelegate(self);
    updateView();

    std::weak_ptr<SolarSystem> weak = self;
    mAppearanceObserver = NotificationCenter::defaultCenter().addObserver(
        Globals::AppearanceSettingsChangedNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (auto view = weak.lock())
                view->appearanceSettingsChanged();
        });
}

// ---- Filling ----

void SolarSystem::setParentIdea(const std::shared_ptr<Idea>& parent, bool asLink)
{
    if (!parent) {
        Log::assertionFailure(kSolarNilParentIdeaLine, kSolarSetParentIdeaMethod);
        return;
    }
    if (mParentView)
        mParentView->removeFromSuperview();
    const QVImage image = parent->image();
    mParentView = image.hasImage()
                      ? ParentIdeaView::createWithImage(image)
                      : ParentIdeaView::createWithText(parent->text(), DrawnColor::ofIdea(*parent));
    mShowingLink = asLink;
    mParentView->setObjectTag(parent);
    mParentView->setDelegate(sharedAs<SolarSystem>());
    addSubview(mParentView);
    rebuildLineLayer();
}

void SolarSystem::setCentralIdea(const std::shared_ptr<Idea>& idea)
{
    if (!idea)
        Log::assertionFailure(kSolarNilCentralIdeaLine, kSolarSetCentralIdeaMethod);
    if (!mCentralView) {
        mCentralView = SimpleIdeaView::create(idea ? idea->text() : QString(), kSolarCentralRole);
        addSubview(mCentralView);
        mCentralView->setScale(scalingFactor());
        ViewExtensions::setCenter(*mCentralView, ViewExtensions::centerPoint(*this));
        ViewExtensions::ensureIntegralFrame(*mCentralView);
    }
    mCentralView->changeText(idea ? idea->text() : QString());
    mCentralView->setIconImage(idea ? idea->iconImage() : nullptr);
    const QString note = idea ? idea->note() : QString();
    mCentralView->setNote(note.isNull() ? std::nullopt : std::optional<QString>(note));
    mCentralView->setHasWebLink(idea && idea->hasURL());
    mCentralView->setBaseColor(idea ? DrawnColor::ofIdea(*idea) : nullptr);
    mCentralView->setImage(idea ? idea->image() : QVImage());
    mCentralView->setIdeaIdentifier(idea ? idea->identifier() : QString());
    mCentralView->setDocIdentifier(mDocIdentifier);
    rebuildLineLayer();
}

void SolarSystem::startUpdate()
{
    ++mUpdateSemaphore;
}

void SolarSystem::endUpdate()
{
    if (mUpdateSemaphore == 0)
        return;
    if (--mUpdateSemaphore == 0)
        updateView();
}

void SolarSystem::rebuildLineLayer()
{
    if (mLineLayer) {
        mLineLayer->removeFromSuperlayer();
        mLineLayer.reset();
    }
    if (!mParentView || !mCentralView)
        return;
    SolarNoActions noActions;
    mLineLayer = LineLayer::create(Point(0, 0), ViewExtensions::center(*mCentralView), mShowingLink);
    mLineLayer->setDelegate(sharedAs<SolarSystem>());
    layer()->insertSublayerBelow(mLineLayer, mOrbitLayer.get());
}

// ---- Children ----

std::shared_ptr<IdeaAdderView> SolarSystem::makeAdder(const std::shared_ptr<Idea>& tag)
{
    auto adder = IdeaAdderView::create();
    adder->setObjectTag(tag);
    adder->setDelegate(sharedAs<SolarSystem>());
    adder->setAdderState(mDockingMode ? kSolarAdderDockState : kSolarAdderPlusState);
    return adder;
}

void SolarSystem::ensureIdeaAddersWhenEmpty()
{
    if (!mIdeaAdderViews.empty())
        return;
    for (int i = 0; i < kSolarPlaceholderAdders; ++i) {
        auto adder = makeAdder(nullptr);
        addSubview(adder);
        const Point centre = ViewExtensions::center(*adder);
        insertAdder(i, nullptr, centre, std::move(adder));
    }
    updateView();
}

void SolarSystem::addIdea(const std::shared_ptr<Idea>& idea)
{
    insertIdea(idea, ideaViewCount() - 1);
}

void SolarSystem::insertIdea(const std::shared_ptr<Idea>& idea, std::int64_t afterIndex)
{
    if (!idea) {
        Log::assertionFailure(kSolarNilInsertedIdeaLine, kSolarInsertIdeaMethod);
        return;
    }
    const std::int64_t planets = ideaViewCount();
    const std::int64_t adders = ideaAdderViewCount();
    const std::int64_t j = SolarLayout::wrapIndex(adders + afterIndex, adders);
    const std::int64_t ins = std::clamp<std::int64_t>(afterIndex + 1, 0, planets);

    float offset = mCurrentAngle;
    if (mUpdateSemaphore == 0)
        offset = angleOffsetForShowingElementAtIndex(ins, planets + 1, currentAngleForAdderAtIndex(j));
    // The new planet and adder grow out of adder j: take its place before the placeholders go.
    const Point origin = adders > 0 ? adderCentre(j) : ViewExtensions::centerPoint(*this);
    if (planets == 0) {
        for (const auto& placeholder : mIdeaAdderViews)
            if (placeholder)
                placeholder->removeFromSuperview();
        mAdderTags.clear();
        mIdeaAdderViews.clear();
        mAdderCentres.clear();
    }

    SolarNoActions noActions;
    // Views are made by the layout for the adders and planets it shows.
    const std::int64_t adderIns = std::clamp<std::int64_t>(ins, 0, ideaAdderViewCount());
    insertAdder(adderIns, idea, origin, nullptr);

    // Its layer is made by the layout when it is drawn; until then it waits where it grows from.
    mIdeas.insert(mIdeas.begin() + ins, idea);
    mIdeaViews.insert(mIdeaViews.begin() + ins, nullptr);
    // The shadow belongs to its idea, whose index moves with the insertion.
    if (mShadowIndex != SolarLayout::kNotFound && mShadowIndex >= ins)
        ++mShadowIndex;
    mPlanetCentres.insert(mPlanetCentres.begin() + ins, origin);
    mPlanetDrawings.insert(mPlanetDrawings.begin() + ins, std::uint8_t(PlanetCrowding::Drawing::Cached));

    mCurrentAngle = offset;
    updateView();
}

void SolarSystem::removeIdeaAtIndex(std::int64_t index)
{
    if (!validPlanetIndex(index)) {
        Log::assertionFailure(kSolarBadIndexLine, kSolarRemoveIdeaMethod);
        return;
    }
    const float removedAngle = currentAngleForIdeaAtIndex(index);
    if (const auto& planet = mIdeaViews[std::size_t(index)])
        planet->removeFromSuperlayer();
    mIdeas.erase(mIdeas.begin() + index);
    mIdeaViews.erase(mIdeaViews.begin() + index);
    if (mShadowIndex == index)
        mShadowIndex = SolarLayout::kNotFound;
    else if (mShadowIndex != SolarLayout::kNotFound && mShadowIndex > index)
        --mShadowIndex;
    mPlanetCentres.erase(mPlanetCentres.begin() + index);
    mPlanetDrawings.erase(mPlanetDrawings.begin() + index);
    if (index < ideaAdderViewCount()) {
        if (const auto& adder = mIdeaAdderViews[std::size_t(index)])
            adder->removeFromSuperview();
        mAdderTags.erase(mAdderTags.begin() + index);
        mIdeaAdderViews.erase(mIdeaAdderViews.begin() + index);
        mAdderCentres.erase(mAdderCentres.begin() + index);
    }
    if (mIdeaAdderViews.empty())
        ensureIdeaAddersWhenEmpty();
    const std::int64_t n = ideaViewCount();
    if (n > 0) {
        const std::int64_t before = SolarLayout::circleIndexBefore(index, n);
        const std::int64_t after = SolarLayout::circleIndexAfter(before, n);
        const float mid = Geometry::interpolateAngleFrom(currentAngleForIdeaAtIndex(before),
                                                         currentAngleForIdeaAtIndex(after), 0.5f);
        mCurrentAngle += Geometry::minimumAngleFrom(mid, removedAngle);
    }
    updateView();
}

void SolarSystem::moveIdea(const std::shared_ptr<Idea>& idea, std::int64_t fromIndex, std::int64_t afterIndex)
{
    Q_UNUSED(idea);
    const std::int64_t n = ideaViewCount();
    if (!validPlanetIndex(fromIndex) || afterIndex < -1 || afterIndex > n) {
        Log::assertionFailure(kSolarBadIndexLine, kSolarMoveIdeaMethod);
        return;
    }
    const std::int64_t t = afterIndex < fromIndex ? afterIndex - 1 : afterIndex;
    const std::int64_t j = SolarLayout::wrapIndex(ideaAdderViewCount() + t, ideaAdderViewCount());
    const float offset = angleOffsetForShowingElementAtIndex(afterIndex, n, currentAngleForAdderAtIndex(j));

    const std::int64_t target = std::clamp<std::int64_t>(t > fromIndex ? t - 1 : t, 0, n - 1);
    const auto move = [fromIndex, target](auto& list) {
        auto item = std::move(list[std::size_t(fromIndex)]);
        list.erase(list.begin() + fromIndex);
        list.insert(list.begin() + target, std::move(item));
    };
    move(mIdeas);
    move(mIdeaViews);
    move(mPlanetCentres);
    move(mPlanetDrawings);
    if (mShadowIndex == fromIndex) {
        mShadowIndex = target;
    } else if (mShadowIndex != SolarLayout::kNotFound) {
        if (mShadowIndex > fromIndex)
            --mShadowIndex;
        if (mShadowIndex >= target)
            ++mShadowIndex;
    }

    mCurrentAngle = offset;
    updateView();
}

void SolarSystem::modifyIdea(const std::shared_ptr<Idea>& idea, std::int64_t index)
{
    if (!validPlanetIndex(index) || !idea) {
        Log::assertionFailure(kSolarBadIndexLine, kSolarModifyIdeaMethod);
        return;
    }
    mIdeas[std::size_t(index)] = idea;
    if (const auto& planet = mIdeaViews[std::size_t(index)])
        planet->updateWithIdea(idea.get(), mDocIdentifier);
    updateView();
}

// ---- Layout ----

double SolarSystem::scalingFactor() const
{
    return SolarLayout::scalingFactor(bounds().size);
}

double SolarSystem::minRadius() const
{
    return SolarLayout::minRadius(bounds().size);
}

double SolarSystem::maxRadius() const
{
    return SolarLayout::maxRadius(bounds().size);
}

double SolarSystem::radiusAllowing(std::int64_t count) const
{
    return SolarLayout::radiusAllowing(bounds().size, count);
}

std::int64_t SolarSystem::elementsFittingRadius(float radius) const
{
    return SolarLayout::elementsFittingRadius(bounds().size, radius);
}

SolarLayout SolarSystem::solarLayout() const
{
    return SolarLayout(bounds().size, mRadius, ideaViewCount());
}

Point SolarSystem::centralCentre() const
{
    return mCentralView ? ViewExtensions::center(*mCentralView) : ViewExtensions::centerPoint(*this);
}

void SolarSystem::centreCentralView()
{
    if (!mCentralView)
        return;
    mCentralView->setScale(scalingFactor());
    ViewExtensions::setCenter(*mCentralView, ViewExtensions::centerPoint(*this));
}

void SolarSystem::placeOrbitLayer()
{
    placeLayerCentre(*mOrbitLayer, centralCentre());
}

void SolarSystem::placeLayerCentre(Layer& layer, Point centre)
{
    const Point anchor = layer.anchorPoint();
    const Size size = layer.bounds().size;
    layer.setPosition(
        Point(centre.x + (anchor.x - 0.5) * size.width, centre.y + (anchor.y - 0.5) * size.height));
}

void SolarSystem::updateView()
{
    if (mUpdateSemaphore > 0)
        return;
    SolarNoActions noActions;
    if (!mAnimating) {
        mRadius = SolarLayout::orbitRadiusFor(bounds().size, ideaViewCount());
        centreCentralView();
        mOrbitLayer->setRadius(mRadius);
        placeOrbitLayer();
        if (mCentralView)
            ViewExtensions::ensureIntegralFrame(*mCentralView);
    }
    updateViewScaled();
}

void SolarSystem::updateViewScaled()
{
    SolarNoActions noActions;
    const Point c = centralCentre();
    const float r = mRadius;
    const double scale = scalingFactor();
    const SolarLayout layout = solarLayout();
    const std::int64_t planets = ideaViewCount();
    std::int64_t lowest = 0;
    float lowestAngle = std::numeric_limits<float>::infinity();
    std::vector<Point> centres(std::size_t(std::max<std::int64_t>(planets, 0)));
    for (std::int64_t i = 0; i < planets; ++i) {
        const float a = layout.angleForPlanetAtIndex(i, mCurrentAngle);
        centres[std::size_t(i)] = Point(c.x + double(r * std::cos(a)), c.y + double(r * std::sin(a)));
        if (a < lowestAngle) {
            lowestAngle = a;
            lowest = i;
        }
    }
    mPlanetDrawings = crowdedDrawings(lowest, centres);
    mPlanetCentres = std::move(centres);
    // Only drawn planets need a layer; a covered one keeps its layer while a drill moves it.
    for (std::int64_t i = 0; i < planets; ++i) {
        const bool covered =
            PlanetCrowding::Drawing(mPlanetDrawings[std::size_t(i)]) == PlanetCrowding::Drawing::Covered;
        if (covered && !mAnimating)
            releasePlanetIfUnused(i);
        if (!covered)
            makePlanet(i, mAnimating);
        const auto& planet = mIdeaViews[std::size_t(i)];
        if (!planet)
            continue;
        if (!mAnimating) {
            planet->setScale(scale);
            planet->resizeToScale();
        }
        placePlanet(*planet, i);
    }
    placeAdders(layout, c, r);
    if (!mAnimating)
        restackPlanets(lowest);
}

void SolarSystem::restackPlanets(std::int64_t lowest)
{
    // Each planet lies above the one before it, going round from the smallest angle, all of
    // them above the view's other layers. Taking every planet out and adding it again costs a
    // relink per planet, so it is done only when the order on top is not already that one.
    const std::int64_t planets = ideaViewCount();
    mStackLowest = lowest;
    std::vector<const std::shared_ptr<PlanetLayer>*> made;
    for (std::int64_t k = 0; k < planets; ++k)
        if (const auto& planet = mIdeaViews[std::size_t((lowest + k) % planets)])
            made.push_back(&planet);
    if (made.empty())
        return;
    const auto& sublayers = layer()->sublayers();
    bool inOrder = sublayers.size() >= made.size();
    const std::size_t first = sublayers.size() - std::min(made.size(), sublayers.size());
    for (std::size_t k = 0; inOrder && k < made.size(); ++k)
        inOrder = sublayers[first + k] == *made[k];
    if (inOrder)
        return;
    for (const auto* planet : made)
        (*planet)->removeFromSuperlayer();
    for (const auto* planet : made)
        layer()->addSublayer(*planet);
}

std::vector<std::uint8_t> SolarSystem::crowdedDrawings(std::int64_t lowest,
                                                       const std::vector<Point>& centres) const
{
    const std::size_t planets = centres.size();
    std::vector<std::uint8_t> byIndex(planets, std::uint8_t(PlanetCrowding::Drawing::Cached));
    if (planets == 0)
        return byIndex;
    // In stacking order, as restackPlanets puts them.
    std::vector<Point> stacked(planets);
    for (std::size_t k = 0; k < planets; ++k)
        stacked[k] = centres[(std::size_t(lowest) + k) % planets];
    const auto drawings = PlanetCrowding::drawings(stacked, planetRadius(), mOrbitLayer->contentsScale());
    for (std::size_t k = 0; k < planets; ++k)
        byIndex[(std::size_t(lowest) + k) % planets] = std::uint8_t(drawings[k]);
    return byIndex;
}

void SolarSystem::applyLayout()
{
    BaseView::applyLayout();
    if (!mAnimating)
        performLayout();
}

void SolarSystem::performLayout()
{
    SolarNoActions noActions;
    centreCentralView();
    placeOrbitLayer();
    if (!mAnimating && mCentralView)
        ViewExtensions::ensureIntegralFrame(*mCentralView);
    if (mParentView)
        ViewExtensions::setTopLeftCorner(*mParentView, Point(0, 0));
    if (mLineLayer)
        mLineLayer->animateToLineFrom(Point(0, 0), centralCentre(), true);
    updateView();
}

// ---- Queries ----

void SolarSystem::setCurrentAngle(float angle)
{
    if (!std::isfinite(angle))
        return;
    mCurrentAngle = angle;
    updateView();
}

bool SolarSystem::validPlanetIndex(std::int64_t index) const
{
    return index >= 0 && index < ideaViewCount();
}

std::int64_t SolarSystem::ideaViewCount() const
{
    return std::int64_t(mIdeaViews.size());
}

std::shared_ptr<PlanetLayer> SolarSystem::ideaViewAtIndex(std::int64_t index) const
{
    if (!validPlanetIndex(index))
        return nullptr;
    // A layer is a drawing made when wanted; asking for it changes nothing one can see.
    return const_cast<SolarSystem*>(this)->makePlanet(index, true);
}

std::int64_t SolarSystem::ideaAdderViewCount() const
{
    return std::int64_t(mIdeaAdderViews.size());
}

std::int64_t SolarSystem::indexOfAdder(const IdeaAdderView* adder) const
{
    for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i)
        if (mIdeaAdderViews[i].get() == adder)
            return std::int64_t(i);
    return SolarLayout::kNotFound;
}

float SolarSystem::currentAngleForIdeaAtIndex(std::int64_t index) const
{
    return solarLayout().angleForPlanetAtIndex(index, mCurrentAngle);
}

float SolarSystem::currentAngleForAdderAtIndex(std::int64_t index) const
{
    return solarLayout().angleForAdderAtIndex(index, ideaAdderViewCount(), mCurrentAngle);
}

float SolarSystem::angleForElementAtIndex(std::int64_t index, std::int64_t count, float offset) const
{
    return solarLayout().angleForElementAtIndex(index, count, offset);
}

float SolarSystem::angleOffsetForShowingElementAtIndex(std::int64_t index, std::int64_t count,
                                                       float angle) const
{
    return solarLayout().angleOffsetForShowingElementAtIndex(index, count, angle);
}

Rect SolarSystem::popoverRectForIdeaAtIndex(std::int64_t index) const
{
    const auto planet = ideaViewAtIndex(index);
    return planet ? planet->frame() : Rect();
}

void SolarSystem::setShadowForIdeaAtIndex(std::int64_t index)
{
    mShadowIndex = index;
    for (std::size_t i = 0; i < mIdeaViews.size(); ++i)
        if (mIdeaViews[i])
            mIdeaViews[i]->setShadowMode(std::int64_t(i) == index);
}

void SolarSystem::removeAllShadows()
{
    setShadowForIdeaAtIndex(SolarLayout::kNotFound);
}

void SolarSystem::setDockingMode(bool docking)
{
    mDockingMode = docking;
    for (const auto& adder : mIdeaAdderViews) {
        if (!adder)
            continue;
        if (docking) {
            adder->setAdderState(kSolarAdderDockState);
        } else {
            adder->setAdderState(kSolarAdderPlusState);
            adder->setInFocus(false);
        }
    }
    updateView();
}

void SolarSystem::appearanceSettingsChanged()
{
    for (const auto& planet : mIdeaViews) {
        if (!planet)
            continue;
        planet->updateAppearance();
        planet->setNeedsDisplay();
    }
}

// ---- Focus for drops ----

std::shared_ptr<SolarFocusObject> SolarSystem::closestViewToPoint(Point point, const View* inView,
                                                                  float* outDistance) const
{
    const Point p = convertPointFromView(point, inView);
    float best = std::numeric_limits<float>::max();
    std::shared_ptr<SolarFocusObject> focus;
    if (mParentView) {
        const Point m = ViewExtensions::center(*mParentView);
        best = std::max(float(std::max(p.x - m.x, 0.0)), float(std::max(p.y - m.y, 0.0)));
        focus = std::make_shared<SolarFocusObject>(mParentView, SolarFocusObject::ParentFocus, 0);
    }
    std::int64_t nearestAdder = SolarLayout::kNotFound;
    for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i) {
        const auto& adder = mIdeaAdderViews[i];
        if (adder && adder->isHidden())
            continue;
        const float d = Geometry::distanceFrom(p, adderCentre(std::int64_t(i)));
        if (d < best) {
            best = d;
            nearestAdder = std::int64_t(i);
        }
    }
    std::int64_t nearestPlanet = SolarLayout::kNotFound;
    for (std::size_t i = 0; i < mIdeas.size(); ++i) {
        if (mIdeas[i]->isLink())
            continue;
        const float d = Geometry::distanceFrom(p, planetCentre(std::int64_t(i)));
        if (d < best) {
            best = d;
            nearestPlanet = std::int64_t(i);
        }
    }
    if (nearestAdder != SolarLayout::kNotFound && nearestPlanet == SolarLayout::kNotFound)
        focus = std::make_shared<SolarFocusObject>(ideaAdderViewAtIndex(nearestAdder),
                                                   SolarFocusObject::AdderFocus, qint64(nearestAdder));
    if (nearestPlanet != SolarLayout::kNotFound)
        focus = std::make_shared<SolarFocusObject>(ideaViewAtIndex(nearestPlanet),
                                                   SolarFocusObject::PlanetFocus, qint64(nearestPlanet));
    if (outDistance)
        *outDistance = best;
    return focus;
}

float SolarSystem::updateFocusBasedOnPoint(Point point, const View* inView)
{
    float distance = std::numeric_limits<float>::max();
    auto focus = closestViewToPoint(point, inView, &distance);
    if (distance > kFocusDistanceLimit) {
        focus.reset();
        distance = std::numeric_limits<float>::max();
    }
    mObjectAtFocus = focus;
    markViewInFocus(mObjectAtFocus, distance);
    return distance;
}

void SolarSystem::stopFocusing()
{
    mObjectAtFocus.reset();
    markViewInFocus(nullptr, std::numeric_limits<float>::max());
}

void SolarSystem::markViewInFocus(const std::shared_ptr<SolarFocusObject>& focus, float distance)
{
    SolarNoActions noActions;
    const bool adderFocus = focus && focus->focusType() == SolarFocusObject::AdderFocus;
    const bool planetFocus = focus && focus->focusType() == SolarFocusObject::PlanetFocus;
    for (std::size_t i = 0; i < mIdeaAdderViews.size(); ++i)
        if (mIdeaAdderViews[i])
            mIdeaAdderViews[i]->setInFocus(adderFocus && focus->index() == qint64(i));
    for (std::size_t i = 0; i < mIdeaViews.size(); ++i) {
        if (!mIdeaViews[i])
            continue;
        const bool focused = planetFocus && focus->index() == qint64(i);
        const float scale = focused ? Geometry::interpolateLinearlyFrom(1.1f, 1.0f, distance / 80.0f) : 1.0f;
        LayerExtensions::transformToScale(*mIdeaViews[i], double(scale));
    }
}

} // namespace corvex
