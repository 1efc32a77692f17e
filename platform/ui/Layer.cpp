#include "platform/ui/Layer.h"

#include "platform/core/BackgroundDrawing.h"
#include "platform/core/DispatchApply.h"

#include "platform/core/Log.h"
#include "platform/core/Scheduler.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/AnimationDelegate.h"
#include "platform/ui/AnimationDriver.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/FlipTransform_p.h"
#include "platform/ui/FrameTrace.h"
#include "platform/ui/LayerAnimator.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/Transaction.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>
#include <utility>

namespace corvex {

namespace {

// The largest drawn contents: the bitmap contexts' limit.
constexpr double kMaxContentsSide = 16384;

// Animations end at most this early, so that a step scheduled for the exact end time is not
// missed by a rounding error of the clock arithmetic.
constexpr double kEndSlack = 1e-9;

// The first component of a key path names the property its change belongs to.
QString propertyOf(const QString& keyPath)
{
    const qsizetype dot = keyPath.indexOf(QLatin1Char('.'));
    return dot < 0 ? keyPath : keyPath.left(dot);
}

Layer::DirtyFlags flagFor(const QString& property)
{
    static const struct
    {
        const char* key;
        Layer::DirtyFlags flag;
    } table[] = {
        {"position", Layer::DirtyPosition},         {"bounds", Layer::DirtyBounds},
        {"anchorPoint", Layer::DirtyAnchorPoint},   {"transform", Layer::DirtyTransform},
        {"opacity", Layer::DirtyOpacity},           {"backgroundColor", Layer::DirtyBackground},
        {"borderColor", Layer::DirtyBorder},        {"borderWidth", Layer::DirtyBorder},
        {"cornerRadius", Layer::DirtyCornerRadius},
    };
    for (const auto& entry : table) {
        if (property == QLatin1String(entry.key))
            return entry.flag;
    }
    return 0;
}

QString dumpNumber(double v)
{
    return QString::number(v, 'g', 10);
}

} // namespace

Layer::Layer()
{
    Transaction::ensureOpen();
    mBornIn = Transaction::openGeneration();
}

Layer::Layer(const Layer& other)
    : std::enable_shared_from_this<Layer>(), mModel(other.mModel), mDelegate(other.mDelegate),
      mContents(other.mContents), mContentsScale(other.mContentsScale), mZPosition(other.mZPosition),
      mHidden(other.mHidden), mGeometryFlipped(other.mGeometryFlipped), mMasksToBounds(other.mMasksToBounds),
      mOpaque(other.mOpaque), mNeedsDisplayOnBoundsChange(other.mNeedsDisplayOnBoundsChange),
      mDrawsDirectly(other.mDrawsDirectly)
{
    if (other.mExtras) {
        extras().name = other.mExtras->name;
        mExtras->actions = other.mExtras->actions;
        mExtras->edgeAntialiasingMask = other.mExtras->edgeAntialiasingMask;
        mExtras->maskPath = other.mExtras->maskPath;
    }
    Transaction::ensureOpen();
    mBornIn = Transaction::openGeneration();
}

Layer::~Layer()
{
    // Sublayers that live on become roots of their own, taking their pending changes along.
    for (const auto& sublayer : mSublayers) {
        sublayer->mSuperlayer = nullptr;
        sublayer->relinkDirtySubtree();
    }
    if (mExtras) {
        // Running animations end unfinished, so that their transactions still complete.
        std::vector<AnimationRecord> records;
        records.swap(mExtras->animations);
        for (AnimationRecord& record : records) {
            if (!record.ended)
                endRecord(record, false);
        }
    }
}

std::shared_ptr<Layer> Layer::create()
{
    return std::make_shared<Layer>();
}

std::shared_ptr<Layer> Layer::createBackingLayer(bool flipped)
{
    auto layer = std::make_shared<Layer>();
    layer->prepareAsBackingLayer(flipped);
    return layer;
}

void Layer::prepareAsBackingLayer(bool flipped)
{
    setModelValue(QStringLiteral("anchorPoint"), Point(0, 0), false);
    setGeometryFlipped(flipped);
}

QString Layer::className() const
{
    return QStringLiteral("Layer");
}

Layer::Extras& Layer::extras()
{
    if (!mExtras)
        mExtras = std::make_unique<Extras>();
    return *mExtras;
}

// ---- Changes and actions ----

template <class Mutate> void Layer::changeAnimatable(const QString& key, DirtyFlags flag, Mutate&& mutate)
{
    LayerProperties next = mModel;
    mutate(next);
    if (next == mModel)
        return;
    const bool open = Transaction::ensureOpen();
    std::shared_ptr<Animation> animation;
    AnimationValue from;
    if (open && isCommitted()) {
        const LayerAction action = actionForKey(key);
        if (action.kind() == LayerAction::Kind::Animate) {
            animation = action.animation()->clone();
            if (auto* basic = dynamic_cast<BasicAnimation*>(animation.get())) {
                if (basic->keyPath().isEmpty())
                    basic->setKeyPath(key);
                // A template without values animates from what is presented now.
                if (!basic->hasValues())
                    from = presentationValue(basic->keyPath());
            }
        }
    }
    mModel = std::move(next);
    markDirty(flag);
    if (!animation)
        return;
    if (auto* basic = dynamic_cast<BasicAnimation*>(animation.get()); basic && !from.isNull()) {
        basic->setFromValue(from);
        basic->setToValue(mModel.value(basic->keyPath()));
    }
    addAnimationRecord(animation, key, true);
}

void Layer::setModelValue(const QString& keyPath, const AnimationValue& value, bool withActions)
{
    const QString property = propertyOf(keyPath);
    const DirtyFlags flag = flagFor(property);
    if (flag == 0)
        return;
    const auto mutate = [&](LayerProperties& p) { p.setValue(keyPath, value); };
    if (withActions) {
        changeAnimatable(property, flag, mutate);
        return;
    }
    LayerProperties next = mModel;
    mutate(next);
    if (next == mModel)
        return;
    mModel = std::move(next);
    markDirty(flag);
}

void Layer::setBounds(const Rect& bounds)
{
    const Size old = mModel.bounds.size;
    changeAnimatable(QStringLiteral("bounds"), DirtyBounds, [&](LayerProperties& p) { p.bounds = bounds; });
    if (mNeedsDisplayOnBoundsChange && !(mModel.bounds.size == old))
        setNeedsDisplay();
}

void Layer::setPosition(Point position)
{
    changeAnimatable(QStringLiteral("position"), DirtyPosition,
                     [&](LayerProperties& p) { p.position = position; });
}

void Layer::setAnchorPoint(Point anchorPoint)
{
    changeAnimatable(QStringLiteral("anchorPoint"), DirtyAnchorPoint,
                     [&](LayerProperties& p) { p.anchorPoint = anchorPoint; });
}

void Layer::setTransform(const Transform3D& transform)
{
    changeAnimatable(QStringLiteral("transform"), DirtyTransform,
                     [&](LayerProperties& p) { p.transform = transform; });
}

void Layer::setAffineTransform(const AffineTransform& transform)
{
    setTransform(Transform3D::makeAffine(transform));
}

void Layer::setFrame(const Rect& frame)
{
    const Rect f = frame.standardized();
    const Point anchor = mModel.anchorPoint;
    setPosition(Point(f.origin.x + anchor.x * f.size.width, f.origin.y + anchor.y * f.size.height));
    setBounds(Rect(mModel.bounds.origin, f.size));
}

void Layer::setOpacity(float opacity)
{
    changeAnimatable(QStringLiteral("opacity"), DirtyOpacity,
                     [&](LayerProperties& p) { p.opacity = opacity; });
}

void Layer::setHidden(bool hidden)
{
    if (mHidden == hidden)
        return;
    mHidden = hidden;
    markDirty(DirtyHidden);
}

void Layer::setGeometryFlipped(bool flipped)
{
    if (mGeometryFlipped == flipped)
        return;
    mGeometryFlipped = flipped;
    markDirty(DirtyGeometryFlipped);
}

bool Layer::contentsAreFlipped() const
{
    bool flipped = false;
    for (const Layer* layer = this; layer; layer = layer->mSuperlayer)
        flipped ^= layer->mGeometryFlipped;
    return flipped;
}

void Layer::setBackgroundColor(const PlatformColor& color)
{
    changeAnimatable(QStringLiteral("backgroundColor"), DirtyBackground,
                     [&](LayerProperties& p) { p.backgroundColor = color; });
}

void Layer::setBorderColor(const PlatformColor& color)
{
    changeAnimatable(QStringLiteral("borderColor"), DirtyBorder,
                     [&](LayerProperties& p) { p.borderColor = color; });
}

void Layer::setBorderWidth(double width)
{
    changeAnimatable(QStringLiteral("borderWidth"), DirtyBorder,
                     [&](LayerProperties& p) { p.borderWidth = width; });
}

void Layer::setCornerRadius(double radius)
{
    changeAnimatable(QStringLiteral("cornerRadius"), DirtyCornerRadius,
                     [&](LayerProperties& p) { p.cornerRadius = radius; });
}

void Layer::setMasksToBounds(bool masks)
{
    if (mMasksToBounds == masks)
        return;
    mMasksToBounds = masks;
    markDirty(DirtyMasksToBounds);
}

const std::optional<Path>& Layer::maskPath() const
{
    static const std::optional<Path> none;
    return mExtras ? mExtras->maskPath : none;
}

void Layer::setMaskPath(std::optional<Path> path)
{
    if (!path && !maskPath())
        return;
    extras().maskPath = std::move(path);
    markDirty(DirtyMaskPath);
}

void Layer::setZPosition(double zPosition)
{
    // NaN would break the ordering of siblings.
    const double value = std::isnan(zPosition) ? 0.0 : zPosition;
    if (value == mZPosition)
        return;
    mZPosition = value;
    markDirty(DirtyZPosition);
}

std::vector<Layer*> Layer::sublayersInDrawingOrder() const
{
    std::vector<Layer*> ordered;
    ordered.reserve(mSublayers.size());
    for (const auto& sublayer : mSublayers)
        ordered.push_back(sublayer.get());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Layer* a, const Layer* b) { return a->mZPosition < b->mZPosition; });
    return ordered;
}

