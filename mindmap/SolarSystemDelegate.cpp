#include "mindmap/SolarSystemDelegate.h"

namespace corvex {

SolarSystemDelegate::~SolarSystemDelegate() = default;

} // namespace corvex
