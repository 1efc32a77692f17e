#pragma once

#include "model/Color.h"
#include "model/ColorThemeType.h"

#include <cstddef>

namespace corvex {

class Idea;

// The colour a planet of an idea is drawn with, wherever a planet is drawn. An idea without a
// colour of its own (documents written elsewhere may hold one) is drawn with the colour its
// parent's theme gives its place, as Idea::applyColorTheme would set it, the parent's drawn
// colour standing in for a parent without one; a root without a colour takes the first
// colour of the first standard theme. Nothing is stored: the idea keeps no colour.
// Any thread, as long as the ideas read do not change meanwhile.
class DrawnColor
{
public:
    DrawnColor() = delete;

    // The idea's own colour, or the one its place gives it (reads its ancestors as needed).
    static ColorPtr ofIdea(const Idea& idea);
    // The colour of a child at `index` without one of its own, its parent being drawn with
    // `parentColor` and colouring its children by `parentThemeType`.
    static ColorPtr forPlace(const ColorPtr& parentColor, ColorThemeType parentThemeType, std::size_t index);
    // For walks down a tree: the idea's own colour; else, with its parent known (drawn with
    // `parentColor`, the idea its `place`-th child), the colour of that place; else ofIdea.
    static ColorPtr ofChild(const Idea& idea, const Idea* parent, const ColorPtr& parentColor,
                            std::size_t place);
    // A root's own colour, or the first standard colour when it has none.
    static ColorPtr ofRoot(const ColorPtr& own);
};

} // namespace corvex
