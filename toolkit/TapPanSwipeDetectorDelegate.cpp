#include "toolkit/TapPanSwipeDetectorDelegate.h"

namespace corvex {

TapPanSwipeDetectorDelegate::~TapPanSwipeDetectorDelegate() = default;

} // namespace corvex
