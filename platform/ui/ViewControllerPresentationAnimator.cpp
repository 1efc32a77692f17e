#include "platform/ui/ViewControllerPresentationAnimator.h"

namespace corvex {

ViewControllerPresentationAnimator::~ViewControllerPresentationAnimator() = default;

} // namespace corvex
