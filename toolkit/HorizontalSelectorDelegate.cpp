#include "toolkit/HorizontalSelectorDelegate.h"

namespace corvex {

HorizontalSelectorDelegate::~HorizontalSelectorDelegate() = default;

} // namespace corvex