void Layer::setOpaque(bool opaque)
{
    mOpaque = opaque;
}

QString Layer::name() const
{
    return mExtras ? mExtras->name : QString();
}

void Layer::setName(const QString& name)
{
    if (name.isEmpty() && !mExtras)
        return;
    extras().name = name;
}

unsigned Layer::edgeAntialiasingMask() const
{
    return mExtras ? mExtras->edgeAntialiasingMask : unsigned(AllEdges);
}

void Layer::setEdgeAntialiasingMask(unsigned mask)
{
    mask &= AllEdges;
    if (mask == edgeAntialiasingMask())
        return;
    extras().edgeAntialiasingMask = mask;
    markDirty(DirtyContents);
}

void Layer::setValueForKeyPath(const QString& keyPath, const AnimationValue& value)
{
    setModelValue(keyPath, value, true);
}

void Layer::setDelegate(const std::shared_ptr<LayerDelegate>& delegate)
{
    mDelegate = delegate;
}

std::map<QString, LayerAction> Layer::actions() const
{
    return mExtras ? mExtras->actions : std::map<QString, LayerAction>();
}

void Layer::setActions(const std::map<QString, LayerAction>& actions)
{
    if (actions.empty() && !mExtras)
        return;
    extras().actions.clear();
    for (const auto& [key, action] : actions) {
        if (!action.isNoAnswer())
            mExtras->actions.emplace(key, action);
    }
}

