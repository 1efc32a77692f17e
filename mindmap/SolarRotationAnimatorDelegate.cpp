#include "mindmap/SolarRotationAnimatorDelegate.h"

namespace corvex {

SolarRotationAnimatorDelegate::~SolarRotationAnimatorDelegate() = default;

} // namespace corvex
