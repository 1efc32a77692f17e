#include "overview/GraphTileSource.h"

namespace corvex {

GraphTileSource::~GraphTileSource() = default;

} // namespace corvex
