#pragma once

#include "platform/ui/Animation.h"

#include <memory>
#include <vector>

namespace corvex {

// Animations that run together as one: each child's begin time counts from the group's start,
// a child without a duration lasts as long as the group, and the group's timing function
// warps the time its children see. A child whose time is over holds its last value until the
// group ends; nothing of a child reaches past the group's end. Only the group's completion
// and delegate are called.
class AnimationGroup : public Animation
{
public:
    AnimationGroup() = default;
    AnimationGroup(const AnimationGroup& other);
    AnimationGroup& operator=(const AnimationGroup&) = delete;
    static std::shared_ptr<AnimationGroup> create(std::vector<std::shared_ptr<Animation>> animations);

    std::shared_ptr<Animation> clone() const override;

    // The group keeps copies of the children.
    void setAnimations(const std::vector<std::shared_ptr<Animation>>& animations);
    const std::vector<std::shared_ptr<Animation>>& animations() const { return mAnimations; }

    // Also gives children without a duration the group's.
    void fillInDefaults(double duration, const TimingFunction& timing) override;
    void apply(LayerProperties& properties, double localTime) const override;
    QStringList keyPaths() const override;
    QString describe() const override;

private:
    std::vector<std::shared_ptr<Animation>> mAnimations;
};

} // namespace corvex
