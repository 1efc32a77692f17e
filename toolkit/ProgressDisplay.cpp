#include "toolkit/ProgressDisplay.h"

namespace corvex {

ProgressDisplay::~ProgressDisplay() = default;

} // namespace corvex