void Layer::setAction(const QString& key, const LayerAction& action)
{
    if (action.isNoAnswer()) {
        if (mExtras)
            mExtras->actions.erase(key);
        return;
    }
    extras().actions[key] = action;
}

LayerAction Layer::actionForKey(const QString& key)
{
    if (Transaction::disableActions())
        return LayerAction::null();
    if (auto delegate = mDelegate.lock()) {
        LayerAction answer = delegate->actionForLayer(*this, key);
        if (!answer.isNoAnswer())
            return answer;
    }
    if (mExtras) {
        const auto it = mExtras->actions.find(key);
        if (it != mExtras->actions.end())
            return it->second;
    }
    return defaultActionForKey(key);
}

LayerAction Layer::defaultActionForKey(const QString& key) const
{
    if (flagFor(key) == 0 || !LayerProperties::isKeyPath(key))
        return LayerAction::null();
    return LayerAction::animate(BasicAnimation::create(key));
}

bool Layer::isCommitted() const
{
    return mDrawn || Transaction::committedGeneration() >= mBornIn;
}

// ---- Animations ----

void Layer::addAnimation(const std::shared_ptr<Animation>& animation, const QString& key)
{
    if (!animation)
        return;
    addAnimationRecord(animation->clone(), key, false);
}

void Layer::addAnimationRecord(const std::shared_ptr<Animation>& animation, const QString& key,
                               bool implicitDefaults)
{
    const std::optional<TimingFunction> timing = Transaction::animationTimingFunction();
    animation->fillInDefaults(
        Transaction::animationDuration(),
        timing.value_or(implicitDefaults ? TimingFunction::defaultFunction() : TimingFunction::linear()));
    if (!key.isEmpty())
        removeAnimation(key);

    AnimationRecord record;
    record.key = key;
    record.animation = animation;
    record.start = animation->beginTime() > 0 ? animation->beginTime() : MediaClock::now();
    record.transactionEnded = Transaction::trackAnimation();
    extras().animations.push_back(std::move(record));
    markDirty(DirtyAnimations);

    if (auto delegate = animation->delegate()) {
        AnimationDriver::deliver([weak = std::weak_ptr<AnimationDelegate>(delegate), animation] {
            if (auto d = weak.lock())
                d->animationDidStart(*animation);
        });
    }
    if (auto self = weak_from_this().lock()) {
        AnimationDriver::instance().watch(self);
    } else {
        Log::warning(
            QStringLiteral("Layer::addAnimation: the layer is not held by a shared_ptr; its animations "
                           "are shown but never stepped to their end"));
    }
}

void Layer::endRecord(AnimationRecord& record, bool finished)
{
    record.ended = true;
    const std::shared_ptr<Animation> animation = record.animation;
    if (animation->hasCompletion())
        AnimationDriver::deliver([animation, finished] { animation->complete(finished); });
    if (auto delegate = animation->delegate()) {
        AnimationDriver::deliver([weak = std::weak_ptr<AnimationDelegate>(delegate), animation, finished] {
            if (auto d = weak.lock())
                d->animationDidStop(*animation, finished);
        });
    }
    // After the animation's own completion, so that a transaction's block runs last.
    if (auto ended = std::move(record.transactionEnded))
        ended();
    record.transactionEnded = nullptr;
}

