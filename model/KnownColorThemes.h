#pragma once

#include "model/ColorTheme.h"

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

namespace corvex {

// The process-wide table of the system's colours: four standard themes ("greens", "blues",
// "reds", "violets") and four bright ones ("bright1" to "bright4"), seven colours each. Built
// once on first use (thread-safe) and never changed afterwards, so it is read without locks
// from any thread. It is never destroyed, so colours stay valid during static destruction.
class KnownColorThemes
{
public:
    static const KnownColorThemes& sharedInstance();

    KnownColorThemes(const KnownColorThemes&) = delete;
    KnownColorThemes& operator=(const KnownColorThemes&) = delete;

    const std::vector<std::shared_ptr<ColorTheme>>& standardThemes() const { return mStandardColorThemes; }
    const std::vector<std::shared_ptr<ColorTheme>>& brightThemes() const { return mBrightColorThemes; }
    // nullptr when no colour of the table has that name.
    ColorPtr colorByName(const QString& name) const;

private:
    KnownColorThemes();

    void addStandardTheme(const std::shared_ptr<ColorTheme>& theme);
    void addBrightTheme(const std::shared_ptr<ColorTheme>& theme);
    void enterColorsOf(const ColorTheme& theme);

    std::vector<std::shared_ptr<ColorTheme>> mStandardColorThemes;
    std::vector<std::shared_ptr<ColorTheme>> mBrightColorThemes;
    QHash<QString, ColorPtr> mColorByName;
};

} // namespace corvex
