#include "model/ColorTheme.h"

#include "model/KnownColorThemes.h"

#include <algorithm>

namespace corvex {

ColorTheme::ColorTheme(Private, QString name) : mName(std::move(name)) {}

std::shared_ptr<ColorTheme> ColorTheme::create(const QString& name)
{
    return std::make_shared<ColorTheme>(Private{}, name);
}

std::shared_ptr<ColorTheme> ColorTheme::unnamedThemeWithColor(const ColorPtr& color)
{
    auto theme = create();
    if (color)
        theme->addColor(color);
    return theme;
}

void ColorTheme::addColor(const ColorPtr& color)
{
    if (color)
        mColors.push_back(color);
}

ColorPtr ColorTheme::nextColorFromColor(const ColorPtr& color) const
{
    if (!color)
        return nullptr;
    const auto found = std::find(mColors.begin(), mColors.end(), color);
    if (found == mColors.end())
        return nullptr;
    const auto next = found + 1;
    return next == mColors.end() ? mColors.front() : *next;
}

ColorPtr ColorTheme::colorForPlace(std::size_t index) const
{
    return mColors.empty() ? nullptr : mColors[index % mColors.size()];
}

std::shared_ptr<ColorTheme> ColorTheme::themeForColor(const ColorPtr& color, ColorThemeType type)
{
    if (!color)
        return nullptr;
    if (type == ColorThemeTypeSameColor)
        return unnamedThemeWithColor(color);
    return color->theme();
}

const std::vector<std::shared_ptr<ColorTheme>>& ColorTheme::standardThemes()
{
    return KnownColorThemes::sharedInstance().standardThemes();
}

const std::vector<std::shared_ptr<ColorTheme>>& ColorTheme::brightColorThemes()
{
    return KnownColorThemes::sharedInstance().brightThemes();
}

ColorPtr ColorTheme::colorByName(const QString& name)
{
    return KnownColorThemes::sharedInstance().colorByName(name);
}

std::shared_ptr<ColorTheme> ColorTheme::themeByName(const QString& name)
{
    for (const auto& theme : standardThemes()) {
        if (theme->name() == name)
            return theme;
    }
    return nullptr;
}

} // namespace corvex
