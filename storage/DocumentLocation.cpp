#include "storage/DocumentLocation.h"

namespace corvex {

DocumentLocation::~DocumentLocation() = default;

} // namespace corvex
