#include "overview/ScaledGraphViewDelegate.h"

namespace corvex {

ScaledGraphViewDelegate::~ScaledGraphViewDelegate() = default;

} // namespace corvex
