#include "model/DrawnColor.h"

#include "model/ColorTheme.h"
#include "model/Idea.h"

#include <algorithm>
#include <vector>

namespace corvex {

ColorPtr DrawnColor::ofRoot(const ColorPtr& own)
{
    if (own)
        return own;
    const auto& themes = ColorTheme::standardThemes();
    return themes.empty() || !themes.front() ? nullptr : themes.front()->colorForPlace(0);
}

ColorPtr DrawnColor::forPlace(const ColorPtr& parentColor, ColorThemeType parentThemeType, std::size_t index)
{
    const std::shared_ptr<ColorTheme> theme = ColorTheme::themeForColor(parentColor, parentThemeType);
    const ColorPtr placed = theme ? theme->colorForPlace(index) : nullptr;
    return placed ? placed : parentColor;
}

ColorPtr DrawnColor::ofChild(const Idea& idea, const Idea* parent, const ColorPtr& parentColor,
                             std::size_t place)
{
    if (ColorPtr own = idea.color())
        return own;
    return parent ? forPlace(parentColor, parent->colorThemeType(), place) : ofIdea(idea);
}

ColorPtr DrawnColor::ofIdea(const Idea& idea)
{
    if (ColorPtr own = idea.color())
        return own;
    // Up to the nearest idea with a colour (or the root), then down again place by place.
    std::vector<std::pair<IdeaPtr, std::size_t>> places; // a parent and its child's index
    const Idea* current = &idea;
    ColorPtr color;
    for (IdeaPtr parent = idea.parent(); parent; parent = parent->parent()) {
        const auto& siblings = parent->ideas();
        const auto at = std::find_if(siblings.begin(), siblings.end(),
                                     [current](const IdeaPtr& sibling) { return sibling.get() == current; });
        places.emplace_back(parent, std::size_t(std::max<std::ptrdiff_t>(0, at - siblings.begin())));
        color = parent->color();
        if (color)
            break;
        current = parent.get();
    }
    if (!color)
        color = ofRoot(nullptr);
    for (auto place = places.rbegin(); place != places.rend(); ++place)
        color = forPlace(color, place->first->colorThemeType(), place->second);
    return color;
}

} // namespace corvex
