#include "toolkit/ScreenProtectorViewDelegate.h"

namespace corvex {

ScreenProtectorViewDelegate::~ScreenProtectorViewDelegate() = default;

} // namespace corvex
