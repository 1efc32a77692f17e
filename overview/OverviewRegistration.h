#pragma once

namespace corvex {

// Plugs the overview graph into the mind-map screen's overview seam. Called once at start-up
// (tests call it themselves).
void registerOverviewGraph();

} // namespace corvex
