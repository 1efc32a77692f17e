#pragma once

namespace corvex {

// Registers the compiled-in artwork (":/images/...") once; resources of a static library
// are not registered until asked.
void initArtworkResources();

} // namespace corvex
