#include "platform/ui/BasicAnimation.h"

#include "platform/ui/LayerProperties.h"

namespace corvex {

std::shared_ptr<BasicAnimation> BasicAnimation::create(const QString& keyPath)
{
    return std::make_shared<BasicAnimation>(keyPath);
}

std::shared_ptr<Animation> BasicAnimation::clone() const
{
    return std::make_shared<BasicAnimation>(*this);
}

AnimationValue BasicAnimation::valueAt(double progress, const AnimationValue& current) const
{
    AnimationValue from;
    AnimationValue to;
    const bool hasFrom = !mFrom.isNull(), hasTo = !mTo.isNull(), hasBy = !mBy.isNull();
    if (hasFrom && hasTo) {
        from = mFrom;
        to = mTo;
    } else if (hasFrom && hasBy) {
        from = mFrom;
        to = mFrom.plus(mBy);
    } else if (hasBy && hasTo) {
        from = mTo.minus(mBy);
        to = mTo;
    } else if (hasFrom) {
        from = mFrom;
        to = current;
    } else if (hasTo) {
        from = current;
        to = mTo;
    } else if (hasBy) {
        from = current;
        to = current.plus(mBy);
    } else {
        return current;
    }
    return AnimationValue::interpolate(from, to, progress);
}

void BasicAnimation::apply(LayerProperties& properties, double localTime) const
{
    const AnimationValue current = properties.value(mKeyPath);
    if (current.isNull())
        return;
    properties.setValue(mKeyPath, valueAt(progressAt(localTime), current));
}

QStringList BasicAnimation::keyPaths() const
{
    return {mKeyPath};
}

QString BasicAnimation::describe() const
{
    return QStringLiteral("basic(") + mKeyPath + QLatin1Char(')');
}

} // namespace corvex
