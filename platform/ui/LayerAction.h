#pragma once

#include <memory>

namespace corvex {

class Animation;

// One answer of the action lookup for a property change: no answer (look further: the
// layer's table, then the default), the null action (no animation), or an animation to run.
// An animation without from/to/by values is a template: the layer fills in the presented
// value as from and the new model value as to.
class LayerAction
{
public:
    enum class Kind
    {
        NoAnswer,
        Null,
        Animate
    };

    LayerAction() = default; // no answer
    static LayerAction noAnswer() { return {}; }
    static LayerAction null() { return LayerAction(Kind::Null, nullptr); }
    // A null pointer gives the null action.
    static LayerAction animate(std::shared_ptr<Animation> animation);

    Kind kind() const { return mKind; }
    bool isNoAnswer() const { return mKind == Kind::NoAnswer; }
    bool isNull() const { return mKind == Kind::Null; }
    const std::shared_ptr<Animation>& animation() const { return mAnimation; }

private:
    LayerAction(Kind kind, std::shared_ptr<Animation> animation)
        : mKind(kind), mAnimation(std::move(animation))
    {}

    Kind mKind = Kind::NoAnswer;
    std::shared_ptr<Animation> mAnimation;
};

} // namespace corvex