void Layer::removeAnimation(const QString& key)
{
    if (!mExtras || key.isEmpty())
        return;
    auto& records = mExtras->animations;
    const auto it =
        std::find_if(records.begin(), records.end(), [&](const AnimationRecord& r) { return r.key == key; });
    if (it == records.end())
        return;
    AnimationRecord record = std::move(*it);
    records.erase(it);
    markDirty(DirtyAnimations);
    if (!record.ended)
        endRecord(record, false);
}

void Layer::removeAllAnimations()
{
    if (!mExtras || mExtras->animations.empty())
        return;
    std::vector<AnimationRecord> records;
    records.swap(mExtras->animations);
    markDirty(DirtyAnimations);
    for (AnimationRecord& record : records) {
        if (!record.ended)
            endRecord(record, false);
    }
}

std::shared_ptr<const Animation> Layer::animationForKey(const QString& key) const
{
    if (!mExtras || key.isEmpty())
        return nullptr;
    for (const AnimationRecord& record : mExtras->animations) {
        if (record.key == key)
            return record.animation;
    }
    return nullptr;
}

QStringList Layer::animationKeys() const
{
    QStringList keys;
    if (!mExtras)
        return keys;
    for (const AnimationRecord& record : mExtras->animations) {
        if (!record.key.isEmpty())
            keys.append(record.key);
    }
    return keys;
}

bool Layer::hasAnimations() const
{
    return mExtras && !mExtras->animations.empty();
}

double Layer::stepAnimations(double now)
{
    double wake = std::numeric_limits<double>::infinity();
    if (!mExtras)
        return wake;
    auto& records = mExtras->animations;
    for (std::size_t i = 0; i < records.size();) {
        AnimationRecord& record = records[i];
        if (record.ended) {
            ++i;
            continue;
        }
        const double end = record.start + record.animation->duration();
        if (now + kEndSlack < end) {
            wake = std::min(wake, now < record.start ? record.start : end);
            ++i;
            continue;
        }
        if (!record.animation->isRemovedOnCompletion()) {
            endRecord(record, true);
            ++i;
            continue;
        }
        AnimationRecord finished = std::move(record);
        records.erase(records.begin() + std::ptrdiff_t(i));
        markDirty(DirtyAnimations);
        endRecord(finished, true);
    }
    return wake;
}

LayerProperties Layer::presentationProperties() const
{
    if (!mExtras || mExtras->animations.empty())
        return mModel;
    return presentationPropertiesAt(MediaClock::now());
}

LayerProperties Layer::presentationPropertiesAt(double now) const
{
    if (!mExtras || mExtras->animations.empty())
        return mModel;
    LayerProperties properties = mModel;
    for (const AnimationRecord& record : mExtras->animations) {
        double local = now - record.start;
        if (local < 0)
            continue;
        const double duration = record.animation->duration();
        if (local + kEndSlack >= duration) {
            if (record.animation->isRemovedOnCompletion())
                continue;
            local = duration;
        }
        record.animation->apply(properties, local);
    }
    return properties;
}

AnimationValue Layer::presentationValue(const QString& keyPath) const
{
    if (!mExtras || mExtras->animations.empty())
        return mModel.value(keyPath);
    return presentationProperties().value(keyPath);
}

LayerAnimator Layer::animator()
{
    return LayerAnimator(weak_from_this().lock());
}

// ---- Tree ----

std::shared_ptr<Layer> Layer::superlayer() const
{
    return mSuperlayer ? mSuperlayer->weak_from_this().lock() : nullptr;
}

void Layer::setSublayers(const std::vector<std::shared_ptr<Layer>>& sublayers)
{
    const std::vector<std::shared_ptr<Layer>> old = mSublayers;
    for (const auto& layer : old) {
        if (std::find(sublayers.begin(), sublayers.end(), layer) == sublayers.end())
            layer->removeFromSuperlayer();
    }
    for (const auto& layer : sublayers)
        insertAt(layer, mSublayers.size());
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer)
{
    insertAt(layer, mSublayers.size());
}

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, int index)
{
    insertAt(layer, std::size_t(std::max(index, 0)));
}

void Layer::insertSublayerBelow(const std::shared_ptr<Layer>& layer, const Layer* sibling)
{
    const auto it = std::find_if(mSublayers.begin(), mSublayers.end(),
                                 [&](const std::shared_ptr<Layer>& l) { return l.get() == sibling; });
    if (it == mSublayers.end()) {
        Log::assertionFailure(QStringLiteral("Layer::insertSublayerBelow: the sibling is not a sublayer"));
        insertAt(layer, mSublayers.size());
        return;
    }
    insertAt(layer, std::size_t(it - mSublayers.begin()));
}

