#pragma once

#include <cstdint>

namespace corvex {

// How an idea's children are coloured from its theme. Documents store the number, and any
// value may come back from a file, so this is a plain integer with named values rather than
// a closed enumeration. ColorMatrix::stringFromColorThemeType() names them.
using ColorThemeType = std::uint64_t;

inline constexpr ColorThemeType ColorThemeTypeSameColor = 0;
inline constexpr ColorThemeType ColorThemeTypeLighterColor = 1;
inline constexpr ColorThemeType ColorThemeTypeVaryingColors = 2;

} // namespace corvex
