#include "mindmap/SolarRotationGestureTarget.h"

namespace corvex {

SolarRotationGestureTarget::~SolarRotationGestureTarget() = default;

} // namespace corvex
