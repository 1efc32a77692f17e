#include "platform/ui/AnimationDelegate.h"

namespace corvex {

AnimationDelegate::~AnimationDelegate() = default;

void AnimationDelegate::animationDidStart(const Animation&) {}

void AnimationDelegate::animationDidStop(const Animation&, bool) {}

} // namespace corvex