void Layer::insertSublayerAbove(const std::shared_ptr<Layer>& layer, const Layer* sibling)
{
    const auto it = std::find_if(mSublayers.begin(), mSublayers.end(),
                                 [&](const std::shared_ptr<Layer>& l) { return l.get() == sibling; });
    if (it == mSublayers.end()) {
        Log::assertionFailure(QStringLiteral("Layer::insertSublayerAbove: the sibling is not a sublayer"));
        insertAt(layer, mSublayers.size());
        return;
    }
    insertAt(layer, std::size_t(it - mSublayers.begin()) + 1);
}

void Layer::replaceSublayer(const Layer* oldLayer, const std::shared_ptr<Layer>& newLayer)
{
    const auto it = std::find_if(mSublayers.begin(), mSublayers.end(),
                                 [&](const std::shared_ptr<Layer>& l) { return l.get() == oldLayer; });
    if (it == mSublayers.end()) {
        Log::assertionFailure(QStringLiteral("Layer::replaceSublayer: the old layer is not a sublayer"));
        return;
    }
    if (newLayer.get() == oldLayer)
        return;
    const std::size_t index = std::size_t(it - mSublayers.begin());
    const std::shared_ptr<Layer> keep = *it;
    keep->removeFromSuperlayer();
    insertAt(newLayer, index);
}

void Layer::insertAt(const std::shared_ptr<Layer>& layer, std::size_t index)
{
    if (!layer)
        return;
    if (isDescendantOf(layer.get())) {
        Log::assertionFailure(
            QStringLiteral("Layer: a layer cannot become a sublayer of itself or of its own sublayer"));
        return;
    }
    if (layer->mSuperlayer == this) {
        const auto it = std::find(mSublayers.begin(), mSublayers.end(), layer);
        const std::size_t old = std::size_t(it - mSublayers.begin());
        const std::shared_ptr<Layer> keep = layer;
        mSublayers.erase(it);
        if (old < index)
            --index;
        mSublayers.insert(mSublayers.begin() + std::ptrdiff_t(std::min(index, mSublayers.size())), keep);
        markDirty(DirtySublayers);
        return;
    }
    const std::shared_ptr<Layer> keep = layer;
    keep->removeFromSuperlayer();
    mSublayers.insert(mSublayers.begin() + std::ptrdiff_t(std::min(index, mSublayers.size())), keep);
    keep->mSuperlayer = this;
    markDirty(DirtySublayers);
    keep->relinkDirtySubtree();
}

void Layer::removeFromSuperlayer()
{
    Layer* parent = mSuperlayer;
    if (!parent)
        return;
    const auto it = std::find_if(parent->mSublayers.begin(), parent->mSublayers.end(),
                                 [&](const std::shared_ptr<Layer>& l) { return l.get() == this; });
    // The superlayer may hold the last reference: keep this layer alive to the end.
    const std::shared_ptr<Layer> keep = it != parent->mSublayers.end() ? *it : nullptr;
    if (it != parent->mSublayers.end())
        parent->mSublayers.erase(it);
    mSuperlayer = nullptr;
    parent->markDirty(DirtySublayers);
    relinkDirtySubtree();
}

Layer* Layer::rootLayer()
{
    Layer* layer = this;
    while (layer->mSuperlayer)
        layer = layer->mSuperlayer;
    return layer;
}

const Layer* Layer::rootLayer() const
{
    const Layer* layer = this;
    while (layer->mSuperlayer)
        layer = layer->mSuperlayer;
    return layer;
}

bool Layer::isDescendantOf(const Layer* ancestor) const
{
    for (const Layer* layer = this; layer; layer = layer->mSuperlayer) {
        if (layer == ancestor)
            return true;
    }
    return false;
}

// ---- Conversion ----

QTransform Layer::transformToBase() const
{
    QTransform toBase;
    for (const Layer* layer = this; layer; layer = layer->mSuperlayer) {
        if (layer->mGeometryFlipped)
            toBase = toBase * flipWithin(layer->mModel.bounds);
        toBase = toBase * layer->mModel.toSuperlayer();
    }
    return toBase;
}

Point Layer::convertPointToLayer(Point point, const Layer* layer) const
{
    const QPointF base = transformToBase().map(point.toQPointF());
    if (!layer)
        return Point::fromQPointF(base);
    return Point::fromQPointF(layer->transformToBase().inverted().map(base));
}

Point Layer::convertPointFromLayer(Point point, const Layer* layer) const
{
    const QPointF base = layer ? layer->transformToBase().map(point.toQPointF()) : point.toQPointF();
    return Point::fromQPointF(transformToBase().inverted().map(base));
}

Rect Layer::convertRectToLayer(const Rect& rect, const Layer* layer) const
{
    QTransform m = transformToBase();
    if (layer)
        m = m * layer->transformToBase().inverted();
    return Rect::fromQRectF(m.mapRect(rect.toQRectF()));
}

