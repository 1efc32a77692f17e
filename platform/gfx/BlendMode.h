#pragma once

#include <QPainter>

namespace corvex {

// Blend modes with fixed numbers (they are stored and passed around as numbers by callers).
enum class BlendMode : int
{
    Normal = 0,
    Multiply = 1,
    Screen = 2,
    Overlay = 3,
    Darken = 4,
    Lighten = 5,
    ColorDodge = 6,
    ColorBurn = 7,
    SoftLight = 8,
    HardLight = 9,
    Difference = 10,
    Exclusion = 11,
    Hue = 12,
    Saturation = 13,
    Color = 14,
    Luminosity = 15,
    Clear = 16,
    Copy = 17,
    SourceIn = 18,
    SourceOut = 19,
    SourceAtop = 20,
    DestinationOver = 21,
    DestinationIn = 22,
    DestinationOut = 23,
    DestinationAtop = 24,
    XOR = 25,
    PlusDarker = 26,
    PlusLighter = 27,
};

// The QPainter composition mode for a blend mode. The four hue/saturation/colour/luminosity
// modes and PlusDarker have no QPainter counterpart and draw as Normal (nothing in the system
// uses them).
QPainter::CompositionMode compositionModeFor(BlendMode mode);
// Numbers outside 0..27 read as Normal.
BlendMode blendModeFromNumber(int number);

} // namespace corvex
