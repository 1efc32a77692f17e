#pragma once

#include "model/Color.h"
#include "model/ColorThemeType.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

// An ordered row of colours under a name. The shared table (KnownColorThemes) holds four
// standard and four bright themes; an unnamed theme can wrap a single colour made elsewhere.
// Themes of the table never change once built and may be read from any thread; a theme
// being filled belongs to the thread that fills it.
class ColorTheme : public std::enable_shared_from_this<ColorTheme>
{
public:
    // An empty theme; the name may be null.
    static std::shared_ptr<ColorTheme> create(const QString& name = QString());
    // An unnamed theme holding only `color` (none when it is nullptr).
    static std::shared_ptr<ColorTheme> unnamedThemeWithColor(const ColorPtr& color);

    ColorTheme(const ColorTheme&) = delete;
    ColorTheme& operator=(const ColorTheme&) = delete;

    void addColor(const ColorPtr& color);
    const std::vector<ColorPtr>& colors() const { return mColors; }
    const QString& name() const { return mName; }
    bool standard() const { return mStandard; }
    void setStandard(bool standard) { mStandard = standard; }

    // The colour after `color` (compared by identity), wrapping from the last to the first;
    // nullptr when the colour is not in the theme.
    ColorPtr nextColorFromColor(const ColorPtr& color) const;
    // The colour the theme gives the child at `index`: colour index modulo the colour count;
    // nullptr for a theme without colours.
    ColorPtr colorForPlace(std::size_t index) const;

    // The theme an idea of that colour and theme type gives its children: none without a
    // colour; for type 0 an unnamed theme of the colour alone; otherwise the colour's own.
    static std::shared_ptr<ColorTheme> themeForColor(const ColorPtr& color, ColorThemeType type);

    // The shared table's standard and bright themes.
    static const std::vector<std::shared_ptr<ColorTheme>>& standardThemes();
    static const std::vector<std::shared_ptr<ColorTheme>>& brightColorThemes();
    // The table's colour of that name; nullptr when there is none.
    static ColorPtr colorByName(const QString& name);
    // The standard theme of that name; bright themes are not searched.
    static std::shared_ptr<ColorTheme> themeByName(const QString& name);

private:
    struct Private
    {};

public:
    // Use create(); public only for std::make_shared.
    ColorTheme(Private, QString name);

private:
    QString mName;
    std::vector<ColorPtr> mColors;
    bool mStandard = false;
};

} // namespace corvex