Rect Layer::convertRectFromLayer(const Rect& rect, const Layer* layer) const
{
    QTransform m = layer ? layer->transformToBase() : QTransform();
    m = m * transformToBase().inverted();
    return Rect::fromQRectF(m.mapRect(rect.toQRectF()));
}

bool Layer::containsPoint(Point point) const
{
    return mModel.bounds.contains(point);
}

std::shared_ptr<Layer> Layer::hitTest(Point pointInSuperlayer)
{
    if (mHidden)
        return nullptr;
    QTransform toOwn = mModel.toSuperlayer().inverted();
    if (mGeometryFlipped)
        toOwn = toOwn * flipWithin(mModel.bounds);
    const Point own = Point::fromQPointF(toOwn.map(pointInSuperlayer.toQPointF()));
    const bool inside = containsPoint(own);
    if (mMasksToBounds && !inside)
        return nullptr;
    if (const std::optional<Path>& mask = maskPath(); mask && !mask->contains(own))
        return nullptr;
    const std::vector<Layer*> ordered = sublayersInDrawingOrder();
    for (auto it = ordered.rbegin(); it != ordered.rend(); ++it) {
        if (auto hit = (*it)->hitTest(own))
            return hit;
    }
    return inside ? weak_from_this().lock() : nullptr;
}

// ---- Contents ----

void Layer::setContents(const QImage& image)
{
    mContents = image;
    mContentsDisplayed = false;
    if (mExtras) {
        mExtras->convertedContents = QImage();
        mExtras->rendition = Rendition();
    }
    markDirty(DirtyContents);
}

void Layer::setContentsScale(double scale)
{
    const double value = std::isfinite(scale) && scale > 0 ? scale : 1.0;
    if (value == mContentsScale)
        return;
    mContentsScale = value;
    markDirty(DirtyContents);
}

void Layer::setNeedsDisplay()
{
    mNeedsDisplay = true;
    markDirty(DirtyContents);
}

void Layer::setNeedsDisplayOnBoundsChange(bool needs)
{
    mNeedsDisplayOnBoundsChange = needs;
}

void Layer::displayIfNeeded()
{
    if (mNeedsDisplay)
        display();
}

void Layer::setDrawsDirectly(bool direct)
{
    if (direct == mDrawsDirectly)
        return;
    mDrawsDirectly = direct;
    if (direct && !mContents.isNull())
        setContents(QImage());
    setNeedsDisplay();
}

void Layer::display()
{
    mNeedsDisplay = false;
    if (mDrawsDirectly)
        return;
    const FrameTrace::Scope tracing(FrameTrace::Phase::Drawing, *this);
    if (auto delegate = mDelegate.lock(); delegate && delegate->displayLayer(*this))
        return;
    QImage image = takeDrawingImage();
    if (!image.isNull())
        drawIntoImage(image);
    takeDrawnImage(image);
}

void Layer::drawIntoImage(QImage& image)
{
    const Rect b = mModel.bounds.standardized();
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                           QPainter::TextAntialiasing);
    const double sx = image.width() / b.size.width;
    const double sy = image.height() / b.size.height;
    // The layer's own space onto the image, whose top row is the layer's visual top: the
    // minimum y of a y-down space, the maximum y of a y-up one.
    const bool flipped = contentsAreFlipped();
    painter.setWorldTransform(flipped ? QTransform(sx, 0, 0, sy, -b.origin.x * sx, -b.origin.y * sy)
                                      : QTransform(sx, 0, 0, -sy, -b.origin.x * sx, b.maxY() * sy));
    GraphicsContext context(&painter, flipped);
    GraphicsContext* previous = GraphicsContext::current();
    GraphicsContext::setCurrent(&context);
    drawInContext(context);
    GraphicsContext::setCurrent(previous);
}

void Layer::takeDrawnImage(const QImage& image)
{
    setContents(image);
    mContentsDisplayed = !image.isNull();
}

