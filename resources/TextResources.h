#pragma once

namespace corvex {

// Registers the compiled-in texts (":/texts/credits.html", ":/texts/legal.txt") once;
// resources of a static library are not registered until asked.
void initTextResources();

} // namespace corvex
