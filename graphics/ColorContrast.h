#pragma once

#include "graphics/ColorSpaceConverter.h"

namespace corvex {

// The contrast of two opaque colours as the Web Content Accessibility Guidelines measure it
// (relative luminance of linearised sRGB; (lighter + 0.05) / (darker + 0.05), from 1 to 21),
// and the ink that reads best on a colour. Components 0..255; alpha is ignored. Stateless;
// any thread.
class ColorContrast
{
public:
    ColorContrast() = delete;

    // What the guidelines ask of normal-sized text.
    static constexpr double kLegibleText = 4.5;

    static double relativeLuminance(const RGBA& color);
    static double contrastRatio(const RGBA& a, const RGBA& b);
    // Opaque white or opaque black, whichever contrasts more with `background`; one of them
    // always reaches 4.58:1.
    static RGBA legibleInkOn(const RGBA& background);
};

} // namespace corvex
