#include "platform/ui/LayerAnimator.h"

#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"

namespace corvex {

void LayerAnimator::setValue(const QString& keyPath, const AnimationValue& value)
{
    if (!mLayer || !LayerProperties::isKeyPath(keyPath))
        return;
    const AnimationValue from = mLayer->presentationValue(keyPath);
    mLayer->setModelValue(keyPath, value, false);
    const AnimationValue to = mLayer->valueForKeyPath(keyPath);
    if (from == to)
        return;
    auto animation = BasicAnimation::create(keyPath);
    animation->setFromValue(from);
    animation->setToValue(to);
    const qsizetype dot = keyPath.indexOf(QLatin1Char('.'));
    mLayer->addAnimationRecord(animation, dot < 0 ? keyPath : keyPath.left(dot), true);
}

void LayerAnimator::setPosition(Point position)
{
    setValue(QStringLiteral("position"), position);
}

void LayerAnimator::setBounds(const Rect& bounds)
{
    setValue(QStringLiteral("bounds"), bounds);
}

void LayerAnimator::setFrame(const Rect& frame)
{
    if (!mLayer)
        return;
    const Rect f = frame.standardized();
    const Point anchor = mLayer->anchorPoint();
    setPosition(Point(f.origin.x + anchor.x * f.size.width, f.origin.y + anchor.y * f.size.height));
    setBounds(Rect(mLayer->bounds().origin, f.size));
}

void LayerAnimator::setAnchorPoint(Point anchorPoint)
{
    setValue(QStringLiteral("anchorPoint"), anchorPoint);
}

void LayerAnimator::setTransform(const Transform3D& transform)
{
    setValue(QStringLiteral("transform"), transform);
}

void LayerAnimator::setOpacity(float opacity)
{
    setValue(QStringLiteral("opacity"), double(opacity));
}

void LayerAnimator::setBackgroundColor(const PlatformColor& color)
{
    setValue(QStringLiteral("backgroundColor"), color);
}

void LayerAnimator::setBorderColor(const PlatformColor& color)
{
    setValue(QStringLiteral("borderColor"), color);
}

void LayerAnimator::setBorderWidth(double width)
{
    setValue(QStringLiteral("borderWidth"), width);
}

void LayerAnimator::setCornerRadius(double radius)
{
    setValue(QStringLiteral("cornerRadius"), radius);
}

} // namespace corvex
