#pragma once

#include "platform/ui/Animation.h"
#include "platform/ui/AnimationValue.h"

#include <QString>

namespace corvex {

// An animation of one key path between two values. Of from, to and by, the ones set decide
// the way, "current" being the value beneath the animation (the model value, with any
// earlier animation on the layer applied):
//   from and to: from -> to          from and by: from -> from + by
//   by and to: to - by -> to         from only: from -> current
//   to only: current -> to           by only: current -> current + by
//   none: current throughout (an action template: the layer fills in from and to).
class BasicAnimation : public Animation
{
public:
    BasicAnimation() = default;
    explicit BasicAnimation(const QString& keyPath) : mKeyPath(keyPath) {}
    static std::shared_ptr<BasicAnimation> create(const QString& keyPath);

    std::shared_ptr<Animation> clone() const override;

    const QString& keyPath() const { return mKeyPath; }
    void setKeyPath(const QString& keyPath) { mKeyPath = keyPath; }
    const AnimationValue& fromValue() const { return mFrom; }
    void setFromValue(const AnimationValue& value) { mFrom = value; }
    const AnimationValue& toValue() const { return mTo; }
    void setToValue(const AnimationValue& value) { mTo = value; }
    const AnimationValue& byValue() const { return mBy; }
    void setByValue(const AnimationValue& value) { mBy = value; }
    bool hasValues() const { return !mFrom.isNull() || !mTo.isNull() || !mBy.isNull(); }

    // The value at eased progress `progress` over the underlying value `current`.
    AnimationValue valueAt(double progress, const AnimationValue& current) const;

    void apply(LayerProperties& properties, double localTime) const override;
    QStringList keyPaths() const override;
    QString describe() const override;

private:
    QString mKeyPath;
    AnimationValue mFrom;
    AnimationValue mTo;
    AnimationValue mBy;
};

} // namespace corvex