int Layer::displayDirtyLayersConcurrently()
{
    if (!mExtras)
        return 0;
    std::vector<std::shared_ptr<Layer>> layers;
    std::unordered_set<const Layer*> listed; // a layer may be listed twice
    for (const auto& entry : mExtras->dirtyList) {
        std::shared_ptr<Layer> layer = entry.lock();
        if (layer && layer->mDirty != 0 && layer->mNeedsDisplay && layer->mDrawsAsynchronously &&
            !layer->mDrawsDirectly && layer->rootLayer() == this && listed.insert(layer.get()).second)
            layers.push_back(std::move(layer));
    }
    // One alone is displayed in the display pass as any other.
    if (layers.size() < 2)
        return 0;
    // A delegate that displays its layer does it here, on the main thread, as display() would.
    std::erase_if(layers, [](const std::shared_ptr<Layer>& layer) {
        layer->mNeedsDisplay = false;
        const auto delegate = layer->mDelegate.lock();
        return delegate && delegate->displayLayer(*layer);
    });
    if (layers.empty())
        return 0;
    std::vector<QImage> images;
    images.reserve(layers.size());
    for (const auto& layer : layers)
        images.push_back(layer->takeDrawingImage());
    {
        const FrameTrace::Scope tracing(FrameTrace::Phase::Drawing,
                                        layers.front()->className() + QStringLiteral(" (concurrently)"));
        const auto draw = [&](std::size_t i) {
            if (!images[i].isNull())
                layers[i]->drawIntoImage(images[i]);
        };
        // Once the application is on its way out, helpers draw no more: the main thread does.
        const BackgroundDrawing::Job job;
        if (job.admitted()) {
            DispatchApply::perform(layers.size(), draw);
        } else {
            for (std::size_t i = 0; i < layers.size(); ++i)
                draw(i);
        }
    }
    for (std::size_t i = 0; i < layers.size(); ++i)
        layers[i]->takeDrawnImage(images[i]);
    return int(layers.size());
}

QSize Layer::drawingPixelSize() const
{
    const Rect b = mModel.bounds.standardized();
    const double pixelsWide = std::ceil(b.size.width * mContentsScale - 1e-6);
    const double pixelsHigh = std::ceil(b.size.height * mContentsScale - 1e-6);
    if (!(pixelsWide >= 1) || !(pixelsHigh >= 1) || pixelsWide > kMaxContentsSide ||
        pixelsHigh > kMaxContentsSide)
        return {};
    return QSize(int(pixelsWide), int(pixelsHigh));
}

QImage Layer::takeDrawingImage()
{
    const QSize size = drawingPixelSize();
    if (size.isEmpty())
        return {};
    // Drawn straight in the compositing format: nothing to convert afterwards. The last drawn
    // image, when of the same size and held by nothing else, is cleared and drawn over: no new
    // memory to take and fault in at every redraw. Drawing into it gives it a new cache key.
    QImage image;
    if (mContentsDisplayed && mContents.size() == size) {
        if (mExtras) {
            mExtras->convertedContents = QImage();
            mExtras->rendition = Rendition();
        }
        if (mContents.isDetached())
            image = std::exchange(mContents, QImage());
    }
    if (image.isNull())
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull())
        image.fill(Qt::transparent);
    return image;
}

void Layer::prepareContents()
{
    // Contents it holds, drawn or given, are left alone.
    if (mDrawsDirectly || !mContents.isNull())
        return;
    const QImage image = takeDrawingImage();
    if (image.isNull())
        return;
    // Cleared, it shows nothing; the display that follows draws over it in place.
    setContents(image);
    mContentsDisplayed = true;
}

void Layer::drawInContext(GraphicsContext& context)
{
    if (auto delegate = mDelegate.lock())
        delegate->drawLayer(*this, context);
}

void Layer::renderInContext(GraphicsContext& context)
{
    Compositor::renderInContext(*this, context);
}

const QImage& Layer::compositingContents(bool converted)
{
    if (!converted || mContents.isNull() || mContents.format() == QImage::Format_ARGB32_Premultiplied)
        return mContents;
    Extras& e = extras();
    if (e.convertedContents.isNull())
        e.convertedContents = mContents.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return e.convertedContents;
}

// ---- Dirty state and frames ----

void Layer::markDirty(DirtyFlags flags)
{
    if (mDirty != 0) {
        mDirty |= flags;
        return;
    }
    mDirty = flags;
    Layer* root = rootLayer();
    if (auto self = weak_from_this(); !self.expired())
        root->extras().dirtyList.push_back(std::move(self));
    requestFrame();
}

void Layer::relinkDirtySubtree()
{
    Layer* root = rootLayer();
    bool any = false;
    std::vector<Layer*> pending{this};
    while (!pending.empty()) {
        Layer* layer = pending.back();
        pending.pop_back();
        if (layer->mDirty != 0) {
            if (auto weak = layer->weak_from_this(); !weak.expired()) {
                root->extras().dirtyList.push_back(std::move(weak));
                any = true;
            }
        }
        for (const auto& sublayer : layer->mSublayers)
            pending.push_back(sublayer.get());
    }
    if (any)
        requestFrame();
}

int Layer::consumeDirtyLayers(const std::function<void(Layer&, DirtyFlags)>& visit)
{
    mFrameRequested = false;
    if (!mExtras || mExtras->dirtyList.empty())
        return 0;
    std::vector<std::weak_ptr<Layer>> list;
    list.swap(mExtras->dirtyList);
    int count = 0;
    for (const auto& entry : list) {
        const std::shared_ptr<Layer> layer = entry.lock();
        // Entries of layers that moved to another tree, or were consumed already, are stale.
        if (!layer || layer->mDirty == 0 || layer->rootLayer() != this)
            continue;
        // The flags stay set while the visitor runs, so that what it changes on this layer
        // (its redrawn contents) belongs to this frame.
        if (visit)
            visit(*layer, layer->mDirty);
        layer->mDirty = 0;
        ++count;
    }
    return count;
}

