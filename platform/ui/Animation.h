#pragma once

#include "platform/core/Completion.h"
#include "platform/ui/TimingFunction.h"

#include <QStringList>
#include <memory>
#include <optional>

namespace corvex {

class AnimationDelegate;
struct LayerProperties;

// An animation of layer properties (the base of BasicAnimation and AnimationGroup). A layer
// keeps its own copy of every animation added to it, so changing an animation after adding
// it changes nothing on the layer. The model values are never touched: an animation only
// changes what is presented while it runs.
class Animation
{
public:
    using Completion = corvex::Completion<bool>;

    virtual ~Animation();
    virtual std::shared_ptr<Animation> clone() const = 0;

    // Seconds; 0 (the default) takes the current transaction's duration when added.
    double duration() const { return mDuration; }
    void setDuration(double seconds);
    // None (the default) takes the transaction's timing function when one is set, else the
    // linear curve for explicit animations and the default curve for implicit ones.
    const std::optional<TimingFunction>& timingFunction() const { return mTimingFunction; }
    void setTimingFunction(std::optional<TimingFunction> function) { mTimingFunction = std::move(function); }
    // Media time at which it starts (MediaClock::now() + delay); 0 starts it when added. Inside
    // a group: seconds after the group's start.
    double beginTime() const { return mBeginTime; }
    void setBeginTime(double time) { mBeginTime = time; }
    // True (the default): taken off the layer when its time is over, so the model value shows
    // again. False: it stays, presenting its final value, until removed.
    bool isRemovedOnCompletion() const { return mRemovedOnCompletion; }
    void setRemovedOnCompletion(bool removed) { mRemovedOnCompletion = removed; }

    // Answered once, on its queue, when the animation stops (see AnimationDelegate). Copies
    // share it: the copy a layer runs answers it.
    bool hasCompletion() const { return mCompletion && *mCompletion; }
    void setCompletion(Completion completion);
    // Answers the completion (the layer, when its copy stops).
    void complete(bool finished);
    // Held weakly.
    std::shared_ptr<AnimationDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<AnimationDelegate>& delegate) { mDelegate = delegate; }

    // Called on the layer's own copy when it is added: an unset duration becomes
    // `duration`, an unset timing function `timing`.
    virtual void fillInDefaults(double duration, const TimingFunction& timing);

    // The eased progress `localTime` seconds after the start: 0 before it, 1 from the end of
    // the duration on; a duration of 0 or less is at its end at once (never NaN).
    double progressAt(double localTime) const;

    // Applies the animation's effect at `localTime` (seconds since its start, 0..duration) to
    // `properties`, which hold the values beneath it (the model with earlier animations).
    virtual void apply(LayerProperties& properties, double localTime) const = 0;
    // The key paths it changes.
    virtual QStringList keyPaths() const = 0;
    // A short description for tree dumps: "basic(position)", "group(2)".
    virtual QString describe() const = 0;

protected:
    Animation() = default;
    Animation(const Animation&) = default;
    Animation& operator=(const Animation&) = default;

private:
    double mDuration = 0;
    std::optional<TimingFunction> mTimingFunction;
    double mBeginTime = 0;
    bool mRemovedOnCompletion = true;
    std::shared_ptr<Completion> mCompletion;
    std::weak_ptr<AnimationDelegate> mDelegate;
};

} // namespace corvex
