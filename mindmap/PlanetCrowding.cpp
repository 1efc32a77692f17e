#include "mindmap/PlanetCrowding.h"

#include <algorithm>
#include <cmath>

namespace corvex {

std::vector<PlanetCrowding::Drawing> PlanetCrowding::drawings(const std::vector<Point>& centres,
                                                              double radius, double devicePixelsPerPoint)
{
    std::vector<Drawing> result(centres.size(), Drawing::Cached);
    const double apart = std::max(0.0, radius) * 0.25;
    const double covered = 0.5 / std::max(devicePixelsPerPoint, 1e-6);
    // From the top down, each planet against the nearest planet above it that is drawn: a run
    // of planets each a little beside the next still shows as the fan it makes.
    std::size_t shown = centres.size();
    for (std::size_t i = centres.size(); i-- > 0;) {
        if (shown < centres.size()) {
            const double distance =
                std::hypot(centres[shown].x - centres[i].x, centres[shown].y - centres[i].y);
            if (distance < covered) {
                result[i] = Drawing::Covered;
                continue;
            }
            if (distance < apart)
                result[i] = Drawing::OnDemand;
        }
        shown = i;
    }
    return result;
}

} // namespace corvex