void Layer::setFrameRequestHandler(std::function<void()> handler)
{
    if (!handler && !mExtras)
        return;
    extras().frameRequest = std::move(handler);
    mFrameRequested = false;
}

void Layer::requestFrame()
{
    Layer* root = rootLayer();
    if (root->mFrameRequested || !root->mExtras || !root->mExtras->frameRequest)
        return;
    root->mFrameRequested = true;
    // A copy: the handler may replace itself.
    const std::function<void()> handler = root->mExtras->frameRequest;
    handler();
}

QString Layer::dirtyToString(DirtyFlags flags)
{
    static const struct
    {
        DirtyFlags flag;
        const char* name;
    } names[] = {
        {DirtyBounds, "Bounds"},
        {DirtyPosition, "Position"},
        {DirtyAnchorPoint, "AnchorPoint"},
        {DirtyTransform, "Transform"},
        {DirtyOpacity, "Opacity"},
        {DirtyHidden, "Hidden"},
        {DirtyGeometryFlipped, "GeometryFlipped"},
        {DirtyBackground, "Background"},
        {DirtyBorder, "Border"},
        {DirtyCornerRadius, "CornerRadius"},
        {DirtyMasksToBounds, "MasksToBounds"},
        {DirtyContents, "Contents"},
        {DirtySublayers, "Sublayers"},
        {DirtyAnimations, "Animations"},
        {DirtyZPosition, "ZPosition"},
        {DirtyMaskPath, "MaskPath"},
    };
    QStringList parts;
    for (const auto& entry : names) {
        if (flags & entry.flag)
            parts.append(QLatin1String(entry.name));
    }
    return parts.isEmpty() ? QStringLiteral("None") : parts.join(QLatin1Char('|'));
}

// ---- Dumps ----

QString Layer::describe() const
{
    QString line = className();
    if (mExtras && !mExtras->name.isEmpty())
        line += QStringLiteral(" \"") + mExtras->name + QLatin1Char('"');
    line += QStringLiteral(" bounds=") + toString(mModel.bounds) + QStringLiteral(" position=") +
            toString(mModel.position);
    if (!(mModel.anchorPoint == Point(0.5, 0.5)))
        line += QStringLiteral(" anchor=") + toString(mModel.anchorPoint);
    if (!mModel.transform.isIdentity())
        line += QStringLiteral(" transform=") + AnimationValue(mModel.transform).toString();
    if (mModel.opacity != 1)
        line += QStringLiteral(" opacity=") + dumpNumber(mModel.opacity);
    if (mModel.backgroundColor.alphaComponent() > 0 || mModel.backgroundColor.isPattern())
        line += QStringLiteral(" background=") + AnimationValue(mModel.backgroundColor).toString();
    if (mModel.borderWidth != 0) {
        line += QStringLiteral(" border=") + dumpNumber(mModel.borderWidth) + QLatin1Char(' ') +
                AnimationValue(mModel.borderColor).toString();
    }
    if (mModel.cornerRadius != 0)
        line += QStringLiteral(" cornerRadius=") + dumpNumber(mModel.cornerRadius);
    if (mHidden)
        line += QStringLiteral(" hidden");
    if (mGeometryFlipped)
        line += QStringLiteral(" flipped");
    if (mMasksToBounds)
        line += QStringLiteral(" masksToBounds");
    if (mZPosition != 0)
        line += QStringLiteral(" zPosition=") + dumpNumber(mZPosition);
    if (const std::optional<Path>& mask = maskPath())
        line += QStringLiteral(" maskPath=") + toString(mask->boundingBox());
    if (!mContents.isNull())
        line += QStringLiteral(" contents=%1x%2").arg(mContents.width()).arg(mContents.height());
    if (mContentsScale != 1)
        line += QStringLiteral(" contentsScale=") + dumpNumber(mContentsScale);
    if (mNeedsDisplay)
        line += QStringLiteral(" needsDisplay");
    if (hasAnimations()) {
        QStringList keys;
        for (const AnimationRecord& record : mExtras->animations)
            keys.append(record.key.isEmpty() ? record.animation->describe() : record.key);
        line += QStringLiteral(" animations=[") + keys.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    return line;
}

QString Layer::dumpTree() const
{
    QString out;
    std::vector<std::pair<const Layer*, int>> pending{{this, 0}};
    while (!pending.empty()) {
        const auto [layer, depth] = pending.back();
        pending.pop_back();
        out += QString(depth * 2, QLatin1Char(' ')) + layer->describe() + QLatin1Char('\n');
        for (auto it = layer->mSublayers.rbegin(); it != layer->mSublayers.rend(); ++it)
            pending.emplace_back(it->get(), depth + 1);
    }
    return out;
}

} // namespace corvex
