#include "platform/ui/AnimationGroup.h"

#include <algorithm>

namespace corvex {

AnimationGroup::AnimationGroup(const AnimationGroup& other) : Animation(other)
{
    setAnimations(other.mAnimations);
}

std::shared_ptr<AnimationGroup> AnimationGroup::create(std::vector<std::shared_ptr<Animation>> animations)
{
    auto group = std::make_shared<AnimationGroup>();
    group->setAnimations(animations);
    return group;
}

std::shared_ptr<Animation> AnimationGroup::clone() const
{
    return std::make_shared<AnimationGroup>(*this);
}

void AnimationGroup::setAnimations(const std::vector<std::shared_ptr<Animation>>& animations)
{
    mAnimations.clear();
    for (const auto& animation : animations) {
        if (animation)
            mAnimations.push_back(animation->clone());
    }
}

void AnimationGroup::fillInDefaults(double duration, const TimingFunction& timing)
{
    Animation::fillInDefaults(duration, timing);
    for (const auto& child : mAnimations) {
        if (!(child->duration() > 0))
            child->setDuration(this->duration());
    }
}

void AnimationGroup::apply(LayerProperties& properties, double localTime) const
{
    const double length = duration();
    // The group's curve warps the time its children run on.
    const double time = length > 0 ? progressAt(localTime) * length : 0.0;
    for (const auto& child : mAnimations) {
        const double childTime = time - child->beginTime();
        if (childTime < 0)
            continue;
        if (child->duration() > 0) {
            child->apply(properties, std::min(childTime, child->duration()));
            continue;
        }
        // A child without its own duration lasts as long as the group: apply it with the
        // group's length as its duration.
        auto stretched = child->clone();
        stretched->setDuration(length);
        stretched->apply(properties, std::min(childTime, length));
    }
}

QStringList AnimationGroup::keyPaths() const
{
    QStringList paths;
    for (const auto& child : mAnimations) {
        for (const QString& path : child->keyPaths()) {
            if (!paths.contains(path))
                paths.append(path);
        }
    }
    return paths;
}

QString AnimationGroup::describe() const
{
    return QStringLiteral("group(%1)").arg(mAnimations.size());
}

} // namespace corvex
