#include "toolkit/HorizontalSelectorButtonDelegate.h"

namespace corvex {

HorizontalSelectorButtonDelegate::~HorizontalSelectorButtonDelegate() = default;

} // namespace corvex
